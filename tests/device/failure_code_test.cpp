// Every failure code a simulated drive can make a test-run item leave in the
// slot's Status: rack fault or drive property in, Status and result out.
#include "support/sim_station.h"

namespace ufd::test {
namespace {

nlohmann::json Fault(const char* op, int code, int64_t sector = -1, int nth = 0,
                     const char* effect = "fail", int length = 0) {
    nlohmann::json f = {{"op", op}, {"nth", nth}, {"effect", effect}, {"length", length}};
    if (code >= 0) {
        f["code"] = code;
    }
    if (sector >= 0) {
        f["sector"] = sector;
    }
    return {{"faults", {f}}};
}

nlohmann::json With(nlohmann::json a, const nlohmann::json& b) {
    if (b.is_object()) {
        a.update(b);
    }
    return a;
}

void TwoAreas(ProductConfig& p) {
    p.FirstShare = p.SecondShare = 0.5;
}
using P = ProductConfig&;

struct CodeCase {
    const char* name;
    Item item;
    nlohmann::json drive; // changes to a healthy drive of 20,001 sectors
    void (*product)(ProductConfig&);
    int16_t status, result;
    int writes; // fnQuorbus_Write calls, the failed one included
};

constexpr auto F = Item::Format;
constexpr auto M = Item::Manufacture;
constexpr auto C = Item::CheckConfig;
constexpr auto W = Item::CheckWp;
const nlohmann::json kProtected = {{"write_protect", true}};

// Areas of 20,000 sectors (FAT12: boot 32, FATs 33 and 45, root 57) or two of
// 10,000 (the extended table at 9,999, boot 10,031, root 10,056).
TEST(FailureCode, StatusResultAndWrites) {
    // clang-format off
    const CodeCase cases[] = {
        {"Passes", F, {}, nullptr, 0, 0, 5},
        {"Unplugged_FE", F, {{"plugged", false}}, nullptr, 0xFE, kNotRun, 0},
        {"Information_75", F, Fault("vendor_r", 0x75), nullptr, 0x75, kNotRun, 0},
        {"ScanChipList_93", F, Fault("vendor_r", 0x93, -1, 1), nullptr, 0x93, kNotRun, 0},
        // An empty reply has no 0xAA terminator: no chip list.
        {"ChipListWithoutEnd_93", F, Fault("vendor_r", 0x93, -1, 1, "short_reply"), nullptr,
            0x93, kNotRun, 0},
        {"ModeBlock_9F", F, Fault("vendor_r", 0x9F), nullptr, 0x9F, kNotRun, 0},
        {"UnitList_94", F, Fault("vendor_scan", 0x94, -1, 3), nullptr, 0x94, kNotRun, 0},
        {"Entry_98", F, Fault("vendor_scan", 0x98, -1, 2), nullptr, 0x98, kNotRun, 0},
        {"EraseChipList_93", F, Fault("vendor_r", 0x93, -1, 2), nullptr, 0x93, 1, 0},
        {"UnitFormat_95", F, Fault("vendor_scan", 0x95, -1, 2), nullptr, 0x95, 1, 0},
        {"UnitRejected_10", F, {{"info", {12, 0x27}}, {"units95", {{"0:0", 2}}}}, nullptr,
            0x10, 1, 0},
        {"EraseClose_96", F, Fault("vendor_r", 0x96, -1, 1), nullptr, 0x96, 1, 0},
        {"FinishClose_96", F, Fault("vendor_r", 0x96, -1, 2), nullptr, 0x96, 1, 5},
        // Recorded, and the volume still goes out on the last known size (0).
        {"NoCapacity_9A", F, Fault("capacity", -1), nullptr, 0x9A, 1, 5},
        {"Finish_9B", F, Fault("vendor_w", 0x9B), nullptr, 0x9B, 1, 5},
        {"MasterBootRecord_240", F, Fault("write", -1, 0), nullptr, 240, 1, 1},
        {"BootSector_241", F, Fault("write", -1, 32), nullptr, 241, 1, 2},
        {"SecondFatCopy_242", F, Fault("write", -1, 45), nullptr, 242, 1, 4},
        // No sector of the second area is written.
        {"FirstRootDirectory_243", F, Fault("write", -1, 57), TwoAreas, 243, 1, 5},
        {"ExtendedBootRecord_255", F, Fault("write", -1, 9999), TwoAreas, 255, 1, 6},
        {"SecondBootSector_241", F, Fault("write", -1, 10031), TwoAreas, 241, 1, 7},
        {"SecondRootDirectory_243", F, Fault("write", -1, 10056), TwoAreas, 243, 1, 10},
        {"Boundary_99", F, Fault("vendor_w", 0x99, -1, 2), nullptr, 0x99, 1, 5},
        // A capacity of 1 records 0x9A; the failing table then replaces it.
        {"LaterFailureReplaces_240", F, With({{"capacity", 1}}, Fault("write", -1, 0)),
            nullptr, 240, 1, 1},
        {"AreaPastTheDrive_F8", F, {}, [](P p) { p.FirstShare = 1.5; p.SecondShare = -0.5; },
            0xF8, 1, 0},
        {"ConfigWriteRefused_F6", M, Fault("vendor_w", 0x81), nullptr, 0xF6, 0, 0},
        {"EmptyIdentityText_F7", M, {}, [](P p) { p.UsbProductString.clear(); }, 0xF7, 2, 0},
        {"ConfigNotRead_82", C, Fault("vendor_r", 0x82), nullptr, 0x82, 0, 0},
        {"ConfigDiffers_F4", C, {}, nullptr, 0xF4, 1, 0},
        // An empty identity expects an all-zero block, which a fresh drive holds.
        {"EmptyIdentityMatchesZeros_F7", C, {}, [](P p) { p.Pid.clear(); }, 0xF7, 2, 0},
        {"WriteProtected", W, kProtected, nullptr, 0, 1, 0},
        {"NotWriteProtected_F5", W, {}, nullptr, 0xF5, 0, 0},
        {"ModeSenseNoReply_F5", W,
            With(kProtected, Fault("mode_sense", -1, -1, 0, "no_reply")), nullptr, 0xF5, 0, 0}};
    // clang-format on
    for (const CodeCase& c : cases) {
        SCOPED_TRACE(c.name);
        SimDrive sim(With(SimDriveEntry(20001), c.drive));
        ProductConfig product = SampleProduct();
        if (c.product != nullptr) {
            c.product(product);
        }
        const SimOutcome o = sim.Run(c.item, product);
        EXPECT_EQ(o.status, c.status);
        EXPECT_EQ(o.result, c.result);
        const auto trace = sim.Trace(o.handle);
        EXPECT_EQ(std::count_if(trace.begin(), trace.end(),
                                [](const std::string& l) { return l.starts_with("Write "); }),
                  c.writes);
    }
}

} // namespace
} // namespace ufd::test
