// Reading rack files: what is accepted, what is refused and how it says so;
// the state API the monitor and ufd-rack use.
#include "sim_fixture.h"

using quorlink::sim::DriveKind;
using quorlink::sim::RackError;
using quorlink::sim::RackState;
using namespace simtest;

namespace {

class RackTest : public SimTest {};

TEST_F(RackTest, BrokenRackFilesSayWhatIsWrong) {
    struct Case {
        const char* text;
        const char* message; // part of the error
    };
    const Case cases[] = {
        {"", "not valid JSON"},
        {"[1,2]", "\"drives\" array"},
        {R"({"drives": {}})", "\"drives\" array"},
        {R"({"drives": [{"kind": "usb"}]})", "no index"},
        {R"({"drives": [{"index": 17}]})", "0 to 16"},
        {R"({"drives": [{"index": -1}]})", "0 to 16"},
        {R"({"drives": [{"index": 1}, {"index": 1}]})", "appears twice"},
        {R"({"drives": [{"index": 1, "kind": "floppy"}]})", "floppy"},
        {R"({"drives": [{"index": 1, "chips": ["0x100"]}]})", "not a byte"},
        {R"({"drives": [{"index": 1, "chips": ["zz"]}]})", "expected a number"},
        {R"({"drives": [{"index": 1, "info": [12]}]})", "info"},
        {R"({"drives": [{"index": 1, "mode": [1, 2, 3]}]})", "mode"},
        {R"({"drives": [{"index": 1, "units95": {"0-1": 3}}]})", "chip:unit"},
        {R"({"drives": [{"index": 1, "faults": [{"op": "erase"}]}]})", "erase"},
        {R"({"drives": [{"index": 1, "faults": [{"op": "tur", "effect": "explode"}]}]})",
         "explode"},
        {R"({"drives": [{"index": 1, "capacity": "lots"}]})", "capacity"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto file = dir() / "bad.json";
        std::ofstream(file) << c.text;
        try {
            quorlink::sim::loadRack(file);
            ADD_FAILURE() << "accepted";
        } catch (const RackError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
        }
    }
    EXPECT_THROW(quorlink::sim::loadRack(dir() / "absent.json"), RackError);
}

TEST_F(RackTest, DefaultsAndHexNumbers) {
    const auto file = writeRack({{"drives",
                                  {{{"index", 4},
                                    {"chips", {"0xda", 117}},
                                    {"info", {"11", "0x2A"}},
                                    {"units95", {{"default", 2}, {"1:3", "0x10"}}}}}}});
    const auto rack = quorlink::sim::loadRack(file);
    EXPECT_EQ(rack.stateDir, std::filesystem::path(file.string() + ".state"));
    EXPECT_FALSE(rack.trace.has_value());
    const auto& d = rack.drives[4];
    EXPECT_EQ(d.kind, DriveKind::Usb);
    EXPECT_TRUE(d.plugged);
    EXPECT_FALSE(d.writeProtect);
    EXPECT_EQ(d.chips, (std::vector<uint8_t>{0xDA, 0x75}));
    EXPECT_EQ(d.info130, 11);
    EXPECT_EQ(d.info131, 0x2A);
    EXPECT_EQ(d.unitEntries(0x95, 1, 3), 16);
    EXPECT_EQ(d.unitEntries(0x95, 0, 0), 2);
    EXPECT_EQ(d.unitEntries(0x94, 1, 3), 0);
    for (int i = 0; i < quorlink::sim::kDriveCount; ++i) {
        if (i != 4) {
            EXPECT_EQ(rack.drives[static_cast<size_t>(i)].kind, DriveKind::Empty) << i;
        }
    }
}

TEST_F(RackTest, SwitchesPersistAndPluggedStatesFollow) {
    auto wp = usbDrive(2);
    wp["write_protect"] = true;
    auto out = usbDrive(3);
    out["plugged"] = false;
    const auto file =
        writeRack({{"drives", {{{"index", 0}, {"kind", "disk"}}, usbDrive(1), wp, out}}});
    RackState rack(quorlink::sim::loadRack(file));
    auto states = rack.pluggedStates();
    std::array<bool, 17> expected{};
    expected[0] = expected[1] = expected[2] = true;
    EXPECT_EQ(states, expected);
    EXPECT_TRUE(rack.writeProtect(2));
    EXPECT_FALSE(rack.writeProtect(1));

    rack.setPlugged(1, false);
    rack.setPlugged(3, true);
    rack.setWriteProtect(2, false);
    rack.setWriteProtect(1, true);

    RackState other(quorlink::sim::loadRack(file)); // as another process sees it
    expected[1] = false;
    expected[3] = true;
    EXPECT_EQ(other.pluggedStates(), expected);
    EXPECT_FALSE(other.writeProtect(2));
    EXPECT_TRUE(other.writeProtect(1));

    EXPECT_THROW(rack.setPlugged(9, true), RackError); // empty index
    EXPECT_THROW(rack.setWriteProtect(0, true), RackError);
    EXPECT_THROW(rack.drive(17), RackError);
}

} // namespace
