#include "device/write_protect.h"

#include "device_fixture.h"

namespace ufd::test {
namespace {

struct WpCase {
    const char* name;
    std::optional<uint8_t> byte82; // nullopt: no reply file at all
    int16_t result;
    int16_t status;
};

class WriteProtectTest : public DeviceTest, public ::testing::WithParamInterface<WpCase> {};

TEST_P(WriteProtectTest, OnlyExactly0x80AtByte82CountsAsProtected) {
    const auto& c = GetParam();
    if (c.byte82) {
        modeSense[82] = *c.byte82;
    } else {
        failing = {{"ModeSense", -1}};
    }
    EXPECT_EQ(CheckWriteProtect(ctx, 1), c.result);
    EXPECT_EQ(Slot().Status, c.status);
    std::vector<std::string> fns;
    for (const auto& call : transport.calls) {
        fns.push_back(call.fn);
    }
    EXPECT_EQ(fns, (std::vector<std::string>{"TestUnitReady", "TestUnitReady", "ModeSense"}));
}

INSTANTIATE_TEST_SUITE_P(Cases, WriteProtectTest,
                         ::testing::Values(WpCase{"Protected", 0x80, 1, 0},
                                           WpCase{"OtherBitsToo", 0x90, 0, 0xF5},
                                           WpCase{"Clear", 0x00, 0, 0xF5},
                                           WpCase{"NoReply", std::nullopt, 0, 0xF5}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace ufd::test
