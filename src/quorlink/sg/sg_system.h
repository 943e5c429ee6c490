// The calls into the kernel that tests replace: the SG_IO ioctl itself and
// the exclusive open that claims a block device.
#pragma once

#include <memory>
#include <string>

#include <scsi/sg.h>

namespace quorlink::sg {

class SgSystem {
public:
    virtual ~SgSystem() = default;
    // ioctl(fd, SG_IO, &hdr): 0, or the errno of a failed call.
    virtual int sgIo(int fd, sg_io_hdr_t& hdr) = 0;
    // open(path, O_RDONLY | O_EXCL): a descriptor that keeps the device
    // claimed until closeExclusive, or -errno (-EBUSY: mounted or claimed by
    // another program).
    virtual int openExclusive(const std::string& path) = 0;
    virtual void closeExclusive(int fd) = 0;
};

std::shared_ptr<SgSystem> realSgSystem();

} // namespace quorlink::sg
