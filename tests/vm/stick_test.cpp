// The stick's answers through the simulator's drive model, and the
// Bulk-Only byte layouts it speaks. The USB side runs only in the guest.
#include "bot.h"
#include "sim_fixture.h"
#include "stick.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

using simtest::Bytes;

TEST(BulkOnly, ParsesTheCommandBlockWrapper) {
    // READ(10) of 8 sectors at 0x12345, 4096 bytes in, tag 0xAABBCCDD.
    const Bytes bytes{0x55, 0x53, 0x42, 0x43, 0xDD, 0xCC, 0xBB, 0xAA, 0x00, 0x10, 0x00,
                      0x00, 0x80, 0x00, 0x0A, 0x28, 0x00, 0x00, 0x01, 0x23, 0x45, 0x00,
                      0x00, 0x08, 0x00, 0,    0,    0,    0,    0,    0};
    const auto cbw = stick::parseCbw(bytes);
    ASSERT_TRUE(cbw);
    EXPECT_EQ(cbw->tag, 0xAABBCCDDu);
    EXPECT_EQ(cbw->dataLength, 4096u);
    EXPECT_TRUE(cbw->dataIn);
    EXPECT_EQ(cbw->cdbLength, 10);
    EXPECT_EQ(cbw->cdb[0], 0x28);
    EXPECT_EQ(cbw->cdb[5], 0x45);

    Bytes badSignature = bytes;
    badSignature[3] = 0x44;
    Bytes noBlock = bytes;
    noBlock[14] = 0;
    Bytes longBlock = bytes;
    longBlock[14] = 17;
    for (const Bytes& bad :
         {badSignature, noBlock, longBlock, Bytes(bytes.begin(), bytes.end() - 1)}) {
        EXPECT_FALSE(stick::parseCbw(bad));
    }
}

TEST(BulkOnly, BuildsStatusAndSense) {
    EXPECT_EQ(stick::buildCsw(0x01020304, 0x200, stick::CswStatus::Failed),
              (std::array<uint8_t, 13>{0x55, 0x53, 0x42, 0x53, 0x04, 0x03, 0x02, 0x01, 0x00, 0x02,
                                       0x00, 0x00, 0x01}));
    EXPECT_EQ(
        stick::buildSense(stick::kWriteProtected),
        (std::array<uint8_t, 18>{0x70, 0, 0x07, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x27, 0, 0, 0, 0, 0}));
}

class StickTest : public simtest::SimTest {
protected:
    stick::Stick make(nlohmann::json drive, uint32_t blockSize = 512) {
        executor_ = executor({drive});
        auto opened = executor_->open(drive["index"].get<int>());
        EXPECT_TRUE(opened.device);
        return stick::Stick(std::move(opened.device), blockSize);
    }
    std::unique_ptr<quorlink::Executor> executor_;
};

struct Case {
    const char* name;
    Bytes cdb;
    uint32_t inLength;
    uint32_t outLength;
    nlohmann::json change; // merged into the drive
    stick::Sense sense;
};

TEST_F(StickTest, FailuresCarryTheSenseARealDriveGives) {
    // clang-format off
    const Case cases[] = {
        {"write to a protected medium", {0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 0, 512,
            {{"write_protect", true}}, stick::kWriteProtected},
        {"read past the end", {0x28, 0, 0, 0, 0x08, 0, 0, 0, 1, 0}, 512, 0, {}, stick::kLbaOutOfRange},
        {"unknown operation code", {0xEE, 0, 0, 0, 0, 0}, 0, 0, {}, stick::kInvalidOpcode},
        {"vital product data", {0x12, 1, 0x80, 0, 36, 0}, 36, 0, {}, stick::kInvalidField},
        {"unknown vendor code", {0xC6, 1, 0x42, 0, 0, 0, 0, 0, 0, 0, 0x02, 0, 0, 0, 0, 0}, 512, 0, {},
            stick::kInvalidField},
        {"a block asking for more than the host moves", {0x28, 0, 0, 0, 0, 0, 0, 0, 2, 0}, 512, 0, {},
            stick::kInvalidField},
        {"a faulty sector", {0x28, 0, 0, 0, 0, 0x10, 0, 0, 1, 0}, 512, 0,
            {{"faults", {{{"op", "read"}, {"sector", 16}}}}}, stick::kMediumError},
        {"no medium", {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8, 0, {{"capacity", 0}}, stick::kNotReady},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        nlohmann::json drive = simtest::usbDrive(1);
        if (c.change.is_object()) {
            drive.update(c.change);
        }
        stick::Stick s = make(drive);
        Bytes in(c.inLength), out(c.outLength, 0x5A);
        const stick::Answer a = s.answer(c.cdb, in, out);
        EXPECT_FALSE(a.ok);
        EXPECT_EQ(a.sense, c.sense);

        // REQUEST SENSE tells it once, then there is nothing more to tell.
        Bytes sense(18);
        const Bytes requestSense{0x03, 0, 0, 0, 18, 0};
        ASSERT_TRUE(s.answer(requestSense, sense, {}).ok);
        EXPECT_EQ(sense[2], c.sense.key);
        EXPECT_EQ(sense[12], c.sense.asc);
        ASSERT_TRUE(s.answer(requestSense, sense, {}).ok);
        EXPECT_EQ(sense[2], 0);
    }
}

TEST_F(StickTest, AnUnpluggedDriveIsNotReady) {
    stick::Stick s = make(simtest::usbDrive(1));
    quorlink::sim::RackState(quorlink::sim::loadRack(rackFile_)).setPlugged(1, false);
    const stick::Answer a = s.answer(Bytes{0, 0, 0, 0, 0, 0}, {}, {});
    EXPECT_FALSE(a.ok);
    EXPECT_EQ(a.sense, stick::kNotReady);
}

TEST_F(StickTest, BecomesReadyAfterTheFirstCommandsThatNeedTheMedium) {
    stick::Stick s = make(simtest::usbDrive(1));
    s.notReadyFor(2);
    const Bytes inquiry{0x12, 0, 0, 0, 36, 0}, unitReady{0, 0, 0, 0, 0, 0};
    const Bytes read{0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, requestSense{0x03, 0, 0, 0, 18, 0};
    Bytes in36(36), in512(512), sense(18);
    EXPECT_TRUE(s.answer(inquiry, in36, {}).ok); // no medium needed: not counted
    EXPECT_EQ(s.answer(unitReady, {}, {}).sense, stick::kBecomingReady);
    ASSERT_TRUE(s.answer(requestSense, sense, {}).ok);
    EXPECT_EQ(Bytes(sense.begin() + 12, sense.begin() + 14), (Bytes{0x04, 0x01}));
    EXPECT_EQ(s.answer(read, in512, {}).sense, stick::kBecomingReady);
    EXPECT_TRUE(s.answer(read, in512, {}).ok);
    EXPECT_TRUE(s.answer(unitReady, {}, {}).ok);
}

TEST_F(StickTest, LargerBlocksMapOntoTheDrivesSectors) {
    stick::Stick s = make(simtest::usbDrive(1), 4096); // 2048 sectors: 256 blocks
    Bytes capacity(8);
    ASSERT_TRUE(s.answer(Bytes{0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, capacity, {}).ok);
    EXPECT_EQ(capacity, (Bytes{0, 0, 0, 255, 0, 0, 0x10, 0}));

    Bytes block(4096);
    for (size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<uint8_t>(i / 512 + 1);
    }
    ASSERT_TRUE(s.answer(Bytes{0x2A, 0, 0, 0, 0, 3, 0, 0, 1, 0}, {}, block).ok);
    std::ifstream image(quorlink::sim::RackState(quorlink::sim::loadRack(rackFile_)).imagePath(1),
                        std::ios::binary);
    Bytes written(4096);
    image.seekg(3 * 4096);
    image.read(reinterpret_cast<char*>(written.data()), 4096);
    EXPECT_EQ(written, block);
}

} // namespace
