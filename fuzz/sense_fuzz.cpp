// The sense decoder on any bytes a drive could return.
#include "sense.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (const auto sense = quorlink::sg::decodeSense({data, size})) {
        quorlink::sg::describeSense(*sense);
    }
    return 0;
}
