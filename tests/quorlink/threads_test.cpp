// Sixteen threads at once, each on a drive of its own, through the C API of
// the real libquorlink.so: every reply a thread reads must be its own
// drive's, and each drive's faults counted for that drive alone.
#include <quorlink/quorlink.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

constexpr int kDrives = 16, kRounds = 40;
constexpr int kFailingRead = 7; // the n-th read-back of each drive fails
constexpr uint64_t kBaseCapacity = 4096;

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// What one thread saw going wrong (empty when nothing did), its reply file,
// and the rounds whose read-back failed.
struct Report {
    std::string mismatch;
    fs::path text;
    std::vector<int> failedReads;
};

void Hammer(int index, Report& r) {
    std::array<char, 4096> text{}, binary{};
    if (quorlink_reply_paths(text.data(), text.size(), binary.data(), binary.size()) == 0) {
        r.mismatch = "no reply paths";
        return;
    }
    r.text = text.data();
    const int32_t handle = fnQuorbus_GetDiskHandle(index);
    const std::string line = readFile(r.text);
    if (handle == 0 || line.find("\\S" + std::to_string(index) + "\r") == std::string::npos) {
        r.mismatch = "device line " + line;
        return;
    }
    for (int round = 1; round <= kRounds && r.mismatch.empty(); ++round) {
        std::array<uint8_t, 512> block{};
        block.fill(static_cast<uint8_t>(index));
        block[0] = static_cast<uint8_t>(round);
        const std::string when = " in round " + std::to_string(round);
        if (fnQuorbus_ReadCapacity(handle) == 0 ||
            readFile(r.text) != std::to_string(kBaseCapacity + index) + "\r\n") {
            r.mismatch = "capacity" + when;
        } else if (fnQuorbus_VendorW(handle, 0x81, 512, block.data()) == 0) {
            r.mismatch = "config write" + when;
        } else if (fnQuorbus_VendorR(handle, 0x82, 0, 512) == 0) {
            r.failedReads.push_back(round);
        } else if (readFile(binary.data()) != std::string(block.begin(), block.end())) {
            r.mismatch = "config read-back" + when;
        }
    }
    fnQuorbus_CloseHandle(handle);
}

TEST(Threads, SixteenDrivesAtOnceEachReadOnlyTheirOwnReplies) {
    char tmpl[] = "/tmp/quorlink-threads-test-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const fs::path dir = tmpl;
    json rack = {{"trace", "trace.jsonl"}, {"drives", json::array()}};
    for (int i = 1; i <= kDrives; ++i) {
        rack["drives"].push_back(
            {{"index", i},
             {"kind", "usb"},
             {"capacity", kBaseCapacity + static_cast<uint64_t>(i)},
             {"chips", {"0x75"}},
             {"serial", "S" + std::to_string(i)},
             {"latency_ms", 1},
             {"faults", {{{"op", "vendor_r"}, {"code", "0x82"}, {"nth", kFailingRead}}}}});
    }
    std::ofstream(dir / "rack.json") << rack.dump();
    setenv("QUORLINK_RACK", (dir / "rack.json").c_str(), 1);
    setenv("QUORLINK_STATE_DIR", (dir / "state").c_str(), 1);
    setenv("QUORLINK_REPLY_DIR", (dir / "reply").c_str(), 1);

    std::vector<Report> reports(kDrives);
    std::vector<std::thread> threads;
    for (int i = 1; i <= kDrives; ++i) {
        threads.emplace_back(Hammer, i, std::ref(reports[static_cast<size_t>(i - 1)]));
    }
    for (auto& t : threads) {
        t.join();
    }
    std::set<fs::path> paths;
    for (int i = 1; i <= kDrives; ++i) {
        const Report& r = reports[static_cast<size_t>(i - 1)];
        EXPECT_EQ(r.mismatch, "") << "drive " << i;
        EXPECT_EQ(r.failedReads, std::vector<int>{kFailingRead}) << "drive " << i;
        EXPECT_FALSE(fs::exists(r.text.parent_path())) << "ends with its thread";
        paths.insert(r.text);
    }
    EXPECT_EQ(paths.size(), static_cast<size_t>(kDrives));
    // Every call is in the trace, each line whole.
    std::ifstream trace(dir / "trace.jsonl");
    int lines = 0;
    for (std::string l; std::getline(trace, l); ++lines) {
        EXPECT_TRUE(json::accept(l)) << l;
    }
    EXPECT_EQ(lines, kDrives * (2 + 3 * kRounds));
    fs::remove_all(dir);
}

} // namespace
