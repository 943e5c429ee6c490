// image-cmp A B: exit 0 when two (sparse) image files are equal byte for
// byte, 1 with the first differing offset, 2 on an error. Only the data
// extents of either file are read, so comparing gigabyte images that hold a
// few megabytes of data takes no time even in an emulated guest.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using Extents = std::vector<std::pair<off_t, off_t>>; // [begin, end)

Extents dataExtents(int fd, off_t size) {
    Extents out;
    for (off_t at = 0; at < size;) {
        const off_t begin = ::lseek(fd, at, SEEK_DATA);
        if (begin < 0) {
            break; // no data past `at`
        }
        off_t end = ::lseek(fd, begin, SEEK_HOLE);
        end = end < 0 ? size : end;
        out.emplace_back(begin, end);
        at = end;
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: image-cmp A B\n");
        return 2;
    }
    int fd[2];
    struct stat st[2];
    for (int i = 0; i < 2; ++i) {
        fd[i] = ::open(argv[i + 1], O_RDONLY | O_CLOEXEC);
        if (fd[i] < 0 || ::fstat(fd[i], &st[i]) != 0) {
            std::fprintf(stderr, "image-cmp: %s: %s\n", argv[i + 1], std::strerror(errno));
            return 2;
        }
    }
    if (st[0].st_size != st[1].st_size) {
        std::printf("%s and %s differ in size: %lld, %lld\n", argv[1], argv[2],
                    static_cast<long long>(st[0].st_size), static_cast<long long>(st[1].st_size));
        return 1;
    }
    Extents all = dataExtents(fd[0], st[0].st_size);
    const Extents other = dataExtents(fd[1], st[1].st_size);
    all.insert(all.end(), other.begin(), other.end());
    std::sort(all.begin(), all.end());
    std::vector<char> a(1 << 20), b(1 << 20);
    off_t done = 0; // everything below is compared
    for (auto [begin, end] : all) {
        for (off_t at = std::max(begin, done); at < end;) {
            const size_t n = static_cast<size_t>(std::min<off_t>(end - at, off_t{1} << 20));
            if (::pread(fd[0], a.data(), n, at) != static_cast<ssize_t>(n) ||
                ::pread(fd[1], b.data(), n, at) != static_cast<ssize_t>(n)) {
                std::fprintf(stderr, "image-cmp: read error at %lld\n", static_cast<long long>(at));
                return 2;
            }
            if (std::memcmp(a.data(), b.data(), n) != 0) {
                size_t i = 0;
                while (a[i] == b[i]) {
                    ++i;
                }
                std::printf("%s and %s differ at byte %lld\n", argv[1], argv[2],
                            static_cast<long long>(at + static_cast<off_t>(i)));
                return 1;
            }
            at += static_cast<off_t>(n);
        }
        done = std::max(done, end);
    }
    return 0;
}
