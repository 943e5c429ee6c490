// What ufd-drives prints: every SCSI generic device as the real-drive
// backend sees it, and udev rules for the drives quorlink.conf allows.
#pragma once

#include "quorlink_conf.h"
#include "sysfs_device.h"

#include <optional>
#include <string>
#include <vector>

namespace ufd::drives {

// One row of the listing; "-" where there is nothing to show.
struct DriveRow {
    std::string sg, index, block, port, usb, serial, blockSize, state;
    std::string verdict; // "yes", or "no: " and why not
};

std::vector<DriveRow> driveRows(const quorlink::sg::Roots& roots,
                                const quorlink::QuorlinkConf& conf);

// A header and one line per row, columns aligned, the verdict last.
std::string table(const std::vector<DriveRow>& rows);

// Group access to the allowed drives' sg and whole-disk nodes, and no
// automounting of any of their block devices. nullopt: the list is empty.
std::optional<std::string> udevRules(const quorlink::QuorlinkConf& conf);

} // namespace ufd::drives
