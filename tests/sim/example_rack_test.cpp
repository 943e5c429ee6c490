// The racks shipped for the demo and for tests: they must give the run the
// drives it is meant to show (one failing Format, one write-protected, the
// rest passing).
#include "sim_fixture.h"

using quorlink::sim::DriveKind;
using namespace simtest;

namespace {

const std::filesystem::path kExamples = UFD_EXAMPLE_RACK_DIR;

TEST(ExampleRacks, DefaultHasTheDrivesTheDemoNeeds) {
    ::unsetenv("QUORLINK_STATE_DIR");
    const auto rack = quorlink::sim::loadRack(kExamples / "default.json");
    EXPECT_EQ(rack.drives[0].kind, DriveKind::Disk);
    EXPECT_EQ(rack.drives[0].deviceLine().find("USBSTOR"), std::string::npos);
    // Chip-0 units 0..3 limits of the per-unit verdict, by controller code.
    const int limits29[] = {3, 4, 3, 3}, limitsOther[] = {1, 3, 2, 3};
    int usb = 0, failing = 0, protectedDrives = 0, extended = 0;
    std::set<uint8_t> codes, controllers;
    for (const auto& d : rack.drives) {
        if (d.kind != DriveKind::Usb) {
            continue;
        }
        SCOPED_TRACE("drive " + std::to_string(d.index));
        ++usb;
        EXPECT_NE(d.deviceLine().find("USBSTOR"), std::string::npos);
        EXPECT_TRUE(d.plugged && d.faults.empty());
        EXPECT_TRUE(d.info130 >= 11 && d.info130 <= 13 && d.info131 >= 0x27);
        EXPECT_TRUE(d.capacity > 0 && d.capacity <= 4096000u);
        controllers.insert(d.info131);
        ASSERT_FALSE(d.chips.empty());
        codes.insert(d.chips.begin(), d.chips.end());
        if (d.modeBlock[0] == 0xFF && d.modeBlock[1] == 0xFF) {
            // Only read when a large-block chip is present.
            EXPECT_TRUE(std::any_of(d.chips.begin(), d.chips.end(),
                                    [](uint8_t c) { return c == 0xF1 || c == 0xDA; }));
            ++extended;
        }
        bool rejected = false;
        for (int u = 0; u < 4; ++u) {
            rejected |= d.unitEntries(0x95, 0, u) > (d.info131 == 0x29 ? limits29 : limitsOther)[u];
        }
        failing += rejected ? 1 : 0;
        protectedDrives += d.writeProtect ? 1 : 0;
        EXPECT_FALSE(rejected && d.writeProtect) << "one drive, one reason to fail";
        // Like a real drive: an erase takes far longer than a status read.
        EXPECT_GT(d.latencyFor("vendor_scan", 0x95), 10 * d.latencyFor("tur", std::nullopt));
        EXPECT_GT(d.latencyFor("write", std::nullopt), 0);
    }
    EXPECT_EQ(usb, 7);
    EXPECT_EQ(failing, 1);
    EXPECT_EQ(protectedDrives, 1);
    EXPECT_GE(extended, 1);
    // Every device code the station knows, each with at least 4 units per chip.
    EXPECT_EQ(codes, (std::set<uint8_t>{0xE6, 0x73, 0x75, 0x76, 0x79, 0xF1, 0xDA}));
    EXPECT_TRUE(controllers.count(0x27) && controllers.count(0x29));
    EXPECT_GE(controllers.size(), 3u);
}

TEST(ExampleRacks, FastIsDefaultWithoutLatency) {
    const auto drives = [](const char* name) {
        std::ifstream in(kExamples / name);
        return nlohmann::json::parse(in)["drives"];
    };
    auto slow = drives("default.json");
    for (auto& d : slow) {
        d.erase("latency_ms");
    }
    EXPECT_EQ(slow, drives("fast.json"));
}

} // namespace
