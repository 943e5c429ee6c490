// The calls into the kernel that tests replace: the SG_IO ioctl itself, the
// exclusive open that claims a block device, the partition table re-read (or
// udev asked to do it), the USB reset, and the clock and pause of the waits
// for a drive becoming ready or coming back.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include <scsi/sg.h>

namespace quorlink::sg {

class SgSystem {
public:
    virtual ~SgSystem() = default;
    // ioctl(fd, SG_IO, &hdr): 0, or the errno of a failed call. EINTR is
    // not retried here: the command may have run.
    virtual int sgIo(int fd, sg_io_hdr_t& hdr) = 0;
    // open(path, O_RDONLY | O_EXCL): a descriptor that keeps the device
    // claimed until closeExclusive, or -errno (-EBUSY: mounted or claimed by
    // another program).
    virtual int openExclusive(const std::string& path) = 0;
    virtual void closeExclusive(int fd) = 0;
    // ioctl(fd, BLKRRPART) on a descriptor of openExclusive: 0 or errno.
    virtual int rereadPartitions(int fd) = 0;
    // open(path, O_RDWR) and close: 0 or errno. BLKRRPART needs CAP_SYS_ADMIN,
    // which a station in group ufdstation lacks; udev watches whole disks and
    // re-reads the table itself when a descriptor opened for writing closes.
    virtual int announceChange(const std::string& path) = 0;
    // ioctl(USBDEVFS_RESET) on the usbfs node /dev/bus/usb/BBB/DDD, opened
    // for writing: 0 or errno. Returns once the kernel has reset the port and
    // usb-storage has taken the device back.
    virtual int resetUsb(const std::string& node) = 0;
    virtual std::chrono::steady_clock::time_point now() = 0;
    virtual void pause(std::chrono::milliseconds duration) = 0;
};

std::shared_ptr<SgSystem> realSgSystem();

} // namespace quorlink::sg
