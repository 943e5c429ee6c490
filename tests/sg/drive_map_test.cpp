// Which /dev/sgN each drive index names, from a fake sysfs: port order among
// whatever else the PC has, [Ports], and a full rack.
#include "drive_map.h"
#include "fake_sysfs.h"
#include "sg_executor.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

namespace {
using namespace quorlink;
using sgtest::FakeDrive;

const FakeDrive kSata{.sg = 0, .driver = "", .vendor = "ATA", .model = "FastDisk"};

FakeDrive stick(int sg, const char* port, uint16_t vid = 0x1234) {
    return {.sg = sg, .port = port, .vid = vid};
}

FakeDrive cd(FakeDrive d, int sg) {
    d.sg = sg;
    d.type = 5;
    return d;
}

// A PC's own disks and a card reader off the list between the sticks; sg7
// is an allowed stick's CD-ROM LUN.
// clang-format off
const std::vector<FakeDrive> kMixed = {kSata, stick(1, "1-10"), cd(kSata, 2), stick(3, "1-2.3"),
    stick(4, "1-1", 0x0BDA), stick(5, "2-1"), stick(6, "1-2"), cd(stick(7, "1-3"), 7)};
// clang-format on

std::vector<FakeDrive> fullRack() {
    std::vector<FakeDrive> drives;
    for (int sg = 0; sg < 4; ++sg) {
        drives.push_back(sg % 2 ? cd(kSata, sg) : FakeDrive{kSata});
        drives.back().sg = sg;
    }
    // Numbered against their ports, so sg order cannot pass for port order.
    for (int i = 0; i < 18; ++i) {
        drives.push_back({.sg = 4 + i, .port = "1-" + std::to_string(18 - i)});
    }
    return drives;
}

TEST(DriveMap, PortPathsCompareByEachNumber) {
    const char* ordered[] = {"1-2", "1-2.3", "1-2.10", "1-10", "2-1", "10-1", "odd"};
    for (size_t i = 0; i < std::size(ordered); ++i) {
        for (size_t j = 0; j < std::size(ordered); ++j) {
            const int c = sg::comparePortPaths(ordered[i], ordered[j]);
            EXPECT_EQ(c < 0, i < j) << ordered[i] << " vs " << ordered[j];
            EXPECT_EQ(c == 0, i == j) << ordered[i] << " vs " << ordered[j];
        }
    }
}

TEST(DriveMap, IndexesNameAllowedDrivesByPort) {
    struct Case {
        const char* name;
        std::vector<FakeDrive> drives;
        std::map<int, std::string> ports;
        std::vector<UsbId> allow;
        std::map<int, int> expected; // drive index -> sg; every other index empty
        const char* error = "";      // of loading quorlink.conf
    };
    std::map<int, int> rack;
    for (int index = 0; index < 17; ++index) {
        rack[index] = 21 - index; // port 1-1 is sg21
    }
    const std::vector<UsbId> line = {{0x1234, 0x5678}};
    // clang-format off
    const Case cases[] = {
        {"port order", kMixed, {}, line, {{0, 6}, {1, 3}, {2, 1}, {3, 5}}},
        // 5: an off-list drive is reached (and refused) there; 7: nothing plugged
        {"ports named", kMixed, {{0, "1-10"}, {3, "1-2"}, {5, "1-1"}, {7, "3-3"}}, line,
            {{0, 1}, {3, 6}, {5, 4}}},
        {"empty list", kMixed, {}, {}, {}},
        {"unusable file", kMixed, {{0, "1-10"}}, line, {}, "quorlink.conf: bad value"},
        {"seventeen of eighteen", fullRack(), {}, line, rack},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sgtest::FakeTree tree;
        for (const FakeDrive& d : c.drives) {
            tree.add(d);
        }
        QuorlinkConf conf;
        conf.allow = c.allow;
        conf.ports = c.ports;
        std::map<int, int> mapped;
        for (const auto& d : sg::mapDrives(tree.roots(), conf)) {
            if (d.index >= 0) {
                mapped[d.index] = d.info.sg;
            }
        }
        if (*c.error == '\0') {
            EXPECT_EQ(mapped, c.expected);
        }
        // open() goes by the same map; only drives on the list name USB storage.
        auto exec = sg::makeSgExecutor(tree.roots(), std::make_shared<sgtest::ScriptedSg>(),
                                       std::nullopt, sgtest::loaded(conf, c.error));
        for (int index = 0; index < 17; ++index) {
            const OpenResult r = exec->open(index);
            EXPECT_EQ(r.device != nullptr, c.expected.contains(index)) << index;
            EXPECT_EQ(r.deviceLine.starts_with("USBSTOR"),
                      c.expected.contains(index) && c.expected.at(index) != 4)
                << index;
        }
    }
}

} // namespace
