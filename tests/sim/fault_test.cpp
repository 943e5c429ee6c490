// Faults and latency of the rack file: which calls they hit and how those
// calls answer.
#include "sim_fixture.h"

#include <chrono>

using quorlink::ReplyShape;
using quorlink::VendorForm;
using namespace simtest;
namespace q = quorlink;

namespace {

class FaultTest : public SimTest {
protected:
    std::unique_ptr<q::Device> driveWith(const nlohmann::json& faults) {
        auto d = usbDrive(1);
        d["faults"] = faults;
        ex_ = executor({d});
        return ex_->open(1).device;
    }
    std::unique_ptr<q::Executor> ex_;
};

TEST_F(FaultTest, EachOperationNameMatchesItsCommandsOnly) {
    std::array<uint8_t, 512> block{};
    const std::vector<std::pair<std::string, q::Command>> cases = {
        {"tur", q::encodeTestUnitReady()},
        {"capacity", q::encodeReadCapacity10()},
        {"mode_sense", q::encodeModeSense()},
        {"read", *q::encodeRead(0, 1)},
        {"write", *q::encodeWrite(0, 1, block)},
        {"vendor_r", vendorCmd(VendorForm::Read, 0x75)},
        {"vendor_w", vendorCmd(VendorForm::Write, 0x9B, 0, 0, 0, block)},
        {"vendor", vendorCmd(VendorForm::ChipUnit, 0x94)},
        {"vendor_scan", vendorCmd(VendorForm::Scan, 0x94, 0, 0, 0xF1)},
    };
    for (const auto& [op, faulty] : cases) {
        auto dev = driveWith({{{"op", op}}});
        for (int again = 0; again < 2; ++again) {
            for (const auto& [other, cmd] : cases) {
                const auto r = run(*dev, cmd);
                EXPECT_EQ(r.outcome.ok, other != op) << op << " fault, command of " << other;
            }
        }
        EXPECT_EQ(run(*dev, faulty).outcome.reason, "simulated fault on " + op);
    }
    EXPECT_FALSE(run(*driveWith({{{"op", "capacity"}}}), q::encodeReadCapacity16()).outcome.ok);
}

TEST_F(FaultTest, NthCallOfOneCodeCountedPerProcess) {
    auto dev = driveWith({{{"op", "vendor"}, {"code", "0x95"}, {"nth", 3}}});
    std::vector<bool> results;
    for (int i = 0; i < 5; ++i) {
        // 0x94 calls share the operation but not the code: they do not count.
        EXPECT_TRUE(run(*dev, vendorCmd(VendorForm::ChipUnit, 0x94)).outcome.ok);
        results.push_back(run(*dev, vendorCmd(VendorForm::ChipUnit, 0x95)).outcome.ok);
        if (i == 1) {
            dev = ex_->open(1).device; // a new handle keeps the count
        }
    }
    EXPECT_EQ(results, (std::vector<bool>{true, true, false, true, true}));
}

TEST_F(FaultTest, SectorFaultHitsOnlyWritesCoveringIt) {
    auto dev = driveWith({{{"op", "write"}, {"sector", 40}}});
    Bytes data(8 * 512, 0x11);
    EXPECT_TRUE(run(*dev, *q::encodeWrite(32, 8, data)).outcome.ok);  // 32..39
    EXPECT_FALSE(run(*dev, *q::encodeWrite(33, 8, data)).outcome.ok); // 33..40
    EXPECT_TRUE(run(*dev, *q::encodeWrite(41, 1, data)).outcome.ok);
    EXPECT_EQ(run(*dev, *q::encodeRead(40, 1)).data, Bytes(512, 0)) << "the image is untouched";
}

TEST_F(FaultTest, LatencyByVendorCodeThenOperationThenDefault) {
    auto d = usbDrive(1);
    d["latency_ms"] = {{"default", 1}, {"read", 40}, {"0x95", 80}, {"vendor", 20}};
    auto ex = executor({d});
    auto dev = ex->open(1).device;
    const auto rack = q::sim::loadRack(rackFile_);
    const auto& profile = rack.drives[1];
    EXPECT_EQ(profile.latencyFor("tur", std::nullopt), 1);
    EXPECT_EQ(profile.latencyFor("read", std::nullopt), 40);
    EXPECT_EQ(profile.latencyFor("vendor", 0x94), 20);
    EXPECT_EQ(profile.latencyFor("vendor_scan", 0x95), 80);
    using Clock = std::chrono::steady_clock;
    const auto t0 = Clock::now();
    EXPECT_EQ(run(*dev, vendorCmd(VendorForm::Scan, 0x95, 0, 0, 0xF1)).data[2], 0xAA);
    EXPECT_GE(Clock::now() - t0, std::chrono::milliseconds(80)) << "the erase took its time";
}

} // namespace
