// The demo rack is the station tests' rack (fast.json, whose drives and
// verdicts those tests pin) with the latency of real drives added.
#include "sim_fixture.h"

#include <set>

namespace {

const std::filesystem::path kExamples = UFD_EXAMPLE_RACK_DIR;

TEST(ExampleRacks, DefaultIsFastWithTheLatencyOfRealDrives) {
    const auto drives = [](const char* name) {
        std::ifstream in(kExamples / name);
        return nlohmann::json::parse(in)["drives"];
    };
    auto slow = drives("default.json");
    for (auto& d : slow) {
        d.erase("latency_ms");
    }
    EXPECT_EQ(slow, drives("fast.json"));
    ::unsetenv("QUORLINK_STATE_DIR");
    std::set<uint8_t> codes, controllers;
    for (const auto& d : quorlink::sim::loadRack(kExamples / "default.json").drives) {
        if (d.kind != quorlink::sim::DriveKind::Usb) {
            continue;
        }
        codes.insert(d.chips.begin(), d.chips.end());
        controllers.insert(d.info131);
        // The mode block is only read when a large-block chip is present.
        EXPECT_TRUE(d.modeBlock[0] != 0xFF || d.modeBlock[1] != 0xFF ||
                    std::ranges::any_of(d.chips, [](uint8_t c) { return c == 0xF1 || c == 0xDA; }))
            << d.index;
        // An erase takes far longer than a status read.
        EXPECT_GT(d.latencyFor("vendor_scan", 0x95), 10 * d.latencyFor("tur", std::nullopt));
        EXPECT_GT(d.latencyFor("write", std::nullopt), 0) << d.index;
    }
    // Every device code the station knows; controllers 27, 29 and another.
    EXPECT_EQ(codes, (std::set<uint8_t>{0xE6, 0x73, 0x75, 0x76, 0x79, 0xF1, 0xDA}));
    EXPECT_TRUE(controllers.contains(0x27) && controllers.contains(0x29) && controllers.size() > 2);
}

} // namespace
