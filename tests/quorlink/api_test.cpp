// A program that knows only the C header, linked against libquorlink.so, on
// the default rack (its zero-latency copy) plus test drives at 9..14: handle
// and status conventions, reply-file semantics, vendor codes, sectors, the
// trace, and private runtime files. The library picks its backend once per
// process, so every test shares that one rack.
#include "support/test_common.h"

#include <quorlink/quorlink.h>

#include <nlohmann/json.hpp>

#include <regex>

namespace {

using json = nlohmann::json;

// "none": no file.
std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "none";
}

// Blocks to write.
const std::string kBlocks(4 * 512, '\xE5');

struct Api : testing::Test {
    static void SetUpTestSuite() {
        char tmpl[] = "/tmp/quorlink-api-test-XXXXXX";
        dir_ = mkdtemp(tmpl) ? tmpl : throw std::runtime_error("no temp directory");
        json rack = json::parse(std::ifstream(FAST_RACK));
        rack["trace"] = "trace.jsonl";
        rack["drives"][0]["capacity"] = 2048; // room enough for a write the PC's disk must refuse
        // Test drives: failing calls, failing opens, and unit lists of many lengths.
        const json extra = json::parse(R"([
            {"index": 9, "capacity": 2048, "faults": [{"op": "tur", "effect": "fail"},
                                    {"op": "vendor_scan", "code": "0x95", "effect": "fail"}]},
            {"index": 13, "faults": [{"op": "open", "effect": "fail"}]},
            {"index": 14, "capacity": 2048, "chips": ["0x73", "0x75", "0xDA"],
             "units94": {"default": 2, "1:3": 7}, "faults": [{"op": "capacity", "effect": "fail"}],
             "units95": {"0:0": 0, "0:2": 509, "1:0": 510, "1:1": 600}}])");
        rack["drives"].insert(rack["drives"].end(), extra.begin(), extra.end());
        std::ofstream(dir_ / "rack.json") << rack.dump();
        setenv("QUORLINK_RACK", (dir_ / "rack.json").c_str(), 1);
        unsetenv("QUORLINK_STATE_DIR");
        unsetenv("QUORLINK_TRACE");
    }
    static void TearDownTestSuite() { fs::remove_all(dir_); }
    void SetUp() override {
        setenv("QUORLINK_REPLY_DIR", (dir_ / "replies").c_str(), 1);
        unsetenv("XDG_RUNTIME_DIR");
        ASSERT_EQ(replyPaths(), 1);
    }
    // 1 when this thread has reply files to be given, then named by text_ and binary_.
    uint16_t replyPaths() {
        char t[512] = "", b[512] = "";
        const uint16_t given = quorlink_reply_paths(t, sizeof t, b, sizeof b);
        std::tie(text_, binary_) = std::pair(fs::path(t), fs::path(b));
        return given;
    }
    static void plant(const auto&... p) { ((std::ofstream(p) << "stale"), ...); }
    // Trace lines written since the last call, without their time.
    static std::vector<json> newTrace() {
        std::ifstream in(dir_ / "trace.jsonl");
        std::vector<json> lines;
        for (std::string line; std::getline(in, line);) {
            lines.push_back(json::parse(line));
            EXPECT_EQ(lines.back()["time"].is_string() ? lines.back().erase("time") : 0, 1u);
        }
        lines.erase(lines.begin(), lines.begin() + std::exchange(traceSeen_, lines.size()));
        return lines;
    }

    static inline fs::path dir_;
    fs::path text_, binary_;
    static inline size_t traceSeen_ = 0;
};

TEST_F(Api, DiscoversTheRackDriveByDrive) {
    const fs::path mine = dir_ / "replies" / (std::to_string(getpid()) + "-0");
    EXPECT_EQ(std::pair(text_, binary_), std::pair(mine / "quorlink.txt", mine / "quorlink.bin"));
    char tiny[4];
    EXPECT_EQ(quorlink_reply_paths(tiny, sizeof tiny, tiny, sizeof tiny), 0);
    // Each index from -1 to 17: '-' no drive (13: opening fails), 'd' the PC's disk, 'u' USB.
    const std::string kinds = "-duuuuuuu-u----u---";
    std::vector<int32_t> handles;
    for (int32_t index = -1; index <= 17; ++index) {
        SCOPED_TRACE(index);
        plant(text_);
        const int32_t h = fnQuorbus_GetDiskHandle(index);
        const std::string line = readFile(text_);
        if (kinds[index + 1] == '-') {
            EXPECT_EQ(std::pair(h, line), std::pair(0, std::string("none")))
                << "a stale device line would read as a drive";
            continue;
        }
        handles.push_back(h);
        if (kinds[index + 1] == 'u') {
            EXPECT_TRUE(line.starts_with("USBSTOR\\")) << line;
        } else { // the PC's disk: no vendor command and no write
            EXPECT_EQ(std::tuple(line.find("USBSTOR"), fnQuorbus_VendorR(h, 0x75, 0, 512),
                                 fnQuorbus_Write(h, 1, 100, kBlocks.data())),
                      std::tuple(std::string::npos, 0, 0));
            EXPECT_EQ(readFile(binary_), "none");
        }
    }
    EXPECT_EQ(std::ranges::count_if(handles, fnQuorbus_CloseHandle), handles.size());
    const int32_t again = fnQuorbus_GetDiskHandle(1);
    EXPECT_EQ(std::ranges::count(handles, again), 0) << "a released handle is not reused at once";
    EXPECT_EQ(fnQuorbus_CloseHandle(again), 1);
}

// Unknown handles leave no reply file.
TEST_F(Api, FailedCallsLeaveNoReply) {
    const int32_t released = fnQuorbus_GetDiskHandle(1);
    ASSERT_EQ(fnQuorbus_CloseHandle(released), 1);
    const char* data = kBlocks.data();
    newTrace();
    for (int32_t h : {0, released, 424242}) {
        plant(text_, binary_);
        EXPECT_EQ(fnQuorbus_ReadCapacity(h) + fnQuorbus_ModeSense(h) + fnQuorbus_TestUnitReady(h) +
                      fnQuorbus_Inquiry(h) + fnQuorbus_Read(h, 1, 0) +
                      fnQuorbus_Write(h, 1, 0, data) + fnQuorbus_VendorR(h, 0x75, 0, 512) +
                      fnQuorbus_VendorW(h, 0x81, 512, data) + fnQuorbus_Vendor(h, 0x94, 0, 0, 512) +
                      fnQuorbus_VendorScan(h, 0x95, 0, 0, 1, 0, 0, 512) + fnQuorbus_CloseHandle(h),
                  0)
            << h;
        EXPECT_EQ(readFile(text_) + readFile(binary_), "nonenone");
    }
    for (const json& line : newTrace()) {
        EXPECT_EQ(line.value("reason", "") + " " + line["drive"].dump(), "unknown handle -1");
    }
}

TEST_F(Api, EveryVendorCodeWithItsReplyLayoutAndSectors) {
    const int32_t h = fnQuorbus_GetDiskHandle(14);
    plant(text_, binary_);
    // Commands without an answer leave both reply files alone.
    EXPECT_EQ(fnQuorbus_VendorW(h, 0x81, 512, kBlocks.data()) + fnQuorbus_TestUnitReady(h) +
                  fnQuorbus_Write(h, 4, 0, kBlocks.data()) + fnQuorbus_Read(h, 4, 0),
              4);
    EXPECT_EQ(readFile(text_) + readFile(binary_), "stalestale");
    // A drive that fails the command leaves no reply either.
    EXPECT_EQ((std::pair{fnQuorbus_ReadCapacity(h), readFile(text_)}),
              std::pair(uint16_t{0}, std::string("none")));
    // Unknown codes fail and leave no reply, not even the one before (known codes: tests/device).
    for (int code : {0x01, 0x74, 0x97, 0x9A, 0xFF}) {
        ASSERT_EQ(fnQuorbus_VendorR(h, 0x75, 0, 512), 1);
        EXPECT_EQ((std::pair{fnQuorbus_VendorR(h, code, 0, 512), readFile(binary_)}),
                  std::pair(uint16_t{0}, std::string("none")))
            << code;
    }
    // Unit lists: byte 0 unread, one byte per entry, then 0xAA 0x55 unless 510 fill the block.
    // scan form?, code, chip, unit, entries
    const int units[][5] = {{0, 0x94, 0, 0, 2},   {1, 0x94, 1, 3, 7},   {0, 0x95, 0, 0, 0},
                            {1, 0x95, 0, 2, 509}, {0, 0x95, 1, 0, 510}, {0, 0x95, 1, 1, 510}};
    for (const auto& [scan, code, chip, unit, entries] : units) {
        ASSERT_EQ(scan ? fnQuorbus_VendorScan(h, code, chip, unit, 0xF1, 0, 0, 512)
                       : fnQuorbus_Vendor(h, code, chip, unit, 512),
                  1);
        const std::string reply = readFile(binary_);
        const size_t end = std::min(reply.find('\xAA', 1), size_t{511});
        EXPECT_EQ(std::tuple(reply.size(), reply[0], end, end == 511 || reply[end + 1] == '\x55'),
                  std::tuple(512u, '\0', entries + 1u, true))
            << std::hex << code << " chip " << chip << " unit " << unit;
    }
    EXPECT_EQ(fnQuorbus_Vendor(h, 0x95, 3, 0, 512), 0) << "no chip 3";
    EXPECT_EQ(fnQuorbus_CloseHandle(h), 1);
}

TEST_F(Api, TraceNamesEveryArgumentWithStatusReasonAndWrittenData) {
    const int32_t h = fnQuorbus_GetDiskHandle(9);
    const std::string data = std::string("\x00\xAB\x0F\xF0", 4) + std::string(1020, 'U');
    newTrace();
    fnQuorbus_Write(h, 2, 32, data.data());
    fnQuorbus_VendorScan(h, 0x95, 1, 2, 3, 4, 5, 512);
    fnQuorbus_TestUnitReady(h);
    // Arguments no block holds never reach the drive, and a count too large
    // for the caller's buffer is not read, not even for the trace.
    fnQuorbus_Read(h, 1, -5);
    // A read's data is dropped: 1 MiB is read, 4 GiB is never buffered.
    fnQuorbus_Read(h, 2048, 0);
    fnQuorbus_Read(h, 8388607, 0);
    fnQuorbus_Vendor(h, 300, 0, 0, 512);
    fnQuorbus_VendorW(h, 0x81, 512, nullptr);
    fnQuorbus_Write(h, INT32_MAX, 0, data.data());
    fnQuorbus2K_KillEXE();
    fnQuorbus_CloseHandle(h);
    // clang-format off
    const std::string rows = R"([
{"fn": "fnQuorbus_Write", "drive": 9, "args": [@h, 2, 32], "status": 1, "first": 32, "count": 2, "data": ""},
{"fn": "fnQuorbus_VendorScan", "drive": 9, "args": [@h, 149, 1, 2, 3, 4, 5, 512], "status": 0, "reason": "simulated fault on vendor_scan"},
{"fn": "fnQuorbus_TestUnitReady", "drive": 9, "args": [@h], "status": 0, "reason": "simulated fault on tur"},
{"fn": "fnQuorbus_Read", "drive": 9, "args": [@h, 1, -5], "status": 0, "reason": "argument out of range"},
{"fn": "fnQuorbus_Read", "drive": 9, "args": [@h, 2048, 0], "status": 1},
{"fn": "fnQuorbus_Read", "drive": 9, "args": [@h, 8388607, 0], "status": 0, "reason": "transfer too large"},
{"fn": "fnQuorbus_Vendor", "drive": 9, "args": [@h, 300, 0, 0, 512], "status": 0, "reason": "argument out of range"},
{"fn": "fnQuorbus_VendorW", "drive": 9, "args": [@h, 129, 512], "status": 0, "reason": "no data"},
{"fn": "fnQuorbus_Write", "drive": 9, "args": [@h, 2147483647, 0], "status": 0, "first": 0, "count": 2147483647, "data": "", "reason": "argument out of range"},
{"fn": "fnQuorbus2K_KillEXE", "drive": -1, "args": [], "status": 1},
{"fn": "fnQuorbus_CloseHandle", "drive": 9, "args": [@h], "status": 1}])";
    // clang-format on
    json expected = json::parse(std::regex_replace(rows, std::regex("@h"), std::to_string(h)));
    expected[0]["data"] = "00ab0ff0" + std::string(2040, '5');
    EXPECT_EQ(json(newTrace()), expected);
}

// What a killed process left in the reply directory is cleared; a live
// one's, and anything not named like ours, are kept.
TEST_F(Api, WhatAKilledProcessLeftIsClearedAndALiveOnesKept) {
    const fs::path base = dir_ / "leftovers";
    // No process has a number above the kernel's pid_max (at most 2^22).
    const std::string dead = "2147483647-0", alive = std::to_string(getppid()) + "-0";
    for (const std::string& d : {dead, alive, std::string("notes")}) {
        fs::create_directories(base / d);
        std::ofstream(base / d / "quorlink.txt") << "old";
    }
    setenv("QUORLINK_REPLY_DIR", base.c_str(), 1);
    ASSERT_EQ(replyPaths(), 1);
    EXPECT_EQ(std::set<fs::path>(fs::directory_iterator(base), {}),
              (std::set<fs::path>{base / alive, base / "notes", text_.parent_path()}));
}

// Runtime directories another user could have made: each is refused with a
// message naming it, no drive is opened, and nothing is written through it.
TEST_F(Api, RuntimeDirectoryAnotherUserCouldHaveMadeIsRefused) {
    const fs::path victim = dir_ / "victim";
    std::ofstream(victim) << "root only";
    unsetenv("QUORLINK_REPLY_DIR");
    // Links and a FIFO planted where replies go, reached through a link, or
    // made first by user 65534; or a file where the directory should be.
    const std::pair<std::string, const char*> cases[] = {{"symlink", "it is a symbolic link"},
                                                         {"file", "it is not a directory"},
                                                         {"foreign", "it belongs to user 65534"}};
    for (const auto& [name, why] : cases) {
        SCOPED_TRACE(name);
        if (name == "foreign" && geteuid() != 0) {
            continue; // only root can give a directory away
        }
        const fs::path xdg = dir_ / "run" / name, ours = xdg / "quorlink", traps = xdg / "traps";
        fs::create_directories(traps);
        fs::permissions(traps, fs::perms::owner_all);
        fs::create_symlink(victim, traps / "quorlink.txt");
        fs::create_symlink(victim, traps / (std::to_string(getpid()) + "-0"));
        ::mkfifo((traps / "quorlink.bin").c_str(), 0666);
        if (name == "symlink") {
            fs::create_directory_symlink(traps, ours);
        } else if (name == "file") {
            std::ofstream(ours) << "x";
        } else {
            fs::rename(traps, ours);
            ASSERT_EQ(::chown(ours.c_str(), 65534, 65534), 0);
        }
        setenv("XDG_RUNTIME_DIR", xdg.c_str(), 1);
        const std::string refusal = "Runtime directory " + ours.string() + " refused: " + why;
        EXPECT_EQ(std::pair(replyPaths(), fnQuorbus_GetDiskHandle(1)), std::pair(uint16_t{0}, 0));
        EXPECT_NE(readFile(dir_ / "trace.jsonl").rfind(refusal), std::string::npos);
        EXPECT_EQ(readFile(victim), "root only");
    }
}

} // namespace
