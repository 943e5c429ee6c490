// The executor's own guard: commands that change a drive go only to USB
// storage that nothing on this machine is using.
#pragma once

#include "command.h"
#include "sg_system.h"
#include "sysfs_device.h"

#include <optional>
#include <string>
#include <vector>

namespace quorlink::sg {

// WRITE of any size, FORMAT UNIT, WRITE SAME, UNMAP ..., data-out commands and
// the vendor block: anything that may change what the drive holds.
bool changesDrive(const Command& cmd);

struct Mount {
    std::string devId;      // "8:17"
    std::string source;     // "/dev/sdb1"
    std::string mountPoint; // "/media/op/STICK"
};

// Parses /proc/self/mountinfo; nullopt when the file cannot be read.
std::optional<std::vector<Mount>> readMounts(const std::filesystem::path& mountInfo);

// nullopt: the command may go to the drive; otherwise why it may not.
std::optional<std::string> refusal(const Roots& roots, int index, const SgDeviceInfo& info,
                                   SgSystem& system);

} // namespace quorlink::sg
