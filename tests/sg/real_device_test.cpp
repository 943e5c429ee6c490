// Read-only checks on the real drives of this machine, opt-in
// (UFD_SG_TEST=1): the C API's discovery over indexes 0..16, then capacity,
// mode sense and a read on every disk it finds. Nothing is written.
#include "support/test_common.h"

#include <quorlink/quorlink.h>

namespace {

std::string contents(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

TEST(RealDrive, DiscoveryCapacityModeSenseAndRead) {
    if (const char* optIn = std::getenv("UFD_SG_TEST");
        optIn == nullptr || std::string_view(optIn) != "1") {
        GTEST_SKIP() << "set UFD_SG_TEST=1 to run read-only checks on this machine's /dev/sg*";
    }
    ::unsetenv("QUORLINK_RACK");
    std::string replies = fs::temp_directory_path() / "ufd-real-drive-XXXXXX";
    ASSERT_NE(::mkdtemp(replies.data()), nullptr);
    ::setenv("QUORLINK_REPLY_DIR", replies.c_str(), 1);
    char text[512], binary[512];
    ASSERT_EQ(quorlink_reply_paths(text, sizeof text, binary, sizeof binary), 1);
    int disks = 0;
    for (int32_t index = 0; index <= 16; ++index) {
        const int32_t h = fnQuorbus_GetDiskHandle(index);
        if (h == 0) {
            continue;
        }
        // Direct-access disks only: a CD drive without a disc has no capacity.
        if (contents(text).find("\\Disk&") != std::string::npos) {
            SCOPED_TRACE(contents(text));
            ++disks;
            ASSERT_EQ(fnQuorbus_ReadCapacity(h), 1);
            EXPECT_GT(std::atoll(contents(text).c_str()), 0);
            ASSERT_EQ(fnQuorbus_ModeSense(h), 1);
            const std::string mode = contents(binary);
            ASSERT_EQ(mode.size(), 512u);
            EXPECT_TRUE(mode[82] == 0 || static_cast<uint8_t>(mode[82]) == 0x80);
            EXPECT_EQ(fnQuorbus_Read(h, 1, 0), 1);
        }
        EXPECT_EQ(fnQuorbus_CloseHandle(h), 1);
    }
    fs::remove_all(replies);
    if (disks == 0) {
        GTEST_SKIP() << "no usable /dev/sg disk here (none present, none in [Drives] Allow= "
                     << "of quorlink.conf, or no access: see docs/real-drives.md)";
    }
}

} // namespace
