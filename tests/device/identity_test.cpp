#include "device/identity.h"

#include "device_fixture.h"

namespace ufd::test {
namespace {

using IdentityTest = DeviceTest;

const std::vector<uint8_t> kWorkedExample = {
    0x99, 0x07, 0x06, 0x06, 0x12, 0x01, 0x10, 0x01, 0x00, 0x00, 0x00, 0x08, 0x34,
    0x12, 0x78, 0x56, 0x00, 0x01, 0x01, 0x02, 0x00, 0x01, 0x06, 0x03, 0x41, 0x00,
    0x42, 0x00, 0x06, 0x03, 0x43, 0x00, 0x44, 0x00, 0x45, 0x46, 0x20, 0x20, 0x20,
    0x20, 0x20, 0x20, 0x47, 0x48, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20,
    0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x37, 0x2E, 0x37, 0x37, 0x7A, 0xAA, 0x55};

TEST_F(IdentityTest, WorkedExampleBlockIsWrittenWithVendorCode81) {
    EXPECT_EQ(WriteIdentity(ctx, 1, kTrue), kIdentityWritten);
    const auto writes = transport.Calls("VendorW");
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].args, (std::vector<int64_t>{kHandle, 0x81, 512}));
    std::vector<uint8_t> expected = kWorkedExample;
    expected.resize(512, 0);
    EXPECT_EQ(writes[0].data, expected);
    EXPECT_EQ(Slot().Status, 0);
}

TEST_F(IdentityTest, ScsiStringsAreCutOrPaddedToTheirFields) {
    ctx.Product.ScsiManufactureString = "ABCDEFGHIJ";   // 10: cut to 8
    ctx.Product.ScsiProductString = "0123456789ABCDEF"; // exactly 16: no padding
    WriteIdentity(ctx, 1, kFalse);
    const size_t b = 34;
    EXPECT_EQ(std::string(ctx.ConfigBlock.begin() + b, ctx.ConfigBlock.begin() + b + 24),
              "ABCDEFGH0123456789ABCDEF");
    EXPECT_EQ(std::string(ctx.ConfigBlock.begin() + b + 24, ctx.ConfigBlock.begin() + b + 28),
              "7.77");
}

TEST_F(IdentityTest, BuildOnlyWritesNothingAndReturnsZero) {
    EXPECT_EQ(WriteIdentity(ctx, 1, kFalse), 0);
    EXPECT_TRUE(transport.Calls("VendorW").empty());
}

TEST_F(IdentityTest, RefusedWriteIsF6) {
    failing = {{"VendorW", 0x81}};
    EXPECT_EQ(WriteIdentity(ctx, 1, kTrue), kIdentityRefused);
    EXPECT_EQ(Slot().Status, 0xF6);
}

struct BadIdentity {
    const char* name;
    void (*change)(ProductConfig&);
    int16_t status;
};

class BadIdentityTest : public DeviceTest, public ::testing::WithParamInterface<BadIdentity> {};

TEST_P(BadIdentityTest, NothingIsWrittenAndTheBlockStaysZero) {
    GetParam().change(ctx.Product);
    EXPECT_EQ(WriteIdentity(ctx, 1, kTrue), kIdentityIncomplete);
    EXPECT_EQ(Slot().Status, GetParam().status);
    EXPECT_TRUE(transport.Calls("VendorW").empty());
    EXPECT_EQ(ctx.ConfigBlock, Sector{});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadIdentityTest,
    ::testing::Values(
        BadIdentity{"EmptyVid", [](ProductConfig& p) { p.Vid.clear(); }, 0xF7},
        BadIdentity{"EmptyScsiProduct", [](ProductConfig& p) { p.ScsiProductString.clear(); },
                    0xF7},
        BadIdentity{"EmptyUsbProduct", [](ProductConfig& p) { p.UsbProductString.clear(); }, 0xF7},
        BadIdentity{"VidNotHex", [](ProductConfig& p) { p.Vid = "12G4"; }, 0xF3},
        BadIdentity{"PidTooShort", [](ProductConfig& p) { p.Pid = "567"; }, 0xF3},
        BadIdentity{"StringDescriptorTooLong",
                    [](ProductConfig& p) { p.UsbManufactureString = QString(127, 'M'); }, 0xF3},
        BadIdentity{"BlockOverflows",
                    [](ProductConfig& p) {
                        p.UsbManufactureString = QString(120, 'M');
                        p.UsbProductString = QString(108, 'P');
                    },
                    0xF3},
        BadIdentity{"NoSingleByteCode",
                    [](ProductConfig& p) { p.UsbProductString = QString::fromUtf8("Flash\u4e00"); },
                    0xF3}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(IdentityTest, LongestStringsThatFitAreAccepted) {
    ctx.Product.UsbManufactureString = QString(126, 'M');
    ctx.Product.UsbProductString = QString(101, 'P'); // 227 together
    EXPECT_EQ(WriteIdentity(ctx, 1, kTrue), kIdentityWritten);
    EXPECT_EQ(ctx.ConfigBlock[2], 254);
    const size_t b = 26 + 2 * 126 + 2 * 101;
    EXPECT_EQ(b + 30, 510u);
    EXPECT_EQ(ctx.ConfigBlock[b + 29], 0xAA);
    EXPECT_EQ(ctx.ConfigBlock[b + 30], 0x55);
}

TEST_F(IdentityTest, ReadBackResults) {
    std::vector<uint8_t> good = kWorkedExample;
    good.resize(512, 0);

    vendor[0x82] = good;
    EXPECT_EQ(CheckIdentity(ctx, 1), kIdentityMatches);
    EXPECT_EQ(Slot().Status, 0);

    good[511] = 1; // differs only in its last byte
    vendor[0x82] = good;
    EXPECT_EQ(CheckIdentity(ctx, 1), kIdentityDiffers);
    EXPECT_EQ(Slot().Status, 0xF4);

    Slot().Status = 0;
    failing = {{"VendorR", 0x82}};
    EXPECT_EQ(CheckIdentity(ctx, 1), kIdentityUnreadable);
    EXPECT_EQ(Slot().Status, 0x82);
}

TEST_F(IdentityTest, EmptyIdentityExpectsAnAllZeroBlock) {
    ctx.Product.Pid.clear();
    vendor[0x82] = std::vector<uint8_t>(512, 0);
    EXPECT_EQ(CheckIdentity(ctx, 1), kIdentityMatches); // 0xF7 recorded by the build
    EXPECT_EQ(Slot().Status, 0xF7);
}

} // namespace
} // namespace ufd::test
