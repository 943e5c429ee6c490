// The racks shipped for the demo and for tests: they must give the run the
// drives it is meant to show (one failing Format, one write-protected, the
// rest passing).
#include "sim_fixture.h"

#include <map>
#include <tuple>

using quorlink::sim::DriveKind;
using namespace simtest;

namespace {

const std::filesystem::path kExamples = UFD_EXAMPLE_RACK_DIR;

// Chip-0 units 0..3 limits of the per-unit verdict.
int unitLimit(uint8_t controller, int unit) {
    static const int limits29[] = {3, 4, 3, 3};
    static const int others[] = {1, 3, 2, 3};
    return controller == 0x29 ? limits29[unit] : others[unit];
}

bool largeBlock(uint8_t code) {
    return code == 0xF1 || code == 0xDA;
}

// Units per chip of each device code the station knows.
int units(uint8_t code) {
    static const std::map<uint8_t, int> known = {{0xE6, 4}, {0x73, 4},  {0xF1, 4}, {0x75, 8},
                                                 {0xDA, 8}, {0x76, 16}, {0x79, 32}};
    const auto it = known.find(code);
    return it == known.end() ? 0 : it->second;
}

// fast.json is checked against this one field by field below.
TEST(ExampleRacks, DefaultHasTheDrivesTheDemoNeeds) {
    ::unsetenv("QUORLINK_STATE_DIR");
    const auto rack = quorlink::sim::loadRack(kExamples / "default.json");
    EXPECT_EQ(rack.drives[0].kind, DriveKind::Disk);
    EXPECT_EQ(rack.drives[0].deviceLine().find("USBSTOR"), std::string::npos);

    int usb = 0, failing = 0, protectedDrives = 0, extended = 0;
    std::set<uint8_t> codes, controllers;
    for (const auto& d : rack.drives) {
        if (d.kind != DriveKind::Usb) {
            continue;
        }
        SCOPED_TRACE("drive " + std::to_string(d.index));
        ++usb;
        EXPECT_NE(d.deviceLine().find("USBSTOR"), std::string::npos);
        EXPECT_TRUE(d.plugged);
        EXPECT_GE(d.info130, 11);
        EXPECT_LE(d.info130, 13);
        EXPECT_GE(d.info131, 0x27);
        EXPECT_GT(d.capacity, 0u);
        EXPECT_LE(d.capacity, 4096000u);
        EXPECT_TRUE(d.faults.empty());
        controllers.insert(d.info131);
        ASSERT_FALSE(d.chips.empty());
        for (uint8_t c : d.chips) {
            EXPECT_GT(units(c), 0) << "unknown device code " << int(c);
            codes.insert(c);
        }
        const bool ff = d.modeBlock[0] == 0xFF && d.modeBlock[1] == 0xFF;
        if (ff) {
            // Only read when a large-block chip is present.
            EXPECT_TRUE(std::any_of(d.chips.begin(), d.chips.end(), largeBlock));
            ++extended;
        }
        bool rejected = false;
        for (int u = 0; u < std::min(4, units(d.chips[0])); ++u) {
            rejected = rejected || d.unitEntries(0x95, 0, u) > unitLimit(d.info131, u);
        }
        failing += rejected ? 1 : 0;
        protectedDrives += d.writeProtect ? 1 : 0;
        EXPECT_FALSE(rejected && d.writeProtect) << "one drive, one reason to fail";
    }
    EXPECT_EQ(usb, 7);
    EXPECT_EQ(failing, 1);
    EXPECT_EQ(protectedDrives, 1);
    EXPECT_GE(extended, 1);
    EXPECT_EQ(codes, (std::set<uint8_t>{0xE6, 0x73, 0x75, 0x76, 0x79, 0xF1, 0xDA}));
    EXPECT_TRUE(controllers.count(0x27) && controllers.count(0x29));
    EXPECT_GE(controllers.size(), 3u);
}

TEST(ExampleRacks, FastIsDefaultWithoutLatency) {
    const auto slow = quorlink::sim::loadRack(kExamples / "default.json");
    const auto fast = quorlink::sim::loadRack(kExamples / "fast.json");
    for (size_t i = 0; i < slow.drives.size(); ++i) {
        SCOPED_TRACE("drive " + std::to_string(i));
        const auto& a = slow.drives[i];
        const auto& b = fast.drives[i];
        EXPECT_EQ(
            std::tie(a.kind, a.capacity, a.chips, a.info130, a.info131, a.modeBlock, a.writeProtect,
                     a.entries94, a.defaultEntries94, a.entries95, a.defaultEntries95),
            std::tie(b.kind, b.capacity, b.chips, b.info130, b.info131, b.modeBlock, b.writeProtect,
                     b.entries94, b.defaultEntries94, b.entries95, b.defaultEntries95));
        EXPECT_EQ(a.deviceLine(), b.deviceLine());
        EXPECT_TRUE(b.latencyMs == 0 && b.opLatencyMs.empty() && b.codeLatencyMs.empty());
        if (a.kind == DriveKind::Usb) {
            // Like a real drive: an erase takes far longer than a status read.
            EXPECT_GT(a.latencyFor("vendor_scan", 0x95), 10 * a.latencyFor("tur", std::nullopt));
            EXPECT_GT(a.latencyFor("write", std::nullopt), 0);
        }
    }
}

} // namespace
