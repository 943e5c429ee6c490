// The two calls into the kernel that tests replace: the SG_IO ioctl itself
// and the exclusive-open probe of a block device.
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
    // open(path, O_RDONLY | O_EXCL) and close again: 0 when nobody holds the
    // device, else the errno (EBUSY: mounted or claimed by another program).
    virtual int probeExclusive(const std::string& path) = 0;
};

std::shared_ptr<SgSystem> realSgSystem();

} // namespace quorlink::sg
