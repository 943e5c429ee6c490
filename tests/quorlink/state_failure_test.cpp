// A simulated drive whose state cannot be written (a full disk, a file in
// the way) fails the call with status 0 and its reason: no exception leaves
// the C API, and the old state file stays whole.
#include "../sg/fake_sysfs.h"
#include "api_internal.h"

#include <quorlink/quorlink.h>

#include <gtest/gtest.h>

#include <array>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(StateFailure, ConfigBlockThatCannotBeWrittenFailsTheCallAndKeepsTheOldOne) {
    const sgtest::TempDir temp;
    const fs::path& dir = temp.path;
    std::ofstream(dir / "rack.json")
        << R"({"drives": [{"index": 1, "capacity": 2048, "chips": ["0xE6"]}]})";
    setenv("QUORLINK_STATE_DIR", (dir / "state").c_str(), 1);
    setenv("QUORLINK_REPLY_DIR", (dir / "replies").c_str(), 1);
    setenv("QUORLINK_TRACE", (dir / "trace.jsonl").c_str(), 1);
    quorlink::installExecutorForTesting(quorlink::makeSimulatorExecutor(dir / "rack.json"));
    const int32_t h = fnQuorbus_GetDiskHandle(1);
    ASSERT_NE(h, 0);
    std::array<uint8_t, 512> block{};
    block.fill(0x11);
    ASSERT_EQ(fnQuorbus_VendorW(h, 0x81, 512, block.data()), 1);
    const fs::path config = dir / "state" / "drive-1" / "config.bin";
    const std::string old = readFile(config);
    ASSERT_EQ(old.size(), 512u);
    block.fill(0x22);

    // A full disk: the file size limit stands in for it.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit before{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    rlimit small = before;
    small.rlim_cur = 300;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const uint16_t full = fnQuorbus_VendorW(h, 0x81, 512, block.data());
    setrlimit(RLIMIT_FSIZE, &before);
    EXPECT_EQ(full, 0);
    EXPECT_EQ(readFile(config), old);

    // Something in the way of the new file (as a read-only directory would
    // be for any other user than root).
    fs::create_directory(config.string() + ".tmp." + std::to_string(getpid()));
    EXPECT_EQ(fnQuorbus_VendorW(h, 0x81, 512, block.data()), 0);
    EXPECT_EQ(readFile(config), old);
    const std::string trace = readFile(dir / "trace.jsonl");
    EXPECT_NE(trace.find("\"reason\":\"cannot write " + config.string()), std::string::npos)
        << trace;
    quorlink::installExecutorForTesting(nullptr);
    unsetenv("QUORLINK_STATE_DIR");
    unsetenv("QUORLINK_REPLY_DIR");
    unsetenv("QUORLINK_TRACE");
}

} // namespace
