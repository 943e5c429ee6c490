#include "safety.h"

#include "drive_map.h"
#include "encoder.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <tuple>

namespace quorlink::sg {
namespace {

// mountinfo escapes blanks and backslashes as \ooo.
std::string unescape(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '3' &&
            s[i + 2] >= '0' && s[i + 2] <= '7' && s[i + 3] >= '0' && s[i + 3] <= '7') {
            out +=
                static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0'));
            i += 3;
        } else {
            out += s[i];
        }
    }
    return out;
}

} // namespace

bool writesVolume(const Command& cmd) {
    switch (cmd.cdb[0]) {
    case 0x0A: // WRITE(6)
    case 0x2A: // WRITE(10)
    case 0xAA: // WRITE(12)
    case 0x8A: // WRITE(16)
    case 0x2E: // WRITE AND VERIFY(10)
    case 0xAE: // WRITE AND VERIFY(12)
    case 0x8E: // WRITE AND VERIFY(16)
        return true;
    default:
        return false;
    }
}

bool changesDrive(const Command& cmd) {
    if (writesVolume(cmd) || cmd.direction == Direction::Out || cmd.cdb[0] == kVendorOpcode ||
        cmd.commandClass == CommandClass::Vendor) {
        return true;
    }
    switch (cmd.cdb[0]) {
    case 0x04: // FORMAT UNIT
    case 0x3B: // WRITE BUFFER
    case 0x41: // WRITE SAME(10)
    case 0x42: // UNMAP
    case 0x93: // WRITE SAME(16)
        return true;
    default:
        return false;
    }
}

std::optional<std::vector<Mount>> readMounts(const std::filesystem::path& mountInfo) {
    std::ifstream in(mountInfo);
    if (!in) {
        return std::nullopt;
    }
    std::vector<Mount> mounts;
    std::string line;
    while (std::getline(in, line)) {
        // id parent major:minor root mount-point options [optional...] - type source super
        std::istringstream words(line);
        std::vector<std::string> w;
        for (std::string word; words >> word;) {
            w.push_back(word);
        }
        if (w.size() < 5) {
            continue; // a line we cannot read names no device
        }
        Mount m;
        m.devId = w[2];
        m.mountPoint = unescape(w[4]);
        for (size_t i = 5; i + 2 < w.size(); ++i) {
            if (w[i] == "-") {
                m.source = unescape(w[i + 2]);
                break;
            }
        }
        mounts.push_back(std::move(m));
    }
    return mounts;
}

std::optional<std::string> refusal(const Roots& roots, const QuorlinkConf& conf,
                                   const SgDeviceInfo& info) {
    const std::string sgName = "/dev/sg" + std::to_string(info.sg);
    if (!info.usbStorage) {
        return "refused: " + sgName + " is not USB storage";
    }
    if (!onAllowList(conf, info)) {
        const std::string id = info.usbId ? usbIdText(*info.usbId) : "without VID:PID";
        const std::string file = conf.file.empty() ? "quorlink.conf" : conf.file.string();
        return "refused: USB " + id + " is not in [Drives] Allow= of " + file;
    }
    if (info.peripheralType > 0) {
        return "refused: " + sgName + " is not a disk (peripheral type " +
               std::to_string(info.peripheralType) + ")";
    }
    if (info.blockName.empty()) {
        return "refused: " + sgName + " has no block device yet";
    }
    const std::string disk = "/dev/" + info.blockName;
    if (info.logicalBlockSize == 0) {
        return "refused: cannot read the logical block size of " + disk;
    }
    if (info.logicalBlockSize != kSectorSize) {
        // The station counts in 512-byte sectors: its writes would land elsewhere.
        return "refused: " + disk + " has " + std::to_string(info.logicalBlockSize) +
               "-byte logical blocks, not 512";
    }
    if (!info.holders.empty()) {
        return "refused: " + disk + " is held by " + info.holders.front();
    }
    return mountRefusal(roots, blockNodes(roots, info.sg));
}

std::optional<std::string> mountRefusal(const Roots& roots, const std::vector<BlockNode>& nodes) {
    const auto mounts = readMounts(roots.mountInfo);
    if (!mounts) {
        return "refused: cannot read the mount table " + roots.mountInfo.string();
    }
    if (const auto mounted = findMount(*mounts, nodes)) {
        return "refused: " + mounted->first + " is mounted on " + mounted->second;
    }
    return std::nullopt;
}

std::optional<std::pair<std::string, std::string>> findMount(const std::vector<Mount>& mounts,
                                                             const std::vector<BlockNode>& nodes) {
    for (const BlockNode& node : nodes) {
        const std::string devPath = "/dev/" + node.name;
        for (const Mount& m : mounts) {
            if ((!node.devId.empty() && m.devId == node.devId) || m.source == devPath) {
                return std::pair(devPath, m.mountPoint);
            }
        }
    }
    return std::nullopt;
}

std::optional<std::string> identityChange(const SgDeviceInfo& opened, const SgDeviceInfo& now) {
    const std::string head =
        "refused: /dev/sg" + std::to_string(opened.sg) + " changed since it was opened (";
    if (!now.known) {
        return head + "gone from sysfs)";
    }
    const auto id = [](const SgDeviceInfo& i) { return i.usbId ? usbIdText(*i.usbId) : "-"; };
    const std::tuple<const char*, std::string, std::string> fields[] = {
        {"SCSI address", opened.scsiAddress, now.scsiAddress},
        {"USB", id(opened), id(now)},
        {"serial", opened.serial, now.serial},
        {"port", opened.portPath, now.portPath},
    };
    for (const auto& [name, was, is] : fields) {
        if (was != is) {
            return head + name + " " + (was.empty() ? "-" : was) + " -> " +
                   (is.empty() ? "-" : is) + ")";
        }
    }
    return std::nullopt;
}

DiskClaim::~DiskClaim() {
    drop();
}

void DiskClaim::drop() {
    for (const auto& [name, fd] : held_) {
        system_->closeExclusive(fd);
    }
    held_.clear();
}

std::optional<std::string> DiskClaim::acquire(const Roots& roots, int sg) {
    // Whole disks only: claiming a disk exclusively fails while any of its
    // partitions is held, and a partition node may not exist yet.
    for (const BlockNode& node : blockNodes(roots, sg)) {
        if (node.partition || held_.contains(node.name)) {
            continue;
        }
        const int fd = system_->openExclusive((roots.dev / node.name).string());
        if (fd >= 0) {
            held_[node.name] = fd;
            continue;
        }
        if (fd == -EBUSY) {
            return "refused: /dev/" + node.name + " is in use by another program";
        }
        return "refused: cannot claim /dev/" + node.name + ": " + std::strerror(-fd);
    }
    return std::nullopt;
}

} // namespace quorlink::sg
