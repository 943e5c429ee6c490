// image-cmp A B: exit 0 when two (sparse) image files are equal byte for
// byte, 1 with the first differing offset, 2 on an error. Holes that both
// files share are skipped, so comparing gigabyte images that hold a few
// megabytes of data takes no time even in an emulated guest.
#include "support/test_common.h"

#include <err.h>

int main(int argc, char** argv) {
    if (argc != 3) {
        errx(2, "usage: image-cmp A B");
    }
    int fd[2];
    struct stat st[2];
    for (int i = 0; i < 2; ++i) {
        fd[i] = ::open(argv[i + 1], O_RDONLY | O_CLOEXEC);
        if (fd[i] < 0 || ::fstat(fd[i], &st[i]) != 0) {
            err(2, "%s", argv[i + 1]);
        }
    }
    const off_t size = st[0].st_size;
    if (size != st[1].st_size) {
        std::printf("%s and %s differ in size: %ld, %ld\n", argv[1], argv[2], size, st[1].st_size);
        return 1;
    }
    const auto dataFrom = [size](int f, off_t at) {
        const off_t data = ::lseek(f, at, SEEK_DATA);
        return data < 0 ? size : data; // ENXIO: nothing but a hole past `at`
    };
    std::vector<char> a(1 << 20), b(1 << 20);
    for (off_t at = 0; at < size;) {
        // Both files are holes from `at` up to the first data in either.
        const off_t from = std::min(dataFrom(fd[0], at), dataFrom(fd[1], at));
        const auto n = static_cast<ssize_t>(std::min<off_t>(size - from, 1 << 20));
        if (::pread(fd[0], a.data(), n, from) != n || ::pread(fd[1], b.data(), n, from) != n) {
            errx(2, "read error at %ld", from);
        }
        if (const auto [x, y] = std::mismatch(a.begin(), a.begin() + n, b.begin());
            x != a.begin() + n) {
            std::printf("%s and %s differ at byte %ld\n", argv[1], argv[2], from + (x - a.begin()));
            return 1;
        }
        at = from + n;
    }
}
