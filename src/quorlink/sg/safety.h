// The executor's own guard: commands that change a drive go only to USB
// storage that nothing on this machine is using.
#pragma once

#include "command.h"
#include "quorlink_conf.h"
#include "sg_system.h"
#include "sysfs_device.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quorlink::sg {

// WRITE (and WRITE AND VERIFY) of any size: the sectors may sit in the
// drive's cache until a SYNCHRONIZE CACHE.
bool writesVolume(const Command& cmd);

// writesVolume, FORMAT UNIT, WRITE SAME, UNMAP ..., data-out commands and
// the vendor block: anything that may change what the drive holds.
bool changesDrive(const Command& cmd);

struct Mount {
    std::string devId;      // "8:17"
    std::string source;     // "/dev/sdb1"
    std::string mountPoint; // "/media/op/STICK"
};

// Parses /proc/self/mountinfo; nullopt when the file cannot be read.
std::optional<std::vector<Mount>> readMounts(const std::filesystem::path& mountInfo);

// The first of `nodes` that is mounted: its /dev path and where it is mounted.
std::optional<std::pair<std::string, std::string>> findMount(const std::vector<Mount>& mounts,
                                                             const std::vector<BlockNode>& nodes);

// nullopt: none of `nodes` is mounted (the mount table read afresh); else
// which is, and where.
std::optional<std::string> mountRefusal(const Roots& roots, const std::vector<BlockNode>& nodes);

// nullopt: the drive is a USB storage disk on the allow-list, with a block
// device of 512-byte blocks that nothing is stacked on or mounted from;
// otherwise why a command that changes it may not go.
std::optional<std::string> refusal(const Roots& roots, const QuorlinkConf& conf,
                                   const SgDeviceInfo& info);

// nullopt: sysfs still shows the drive the handle was opened on (same SCSI
// address, USB VID:PID, serial and port); else what changed.
std::optional<std::string> identityChange(const SgDeviceInfo& opened, const SgDeviceInfo& now);

// The drive's whole-disk block devices opened with O_EXCL and held until
// destroyed (the handle is released): while held, nothing can mount or
// claim them, so the guard's verdict cannot go stale before the write.
class DiskClaim {
public:
    explicit DiskClaim(std::shared_ptr<SgSystem> system) : system_(std::move(system)) {}
    ~DiskClaim();
    DiskClaim(const DiskClaim&) = delete;
    DiskClaim& operator=(const DiskClaim&) = delete;

    // Claims every whole disk not held yet; nullopt when all are held, else
    // why not (another program holds one, or there is no node to claim).
    std::optional<std::string> acquire(const Roots& roots, int sg);
    // Lets every disk go before the handle is dropped.
    void drop();
    // Disk name ("sdb") -> the claiming descriptor.
    const std::map<std::string, int>& held() const { return held_; }

private:
    std::shared_ptr<SgSystem> system_;
    std::map<std::string, int> held_; // disk name -> descriptor
};

} // namespace quorlink::sg
