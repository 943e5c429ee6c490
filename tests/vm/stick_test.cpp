// The stick's answers through the simulator's drive model, and the
// Bulk-Only byte layouts it speaks. The USB side runs only in the guest.
#include "support/test_common.h"

#include "sim_fixture.h"
#include "stick.h"

namespace {

using namespace quorlink::sim;
using namespace stick;
using simtest::Bytes;

TEST(BulkOnly, ByteLayouts) {
    // READ(10) of 8 sectors at 0x12345, 4096 bytes in, tag 0xAABBCCDD.
    // clang-format off
    const Bytes cbw{'U', 'S', 'B', 'C', 0xDD, 0xCC, 0xBB, 0xAA, 0, 0x10, 0, 0, 0x80, 0, 10,
                    0x28, 0, 0, 1, 0x23, 0x45, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0};
    // clang-format on
    EXPECT_EQ(parseCbw(cbw),
              (Cbw{0xAABBCCDD, 4096, true, 10, {0x28, 0, 0, 1, 0x23, 0x45, 0, 0, 8}}));
    // A wrong signature, no command block, one longer than 16 bytes, a short wrapper.
    for (auto [at, byte] : {std::pair<size_t, uint8_t>{3, 0x44}, {14, 0}, {14, 17}}) {
        Bytes bad = cbw;
        bad[at] = byte;
        EXPECT_FALSE(parseCbw(bad)) << at << ' ' << int{byte};
    }
    EXPECT_FALSE(parseCbw(std::span(cbw).first(30)));
    EXPECT_EQ(buildCsw(0x01020304, 0x200, CswStatus::Failed),
              (std::array<uint8_t, 13>{'U', 'S', 'B', 'S', 4, 3, 2, 1, 0, 2, 0, 0, 1}));
    EXPECT_EQ(buildSense({7, 0x27, 1}),
              (std::array<uint8_t, 18>{0x70, 0, 7, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x27, 1}));
}

class StickTest : public simtest::SimTest {
protected:
    stick::Stick make(const nlohmann::json& change, uint32_t blockSize = 512) {
        executor_ = executor({simtest::usbDrive(1, change)});
        return stick::Stick(executor_->open(1).device, blockSize);
    }
    // What REQUEST SENSE tells: key, additional sense code and qualifier.
    static Sense requestSense(Stick& s) {
        Bytes d(18);
        EXPECT_TRUE(s.answer(Bytes{0x03, 0, 0, 0, 18, 0}, d, {}).ok);
        return {d[2], d[12], d[13]};
    }
    RackState rack() { return RackState(loadRack(rackFile_)); }
    std::unique_ptr<quorlink::Executor> executor_;
};

TEST_F(StickTest, FailuresCarryTheSenseARealDriveGives) {
    // What, command block, data in and out lengths, change to the drive, sense, pulled after open.
    // clang-format off
    const std::tuple<const char*, Bytes, size_t, size_t, nlohmann::json, Sense, bool> cases[] = {
        {"read past the end", {0x28, 0, 0, 0, 0x08, 0, 0, 0, 1, 0}, 512, 0, {}, {5, 0x21, 0}, false},
        {"unknown operation code", {0xEE, 0, 0, 0, 0, 0}, 0, 0, {}, {5, 0x20, 0}, false},
        {"vital product data", {0x12, 1, 0x80, 0, 36, 0}, 36, 0, {}, {5, 0x24, 0}, false},
        {"unknown vendor code", {0xC6, 1, 0x42, 0, 0, 0, 0, 0, 0, 0, 0x02, 0, 0, 0, 0, 0}, 512, 0, {}, {5, 0x24, 0}, false},
        {"a block asking for more than the host moves", {0x28, 0, 0, 0, 0, 0, 0, 0, 2, 0}, 512, 0, {}, {5, 0x24, 0}, false},
        {"a faulty sector", {0x28, 0, 0, 0, 0, 0x10, 0, 0, 1, 0}, 512, 0, {{"faults", {{{"op", "read"}, {"sector", 16}}}}}, {3, 0x11, 0}, false},
        {"no medium", {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8, 0, {{"capacity", 0}}, {2, 0x3A, 0}, false},
        {"unplugged", {0, 0, 0, 0, 0, 0}, 0, 0, {}, {2, 0x3A, 0}, true},
    };
    // clang-format on
    for (const auto& [name, cdb, inLength, outLength, change, sense, unplug] : cases) {
        SCOPED_TRACE(name);
        Stick s = make(change);
        rack().setPlugged(1, !unplug);
        Bytes in(inLength), out(outLength, 0x5A);
        const Answer a = s.answer(cdb, in, out);
        // REQUEST SENSE tells it once, then there is nothing more to tell.
        EXPECT_EQ((std::tuple{a.ok, a.sense, requestSense(s), requestSense(s)}),
                  std::tuple(false, sense, sense, kNoSense));
    }
}

TEST_F(StickTest, BecomesReadyAfterTheFirstCommandsThatNeedTheMedium) {
    Stick s = make({});
    s.notReadyFor(2);
    const Bytes inquiry{0x12, 0, 0, 0, 36, 0}, ready(6), read{0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0};
    // INQUIRY needs no medium: not counted.
    // clang-format off
    const std::tuple<Bytes, size_t, Sense> steps[] = {
        {inquiry, 36, {}}, {ready, 0, {2, 4, 1}}, {read, 512, {2, 4, 1}}, {read, 512, {}}, {ready, 0, {}}};
    // clang-format on
    for (const auto& [cdb, inLength, sense] : steps) {
        Bytes in(inLength);
        const Answer a = s.answer(cdb, in, {});
        EXPECT_EQ((std::tuple{a.ok, a.sense, requestSense(s)}),
                  std::tuple(sense == kNoSense, sense, sense));
    }
}

// A controller that stops answering (the drive model's hang_after) leaves
// the host without data or status, and nothing for REQUEST SENSE, until the
// host resets the USB device; then it answers again, what was written
// before the hang still there.
TEST_F(StickTest, StopsAnsweringUntilTheHostResetsIt) {
    Stick s = make({{"hang_after", 2}});
    const Bytes ready(6), read{0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0},
        write{0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0};
    const Bytes pattern(512, 0xA5);
    Bytes in(512);
    const auto silent = [&](const Bytes& cdb) {
        Bytes data(cdb[0] == 0x28 ? 512 : 0);
        return s.answer(cdb, data, {}).silent;
    };
    EXPECT_FALSE(s.answer(write, {}, pattern).silent);
    EXPECT_EQ((std::tuple{silent(ready), silent(read), silent(ready), requestSense(s)}),
              std::tuple(false, true, true, kNoSense));
    EXPECT_EQ(s.reset(), "");
    const Answer back = s.answer(read, in, {});
    EXPECT_EQ((std::tuple{back.ok, back.silent, in}), std::tuple(true, false, pattern));
}

TEST_F(StickTest, LargerBlocksMapOntoTheDrivesSectors) {
    Stick s = make({}, 4096); // 2048 sectors: 256 blocks
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

TEST_F(StickTest, AFakeFlashAliasesWholeMegabyteTransfers) {
    // 1 MiB written at sector 8192, then 1 MiB read at sector 0: on a flash
    // of 4096 sectors behind 16384 reported the write lands at 0.
    const std::tuple<uint32_t, nlohmann::json, bool> cases[] = {
        {512, {{"flash_sectors", 4096}}, true},
        {4096, {{"flash_sectors", 4096}}, true},
        {512, {}, false},
    };
    for (const auto& [blockSize, flash, aliased] : cases) {
        SCOPED_TRACE(testing::Message() << blockSize << ' ' << flash.dump());
        nlohmann::json change = flash;
        change["capacity"] = 16384;
        Stick s = make(change, blockSize);
        rack().reset(1); // the rows share the rack's state directory
        const uint32_t per = blockSize / 512, at = 8192 / per, count = 2048 / per;
        Bytes pattern(1 << 20), back(1 << 20);
        std::generate(pattern.begin(), pattern.end(), [i = 0u]() mutable { return i++ * 7 / 512; });
        // READ(10) and WRITE(10) of `count` blocks, as the library encodes them for sectors.
        const auto cdb = [](const std::optional<quorlink::Command>& c) {
            return Bytes(c->cdb.begin(), c->cdb.begin() + c->cdbLength);
        };
        ASSERT_TRUE(s.answer(cdb(quorlink::encodeWrite(at, count, pattern)), {}, pattern).ok);
        ASSERT_TRUE(s.answer(cdb(quorlink::encodeRead(0, count)), back, {}).ok);
        EXPECT_EQ(back == pattern, aliased);
        EXPECT_EQ(std::count(back.begin(), back.end(), 0) == 1 << 20, !aliased);
    }
}

} // namespace
