#include "sg_system.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace quorlink::sg {
namespace {

class KernelSgSystem final : public SgSystem {
public:
    int sgIo(int fd, sg_io_hdr_t& hdr) override {
        int rc;
        do {
            rc = ::ioctl(fd, SG_IO, &hdr);
        } while (rc < 0 && errno == EINTR);
        return rc < 0 ? errno : 0;
    }

    int openExclusive(const std::string& path) override {
        int fd;
        do {
            fd = ::open(path.c_str(), O_RDONLY | O_EXCL | O_CLOEXEC | O_NONBLOCK);
        } while (fd < 0 && errno == EINTR);
        return fd < 0 ? -errno : fd;
    }

    void closeExclusive(int fd) override { ::close(fd); }
};

} // namespace

std::shared_ptr<SgSystem> realSgSystem() {
    return std::make_shared<KernelSgSystem>();
}

} // namespace quorlink::sg
