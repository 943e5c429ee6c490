// Faults of the rack file: which calls they hit and how those calls answer.
#include "sim_fixture.h"

using quorlink::ReplyShape;
using quorlink::VendorForm;
using namespace simtest;

namespace {

class FaultTest : public SimTest {
protected:
    std::unique_ptr<quorlink::Device> driveWith(const nlohmann::json& faults) {
        auto d = usbDrive(1);
        d["faults"] = faults;
        ex_ = executor({d});
        return ex_->open(1).device;
    }
    std::unique_ptr<quorlink::Executor> ex_;
};

TEST_F(FaultTest, AlwaysFailingOperationFailsEveryTimeAndOnlyItself) {
    auto dev = driveWith({{{"op", "capacity"}}});
    for (int i = 0; i < 3; ++i) {
        const auto r = run(*dev, quorlink::encodeReadCapacity10());
        EXPECT_FALSE(r.outcome.ok);
        EXPECT_FALSE(r.outcome.reason.empty());
        EXPECT_FALSE(run(*dev, quorlink::encodeReadCapacity16()).outcome.ok);
    }
    EXPECT_TRUE(run(*dev, quorlink::encodeTestUnitReady()).outcome.ok);
    EXPECT_TRUE(run(*dev, quorlink::encodeModeSense()).outcome.ok);
}

TEST_F(FaultTest, NthCallFailsOnlyThatCall) {
    auto dev = driveWith({{{"op", "vendor"}, {"code", "0x95"}, {"nth", 3}}});
    std::vector<bool> results;
    for (int i = 0; i < 5; ++i) {
        // 0x94 calls share the operation but not the code: they do not count.
        EXPECT_TRUE(run(*dev, vendorCmd(VendorForm::ChipUnit, 0x94)).outcome.ok);
        results.push_back(run(*dev, vendorCmd(VendorForm::ChipUnit, 0x95)).outcome.ok);
    }
    EXPECT_EQ(results, (std::vector<bool>{true, true, false, true, true}));
}

TEST_F(FaultTest, CountsBelongToTheProcessNotToOneOpenDevice) {
    auto dev = driveWith({{{"op", "tur"}, {"nth", 2}}});
    EXPECT_TRUE(run(*dev, quorlink::encodeTestUnitReady()).outcome.ok);
    dev.reset();
    auto reopened = ex_->open(1).device;
    EXPECT_FALSE(run(*reopened, quorlink::encodeTestUnitReady()).outcome.ok);
    EXPECT_TRUE(run(*reopened, quorlink::encodeTestUnitReady()).outcome.ok);
}

TEST_F(FaultTest, ReplyShapesForMissingAndShortReplies) {
    auto dev = driveWith(
        {{{"op", "vendor_r"}, {"code", "0x75"}, {"effect", "no_reply"}},
         {{"op", "vendor_r"}, {"code", "0x93"}, {"effect", "short_reply"}, {"length", 3}}});
    const auto missing = run(*dev, vendorCmd(VendorForm::Read, 0x75));
    EXPECT_TRUE(missing.outcome.ok);
    EXPECT_EQ(missing.outcome.reply, ReplyShape::Missing);

    const auto shortReply = run(*dev, vendorCmd(VendorForm::Read, 0x93));
    EXPECT_TRUE(shortReply.outcome.ok);
    EXPECT_EQ(shortReply.outcome.reply, ReplyShape::Short);
    EXPECT_EQ(shortReply.outcome.shortLength, 3u);
    // The data is still the chip list; the API layer cuts the file.
    EXPECT_EQ(shortReply.data[2], 0xAA);

    const auto plain = run(*dev, vendorCmd(VendorForm::Read, 0x9F));
    EXPECT_EQ(plain.outcome.reply, ReplyShape::Full);
}

TEST_F(FaultTest, SectorFaultHitsOnlyWritesCoveringIt) {
    auto dev = driveWith({{{"op", "write"}, {"sector", 40}}});
    std::vector<uint8_t> data(8 * 512, 0x11);
    EXPECT_TRUE(run(*dev, *quorlink::encodeWrite(32, 8, data)).outcome.ok);  // 32..39
    EXPECT_FALSE(run(*dev, *quorlink::encodeWrite(33, 8, data)).outcome.ok); // 33..40
    EXPECT_FALSE(run(*dev, *quorlink::encodeWrite(40, 1, data)).outcome.ok);
    EXPECT_TRUE(run(*dev, *quorlink::encodeWrite(41, 1, data)).outcome.ok);
    EXPECT_TRUE(run(*dev, *quorlink::encodeRead(40, 1)).outcome.ok);
    // The refused write left the image as it was.
    EXPECT_EQ(run(*dev, *quorlink::encodeRead(40, 1)).data, std::vector<uint8_t>(512, 0));
}

TEST_F(FaultTest, EachOperationNameMatchesItsCommands) {
    std::array<uint8_t, 512> block{};
    std::vector<uint8_t> sector(512, 0);
    const std::vector<std::pair<std::string, quorlink::Command>> cases = {
        {"tur", quorlink::encodeTestUnitReady()},
        {"capacity", quorlink::encodeReadCapacity10()},
        {"mode_sense", quorlink::encodeModeSense()},
        {"read", *quorlink::encodeRead(0, 1)},
        {"write", *quorlink::encodeWrite(0, 1, sector)},
        {"vendor_r", vendorCmd(VendorForm::Read, 0x75)},
        {"vendor_w", vendorCmd(VendorForm::Write, 0x9B, 0, 0, 0, block)},
        {"vendor", vendorCmd(VendorForm::ChipUnit, 0x94)},
        {"vendor_scan", vendorCmd(VendorForm::Scan, 0x94, 0, 0, 0xF1)},
    };
    for (const auto& [op, faulty] : cases) {
        SCOPED_TRACE(op);
        auto dev = driveWith({{{"op", op}}});
        for (const auto& [other, cmd] : cases) {
            EXPECT_EQ(run(*dev, cmd).outcome.ok, other != op) << "command of " << other;
        }
    }
}

TEST_F(FaultTest, LatencyDoesNotChangeAnswers) {
    auto d = usbDrive(1);
    d["latency_ms"] = 1;
    auto ex = executor({d});
    auto dev = ex->open(1).device;
    EXPECT_EQ(run(*dev, vendorCmd(VendorForm::Read, 0x75)).data[131], 0x29);
}

} // namespace
