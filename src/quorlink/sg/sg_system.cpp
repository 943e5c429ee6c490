#include "sg_system.h"

#include "base/unique_fd.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

namespace quorlink::sg {
namespace {

// A descriptor, or -errno.
int openNode(const std::string& path, int flags) {
    int fd;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    return fd < 0 ? -errno : fd;
}

class KernelSgSystem final : public SgSystem {
public:
    int sgIo(int fd, sg_io_hdr_t& hdr) override {
        // A signal in the wait would end the ioctl with EINTR, or have the
        // kernel restart it (SA_RESTART) and so send the command twice.
        // Signals wait for the command instead; its timeout bounds that.
        sigset_t all, old;
        ::sigfillset(&all);
        ::pthread_sigmask(SIG_BLOCK, &all, &old);
        const int rc = ::ioctl(fd, SG_IO, &hdr);
        const int err = rc < 0 ? errno : 0;
        ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
        return err;
    }

    int openExclusive(const std::string& path) override {
        return openNode(path, O_RDONLY | O_EXCL);
    }

    void closeExclusive(int fd) override { ::close(fd); }

    int rereadPartitions(int fd) override { return ::ioctl(fd, BLKRRPART) < 0 ? errno : 0; }

    int announceChange(const std::string& path) override {
        // Opened for writing and closed: udev hears a change of the disk.
        const ufd::UniqueFd fd(openNode(path, O_RDWR)); // -errno holds nothing
        return fd ? 0 : -fd.get();
    }

    int resetUsb(const std::string& node) override {
        const int fd = openNode(node, O_WRONLY);
        if (fd < 0) {
            return -fd;
        }
        const ufd::UniqueFd owner(fd);
        return ::ioctl(fd, USBDEVFS_RESET, 0) < 0 ? errno : 0;
    }

    std::chrono::steady_clock::time_point now() override {
        return std::chrono::steady_clock::now();
    }

    void pause(std::chrono::milliseconds duration) override {
        std::this_thread::sleep_for(duration);
    }
};

} // namespace

std::shared_ptr<SgSystem> realSgSystem() {
    return std::make_shared<KernelSgSystem>();
}

} // namespace quorlink::sg
