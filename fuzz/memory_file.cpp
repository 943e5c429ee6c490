#include "memory_file.h"

#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace fuzz {

std::filesystem::path MemoryFile(const uint8_t* data, size_t size) {
    static const int fd = ::memfd_create("fuzz-input", MFD_CLOEXEC);
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) {
        __builtin_trap();
    }
    return "/proc/self/fd/" + std::to_string(fd);
}

} // namespace fuzz
