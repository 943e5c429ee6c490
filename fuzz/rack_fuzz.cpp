// The rack file reader on any bytes: a rack or a RackError, nothing else.
#include "memory_file.h"
#include "rack.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        quorlink::sim::loadRack(fuzz::MemoryFile(data, size));
    } catch (const quorlink::sim::RackError&) {
    }
    return 0;
}
