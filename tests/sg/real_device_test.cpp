// Read-only checks on a real drive, opt-in: UFD_SG_TEST_DEVICE=/dev/sgN.
// Nothing here writes to the drive.
#include "encoder.h"
#include "executor.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace {
using namespace quorlink;

std::optional<int> chosenIndex(std::string& why) {
    const char* env = std::getenv("UFD_SG_TEST_DEVICE");
    if (env == nullptr || *env == '\0') {
        why = "set UFD_SG_TEST_DEVICE=/dev/sgN (a USB drive you can read) to run this test";
        return std::nullopt;
    }
    const std::string path = env;
    const std::string prefix = "/dev/sg";
    if (path.rfind(prefix, 0) != 0 || path.size() == prefix.size() ||
        path.find_first_not_of("0123456789", prefix.size()) != std::string::npos) {
        why = "UFD_SG_TEST_DEVICE must look like /dev/sgN, not " + path;
        return std::nullopt;
    }
    return std::stoi(path.substr(prefix.size()));
}

uint32_t be32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

TEST(RealDrive, DiscoveryCapacityModeSenseAndRead) {
    std::string why;
    const auto index = chosenIndex(why);
    if (!index) {
        GTEST_SKIP() << why;
    }
    auto exec = makeSgExecutor();
    OpenResult opened = exec->open(*index);
    ASSERT_NE(opened.device, nullptr) << "cannot open /dev/sg" << *index
                                      << " (does the user have access? see docs/real-drives.md)";
    std::cout << "device line: " << opened.deviceLine << "\n";
    EXPECT_FALSE(opened.deviceLine.empty());
    Device& d = *opened.device;

    // A drive often reports a unit attention after being plugged; the first
    // TEST UNIT READY clears it.
    (void)d.execute(encodeTestUnitReady(), {});

    std::array<uint8_t, 8> cap{};
    const Outcome c = d.execute(encodeReadCapacity10(), cap);
    ASSERT_TRUE(c.ok) << c.reason;
    const uint32_t lastLba = be32(cap.data());
    EXPECT_GT(lastLba, 0u);
    EXPECT_EQ(be32(cap.data() + 4), kSectorSize);

    std::vector<uint8_t> mode(kModeSenseAllocation);
    const Outcome m = d.execute(encodeModeSense(), mode);
    ASSERT_TRUE(m.ok) << m.reason;
    EXPECT_LE(mode[0] + 1u, mode.size()) << "mode data length beyond the allocation";
    std::cout << "write protected: " << ((mode[2] & 0x80) != 0 ? "yes" : "no") << "\n";

    std::vector<uint8_t> sector(kSectorSize);
    const Outcome r = d.execute(*encodeRead(0, 1), sector);
    ASSERT_TRUE(r.ok) << r.reason;

    const Outcome beyond = d.execute(*encodeRead(int64_t{lastLba} + 1, 1), sector);
    EXPECT_FALSE(beyond.ok) << "a read past the last sector succeeded";
}

} // namespace
