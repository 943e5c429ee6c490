// Which SCSI generic device each drive index 0..16 names. Only USB storage
// on the [Drives] allow-list takes an index: in USB port order, or in the
// port [Ports] names for it. Worked out afresh from sysfs at every open, as
// drives come and go.
#pragma once

#include "quorlink_conf.h"
#include "sysfs_device.h"

#include <string>
#include <vector>

namespace quorlink::sg {

inline constexpr int kDriveIndexes = 17; // 0..16

// Port paths by bus, then each port number, numerically:
// "1-2" < "1-2.3" < "1-10" < "2-1". Negative, zero or positive.
int comparePortPaths(const std::string& a, const std::string& b);

// USB storage whose VID:PID is on the list. An empty list allows nothing.
bool onAllowList(const QuorlinkConf& conf, const SgDeviceInfo& info);

struct MappedDevice {
    SgDeviceInfo info;
    int index = -1;       // drive index it takes; -1: none
    bool allowed = false; // onAllowList
};

// Every SCSI generic device sysfs knows, in the order of sgN.
std::vector<MappedDevice> mapDrives(const Roots& roots, const QuorlinkConf& conf);

} // namespace quorlink::sg
