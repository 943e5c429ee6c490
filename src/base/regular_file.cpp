#include "base/regular_file.h"

#include "base/unique_fd.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>

namespace ufd {

namespace {

RegularFileRead Failed(RegularFileRead::Result result, int error = 0) {
    RegularFileRead read;
    read.result = result;
    read.error = error;
    return read;
}

} // namespace

RegularFileRead ReadRegularFile(const std::filesystem::path& file, uintmax_t cap) {
    using Result = RegularFileRead::Result;
    const UniqueFd fd(::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        const int err = errno;
        return err == ENOENT  ? Failed(Result::Absent)
               : err == ENXIO ? Failed(Result::NotRegular) // a socket, a device without driver
                              : Failed(Result::Unreadable, err);
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return Failed(Result::NotRegular);
    }
    if (static_cast<uintmax_t>(info.st_size) > cap) {
        return Failed(Result::TooLarge);
    }
    RegularFileRead read;
    read.result = Result::Read;
    read.bytes.reserve(static_cast<size_t>(info.st_size));
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return Failed(Result::Unreadable, errno);
        }
        if (n == 0) {
            return read;
        }
        read.bytes.append(chunk, static_cast<size_t>(n));
        if (read.bytes.size() > cap) { // grown since it was opened
            return Failed(Result::TooLarge);
        }
    }
}

} // namespace ufd
