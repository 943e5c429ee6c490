#include "base/whole_file.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <unistd.h>

namespace ufd {

int CommitWholeFile(UniqueFd fd, const std::string& tmp, const std::string& target,
                    const void* data, size_t size, bool durable) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    size_t done = 0;
    int error = 0;
    while (done < size) {
        const ssize_t n = ::write(fd.get(), bytes + done, size - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            error = n < 0 ? errno : ENOSPC;
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (error == 0 && durable && ::fsync(fd.get()) != 0) {
        error = errno;
    }
    if (fd.close() != 0 && error == 0) {
        error = errno;
    }
    if (error == 0 && std::rename(tmp.c_str(), target.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        ::unlink(tmp.c_str());
    }
    return error;
}

} // namespace ufd
