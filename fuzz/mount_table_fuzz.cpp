// The mount-table reader on any bytes in place of /proc/self/mountinfo.
#include "memory_file.h"
#include "safety.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    quorlink::sg::readMounts(fuzz::MemoryFile(data, size));
    return 0;
}
