// The configuration block as the simulated drive stores it, and identities
// that must not reach the drive at all.
#include "support/sim_station.h"

#include <iterator>

namespace ufd::test {
namespace {

const std::vector<uint8_t> kWorkedExample = {
    0x99, 0x07, 0x06, 0x06, 0x12, 0x01, 0x10, 0x01, 0x00, 0x00, 0x00, 0x08, 0x34,
    0x12, 0x78, 0x56, 0x00, 0x01, 0x01, 0x02, 0x00, 0x01, 0x06, 0x03, 0x41, 0x00,
    0x42, 0x00, 0x06, 0x03, 0x43, 0x00, 0x44, 0x00, 0x45, 0x46, 0x20, 0x20, 0x20,
    0x20, 0x20, 0x20, 0x47, 0x48, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20,
    0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x37, 0x2E, 0x37, 0x37, 0x7A, 0xAA, 0x55};

std::string StoredBlock(const SimDrive& sim) {
    std::ifstream in(sim.State("config.bin"), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

TEST(Identity, WorkedExampleIsStoredAndReadsBackEqual) {
    // A read-back cut after 62 bytes loses the checksum and the end mark.
    SimDrive sim(SimDriveEntry(20001));
    nlohmann::json cutDrive = SimDriveEntry(20001);
    cutDrive["faults"] = {{{"op", "vendor_r"}, {"effect", "short_reply"}, {"length", 62}}};
    SimDrive cut(cutDrive);
    for (const SimDrive* drive : {&sim, &cut}) {
        const SimOutcome w = drive->Run(Item::Manufacture, SampleProduct());
        EXPECT_EQ(w.status, 0);
        EXPECT_EQ(w.result, kIdentityWritten);
        EXPECT_EQ(drive->Trace(w.handle), std::vector<std::string>{"VendorW 0x81 512"});
        std::string expected(kWorkedExample.begin(), kWorkedExample.end());
        expected.resize(512, '\0');
        EXPECT_EQ(StoredBlock(*drive), expected);
    }
    const SimOutcome equal = sim.Run(Item::CheckConfig, SampleProduct());
    EXPECT_EQ(equal.status, 0);
    EXPECT_EQ(equal.result, kIdentityMatches);
    const SimOutcome differs = cut.Run(Item::CheckConfig, SampleProduct());
    EXPECT_EQ(differs.status, 0xF4);
    EXPECT_EQ(differs.result, kIdentityDiffers);
}

struct FitCase {
    const char* name;
    void (*change)(ProductConfig&);
    int16_t status;
    size_t at;            // where the stored block is checked, when written
    std::string expected; // empty: nothing may be written
};

using P = ProductConfig&;
TEST(IdentityFit, WrittenOrRefusedWithNothingSent) {
    // clang-format off
    const FitCase cases[] = {
        {"VidNotHex", [](P p) { p.Vid = "12G4"; }, 0xF9, 0, ""},
        {"PidTooShort", [](P p) { p.Pid = "567"; }, 0xF9, 0, ""},
        {"DescriptorLengthPastAByte", [](P p) { p.UsbManufactureString = QString(127, 'M'); },
                0xF9, 0, ""},
        {"BlockPast512Bytes", [](P p) {
                    p.UsbManufactureString = QString(120, 'M');
                    p.UsbProductString = QString(108, 'P'); }, 0xF9, 0, ""},
        {"UsbCharacterWithoutCode",
                [](P p) { p.UsbProductString = QString::fromUtf8("Flash\u4e00"); }, 0xF9, 0, ""},
        {"ScsiCharacterWithoutCodeInsideTheCut",
                [](P p) { p.ScsiManufactureString = QString::fromUtf8("AB\u4e00"); }, 0xF9, 0, ""},
        // 10 characters are cut to 8; 16 get no padding; a character past the
        // cut is never sent, so it needs no code.
        {"ScsiCutAndPadded", [](P p) {
                    p.ScsiManufactureString = QString::fromUtf8("ABCDEFGHI\u4e00");
                    p.ScsiProductString = "0123456789ABCDEF"; }, 0, 34, "ABCDEFGH0123456789ABCDEF7.77"},
        {"LongestStringsThatFit", [](P p) { // 227 characters together
                    p.UsbManufactureString = QString(126, 'M');
                    p.UsbProductString = QString(101, 'P'); }, 0, 504, std::string("7.77\x62\xAA\x55\0", 8)}};
    // clang-format on
    for (const FitCase& c : cases) {
        SCOPED_TRACE(c.name);
        SimDrive sim(SimDriveEntry(20001));
        ProductConfig product = SampleProduct();
        c.change(product);
        const SimOutcome o = sim.Run(Item::Manufacture, product);
        EXPECT_EQ(o.status, c.status);
        if (c.expected.empty()) {
            EXPECT_EQ(o.result, kIdentityIncomplete);
            EXPECT_TRUE(sim.Trace(o.handle).empty());
        } else {
            EXPECT_EQ(o.result, kIdentityWritten);
            EXPECT_EQ(StoredBlock(sim).substr(c.at, c.expected.size()), c.expected);
        }
    }
}

} // namespace
} // namespace ufd::test
