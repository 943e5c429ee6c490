// The stick's answers through the simulator's drive model, and the
// Bulk-Only byte layouts it speaks. The USB side runs only in the guest.
#include "support/test_common.h"

#include "sim_fixture.h"
#include "stick.h"

namespace {

using namespace quorlink::sim;
using simtest::Bytes;

TEST(BulkOnly, ByteLayouts) {
    // READ(10) of 8 sectors at 0x12345, 4096 bytes in, tag 0xAABBCCDD.
    const Bytes cbw{0x55, 0x53, 0x42, 0x43, 0xDD, 0xCC, 0xBB, 0xAA, 0x00, 0x10, 0x00,
                    0x00, 0x80, 0x00, 0x0A, 0x28, 0x00, 0x00, 0x01, 0x23, 0x45, 0x00,
                    0x00, 0x08, 0x00, 0,    0,    0,    0,    0,    0};
    EXPECT_EQ(stick::parseCbw(cbw),
              (stick::Cbw{0xAABBCCDD, 4096, true, 10, {0x28, 0, 0, 1, 0x23, 0x45, 0, 0, 8}}));
    // A wrong signature, no command block, one longer than 16 bytes, a short wrapper.
    for (auto [at, byte] : {std::pair<size_t, uint8_t>{3, 0x44}, {14, 0}, {14, 17}}) {
        Bytes bad = cbw;
        bad[at] = byte;
        EXPECT_FALSE(stick::parseCbw(bad)) << at << ' ' << int{byte};
    }
    EXPECT_FALSE(stick::parseCbw(std::span(cbw).first(30)));
    EXPECT_EQ(stick::buildCsw(0x01020304, 0x200, stick::CswStatus::Failed),
              (std::array<uint8_t, 13>{0x55, 0x53, 0x42, 0x53, 0x04, 0x03, 0x02, 0x01, 0x00, 0x02,
                                       0x00, 0x00, 0x01}));
    EXPECT_EQ(
        stick::buildSense({0x07, 0x27, 0x01}),
        (std::array<uint8_t, 18>{0x70, 0, 0x07, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x27, 1, 0, 0, 0, 0}));
}

class StickTest : public simtest::SimTest {
protected:
    stick::Stick make(const nlohmann::json& change, uint32_t blockSize = 512) {
        nlohmann::json drive = simtest::usbDrive(1);
        drive.update(change.is_object() ? change : nlohmann::json::object());
        executor_ = executor({drive});
        return stick::Stick(executor_->open(1).device, blockSize);
    }
    // What REQUEST SENSE tells: key, additional sense code and qualifier.
    static stick::Sense requestSense(stick::Stick& s) {
        Bytes d(18);
        EXPECT_TRUE(s.answer(Bytes{0x03, 0, 0, 0, 18, 0}, d, {}).ok);
        return {d[2], d[12], d[13]};
    }
    RackState rack() { return RackState(loadRack(rackFile_)); }
    std::unique_ptr<quorlink::Executor> executor_;
};

TEST_F(StickTest, FailuresCarryTheSenseARealDriveGives) {
    struct Case {
        const char* name;
        Bytes cdb;
        size_t inLength, outLength;
        nlohmann::json change; // merged into the drive
        stick::Sense sense;
        bool unplug = false; // the rack's drive is pulled after the stick opened it
    };
    // clang-format off
    const Case cases[] = {
        {"write to a protected medium", {0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 0, 512, {{"write_protect", true}}, {7, 0x27, 0}},
        {"read past the end", {0x28, 0, 0, 0, 0x08, 0, 0, 0, 1, 0}, 512, 0, {}, {5, 0x21, 0}},
        {"unknown operation code", {0xEE, 0, 0, 0, 0, 0}, 0, 0, {}, {5, 0x20, 0}},
        {"vital product data", {0x12, 1, 0x80, 0, 36, 0}, 36, 0, {}, {5, 0x24, 0}},
        {"unknown vendor code", {0xC6, 1, 0x42, 0, 0, 0, 0, 0, 0, 0, 0x02, 0, 0, 0, 0, 0}, 512, 0, {}, {5, 0x24, 0}},
        {"a block asking for more than the host moves", {0x28, 0, 0, 0, 0, 0, 0, 0, 2, 0}, 512, 0, {}, {5, 0x24, 0}},
        {"a faulty sector", {0x28, 0, 0, 0, 0, 0x10, 0, 0, 1, 0}, 512, 0, {{"faults", {{{"op", "read"}, {"sector", 16}}}}}, {3, 0x11, 0}},
        {"no medium", {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8, 0, {{"capacity", 0}}, {2, 0x3A, 0}},
        {"unplugged", {0, 0, 0, 0, 0, 0}, 0, 0, {}, {2, 0x3A, 0}, true},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        stick::Stick s = make(c.change);
        if (c.unplug) {
            rack().setPlugged(1, false);
        }
        Bytes in(c.inLength), out(c.outLength, 0x5A);
        const stick::Answer a = s.answer(c.cdb, in, out);
        // REQUEST SENSE tells it once, then there is nothing more to tell.
        EXPECT_EQ((std::tuple{a.ok, a.sense, requestSense(s), requestSense(s)}),
                  std::tuple(false, c.sense, c.sense, stick::kNoSense));
    }
}

TEST_F(StickTest, BecomesReadyAfterTheFirstCommandsThatNeedTheMedium) {
    stick::Stick s = make({});
    s.notReadyFor(2);
    const Bytes inquiry{0x12, 0, 0, 0, 36, 0}, unitReady{0, 0, 0, 0, 0, 0};
    const Bytes read{0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0};
    // INQUIRY needs no medium: not counted.
    // clang-format off
    const std::tuple<Bytes, size_t, stick::Sense> steps[] = {
        {inquiry, 36, {}}, {unitReady, 0, {2, 4, 1}}, {read, 512, {2, 4, 1}},
        {read, 512, {}}, {unitReady, 0, {}}};
    // clang-format on
    for (const auto& [cdb, inLength, sense] : steps) {
        Bytes in(inLength);
        const stick::Answer a = s.answer(cdb, in, {});
        EXPECT_EQ((std::tuple{a.ok, a.sense, requestSense(s)}),
                  std::tuple(sense == stick::kNoSense, sense, sense));
    }
}

TEST_F(StickTest, LargerBlocksMapOntoTheDrivesSectors) {
    stick::Stick s = make({}, 4096); // 2048 sectors: 256 blocks
    Bytes capacity(8);
    ASSERT_TRUE(s.answer(Bytes{0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, capacity, {}).ok);
    EXPECT_EQ(capacity, (Bytes{0, 0, 0, 255, 0, 0, 0x10, 0}));

    Bytes block(4096); // eight sectors, each its own byte
    std::generate(block.begin(), block.end(), [i = 0]() mutable { return i++ / 512 + 1; });
    ASSERT_TRUE(s.answer(Bytes{0x2A, 0, 0, 0, 0, 3, 0, 0, 1, 0}, {}, block).ok);
    std::ifstream image(rack().imagePath(1), std::ios::binary);
    const Bytes all(std::istreambuf_iterator<char>(image), std::istreambuf_iterator<char>{});
    EXPECT_EQ(Bytes(all.begin() + 3 * 4096, all.begin() + 4 * 4096), block);
}

} // namespace
