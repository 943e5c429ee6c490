#include "config/bounded_file.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ufd {

std::optional<QByteArray> ReadBoundedFile(const std::filesystem::path& file, qint64 cap) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    struct stat info {};
    std::optional<QByteArray> bytes;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= cap) {
        QByteArray data(static_cast<qsizetype>(info.st_size), '\0');
        qsizetype done = 0;
        for (;;) {
            const ssize_t n =
                ::read(fd, data.data() + done, static_cast<size_t>(data.size() - done));
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                if (n == 0) {
                    data.resize(done); // shrank while read: what is there
                    bytes = std::move(data);
                }
                break;
            }
            done += n;
            if (done == data.size()) {
                bytes = std::move(data); // grown since: only what it had
                break;
            }
        }
    }
    ::close(fd);
    return bytes;
}

} // namespace ufd
