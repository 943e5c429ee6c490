#include "drive_map.h"

#include <algorithm>
#include <charconv>
#include <optional>

namespace quorlink::sg {
namespace {

// "1-2.3" -> {1, 2, 3}; nullopt for anything else.
std::optional<std::vector<unsigned>> portNumbers(const std::string& path) {
    std::vector<unsigned> numbers;
    const char* p = path.data();
    const char* end = p + path.size();
    for (bool first = true;; first = false) {
        unsigned n = 0;
        const auto [next, ec] = std::from_chars(p, end, n);
        if (ec != std::errc()) {
            return std::nullopt;
        }
        numbers.push_back(n);
        if (next == end) {
            return numbers;
        }
        if (*next != (first ? '-' : '.')) {
            return std::nullopt;
        }
        p = next + 1;
    }
}

// Partitions, CD-ROM LUNs and the like share a stick's port; only its disk
// takes an index. Unknown type counts as a disk, as the device line does.
bool isDisk(const SgDeviceInfo& info) {
    return info.peripheralType <= 0;
}

bool before(const MappedDevice* a, const MappedDevice* b) {
    if (const int c = comparePortPaths(a->info.portPath, b->info.portPath); c != 0) {
        return c < 0;
    }
    return a->info.sg < b->info.sg;
}

} // namespace

int comparePortPaths(const std::string& a, const std::string& b) {
    const auto na = portNumbers(a);
    const auto nb = portNumbers(b);
    if (na && nb) {
        return *na < *nb ? -1 : (*nb < *na ? 1 : 0);
    }
    if (na || nb) {
        return na ? -1 : 1; // odd names after every real port
    }
    return a.compare(b);
}

bool onAllowList(const QuorlinkConf& conf, const SgDeviceInfo& info) {
    return info.usbStorage && info.usbId &&
           std::find(conf.allow.begin(), conf.allow.end(), *info.usbId) != conf.allow.end();
}

std::vector<MappedDevice> mapDrives(const Roots& roots, const QuorlinkConf& conf) {
    std::vector<MappedDevice> all;
    for (const int sg : sgNumbers(roots)) {
        MappedDevice d;
        d.info = describeSgDevice(roots, sg);
        d.allowed = onAllowList(conf, d.info);
        all.push_back(std::move(d));
    }
    std::vector<MappedDevice*> candidates;
    for (MappedDevice& d : all) {
        if (d.info.usbStorage && isDisk(d.info)) {
            candidates.push_back(&d);
        }
    }
    std::sort(candidates.begin(), candidates.end(), before);
    if (conf.ports.empty()) {
        int next = 0;
        for (MappedDevice* d : candidates) {
            if (d->allowed && next < kDriveIndexes) {
                d->index = next++;
            }
        }
        return all;
    }
    // The port named for an index holds the drive whatever it is: one off
    // the list is reached there too, and refused there.
    for (const auto& [index, port] : conf.ports) {
        if (index < 0 || index >= kDriveIndexes) {
            continue;
        }
        for (MappedDevice* d : candidates) {
            if (d->index < 0 && comparePortPaths(d->info.portPath, port) == 0) {
                d->index = index;
                break;
            }
        }
    }
    return all;
}

} // namespace quorlink::sg
