// Sixteen threads at once, each on a drive of its own, through the C API of
// the real libquorlink.so: each drive's faults counted for that drive alone,
// each thread's reply files gone with it, every call traced whole.
#include "support/test_common.h"

#include <quorlink/quorlink.h>

#include <nlohmann/json.hpp>

namespace {

using json = nlohmann::json;

constexpr int kDrives = 16, kRounds = 40;
constexpr int kFailingRead = 7; // the n-th read-back of each drive fails

// What one thread saw: "" when every read-back was its own block, the
// rounds whose read-back failed, and its reply directory.
struct Report {
    std::string mismatch;
    std::vector<int> failedReads;
    fs::path dir;
};

void Hammer(int index, Report& r) {
    std::array<char, 4096> text{}, binary{};
    quorlink_reply_paths(text.data(), text.size(), binary.data(), binary.size());
    r.dir = fs::path(binary.data()).parent_path();
    const int32_t handle = fnQuorbus_GetDiskHandle(index);
    for (int round = 1; round <= kRounds; ++round) {
        std::string block(512, static_cast<char>(index));
        block[0] = static_cast<char>(round);
        fnQuorbus_VendorW(handle, 0x81, 512, block.data());
        if (fnQuorbus_VendorR(handle, 0x82, 0, 512) == 0) {
            r.failedReads.push_back(round);
        } else if (std::ifstream in(binary.data(), std::ios::binary);
                   std::string(std::istreambuf_iterator<char>(in), {}) != block) {
            r.mismatch += " round " + std::to_string(round);
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
             {"chips", {"0x75"}},
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
    for (const Report& r : reports) {
        EXPECT_EQ(std::tuple(r.mismatch, r.failedReads, fs::exists(r.dir)),
                  std::tuple("", std::vector<int>{kFailingRead}, false))
            << r.dir;
    }
    std::ifstream trace(dir / "trace.jsonl");
    int lines = 0;
    for (std::string l; std::getline(trace, l); ++lines) {
        EXPECT_TRUE(json::accept(l)) << l;
    }
    EXPECT_EQ(lines, kDrives * (2 + 2 * kRounds));
    fs::remove_all(dir);
}

} // namespace
