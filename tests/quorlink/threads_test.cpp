// Sixteen threads at once, each on a drive of its own, through the C API of
// the real libquorlink.so: each drive's faults counted for that drive alone,
// each thread's reply files gone with it, every call traced whole.
#include "support/temp_dir.h"
#include "support/test_common.h"

#include <quorlink/quorlink.h>

#include <nlohmann/json.hpp>

namespace {

using json = nlohmann::json;

constexpr int kDrives = 16, kRounds = 40;

// What one thread saw (" failed N" for a read-back that failed, " mismatch N"
// for one not its own block), and its reply directory.
using Report = std::pair<std::string, fs::path>;

void Hammer(int index, Report& r) {
    std::array<char, 4096> text{}, binary{};
    quorlink_reply_paths(text.data(), text.size(), binary.data(), binary.size());
    r.second = fs::path(binary.data()).parent_path();
    const int32_t handle = fnQuorbus_GetDiskHandle(index);
    for (int round = 1; round <= kRounds; ++round) {
        const std::string block = char(round) + std::string(511, char(index));
        fnQuorbus_VendorW(handle, 0x81, 512, block.data());
        if (fnQuorbus_VendorR(handle, 0x82, 0, 512) == 0) {
            r.first += " failed " + std::to_string(round);
        } else if (ufd::test::readFile(binary.data()) != block) {
            r.first += " mismatch " + std::to_string(round);
        }
    }
    fnQuorbus_CloseHandle(handle);
}

TEST(Threads, SixteenDrivesAtOnceEachReadOnlyTheirOwnReplies) {
    const ufd::test::TempDir temp;
    const fs::path& dir = temp.path;
    json rack = {{"trace", "trace.jsonl"}, {"drives", json::array()}};
    json drive = json::parse(R"({"chips": ["0x75"], "latency_ms": 1,
                                 "faults": [{"op": "vendor_r", "code": "0x82", "nth": 7}]})");
    for (int i = 1; i <= kDrives; ++i) {
        drive["index"] = i;
        rack["drives"].push_back(drive);
    }
    std::ofstream(dir / "rack.json") << rack.dump();
    setenv("QUORLINK_RACK", (dir / "rack.json").c_str(), 1);
    setenv("QUORLINK_STATE_DIR", (dir / "state").c_str(), 1);
    setenv("QUORLINK_REPLY_DIR", (dir / "reply").c_str(), 1);
    std::vector<Report> reports(kDrives);
    // The threads are joined as their vector goes, at the end of the loop.
    for (std::vector<std::jthread> threads; threads.size() < kDrives;) {
        threads.emplace_back(Hammer, threads.size() + 1, std::ref(reports[threads.size()]));
    }
    for (const auto& [seen, replies] : reports) {
        EXPECT_EQ(std::pair(seen, fs::exists(replies)), std::pair(std::string(" failed 7"), false))
            << replies;
    }
    std::ifstream trace(dir / "trace.jsonl");
    int lines = 0;
    for (std::string l; std::getline(trace, l); ++lines) {
        EXPECT_TRUE(json::accept(l)) << l;
    }
    EXPECT_EQ(lines, kDrives * (2 + 2 * kRounds));
}

} // namespace
