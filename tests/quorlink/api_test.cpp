// A program that knows only the C header, linked against libquorlink.so, on
// the default rack (its zero-latency copy) plus test drives at 9..14: handle
// and status conventions, reply-file semantics, vendor codes, sectors, the
// trace, and private runtime files. The library picks its backend once per
// process, so every test shares that one rack.
#include "platform/runtime_dir.h"
#include "support/test_common.h"

#include <quorlink/quorlink.h>

#include <nlohmann/json.hpp>

namespace {

using json = nlohmann::json;

std::optional<std::string> readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return in ? std::optional(std::string(std::istreambuf_iterator<char>(in), {})) : std::nullopt;
}

// -1: no file.
int sizeOf(const fs::path& p) {
    return fs::exists(p) ? static_cast<int>(fs::file_size(p)) : -1;
}

// 1 when this thread has reply files to be given.
uint16_t replyPaths() {
    char t[512], b[512];
    return quorlink_reply_paths(t, sizeof t, b, sizeof b);
}

class Api : public testing::Test {
protected:
    static void SetUpTestSuite() {
        char tmpl[] = "/tmp/quorlink-api-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        json rack = json::parse(std::ifstream(FAST_RACK));
        rack["trace"] = "trace.jsonl";
        rack["drives"][0]["capacity"] = 2048; // room enough for a write the PC's disk must refuse
        // Test drives: failing calls, failing opens, and unit lists of many lengths.
        const json extra = json::parse(R"([
            {"index": 9, "faults": [{"op": "tur", "effect": "fail"},
                                    {"op": "vendor_scan", "code": "0x95", "effect": "fail"}]},
            {"index": 10, "faults": [{"op": "capacity", "effect": "fail"}]},
            {"index": 11, "faults": [{"op": "open", "effect": "no_reply"}]},
            {"index": 12, "faults": [{"op": "open", "effect": "short_reply", "length": 7}]},
            {"index": 13, "faults": [{"op": "open", "effect": "fail"}]},
            {"index": 14, "chips": ["0x73", "0x75", "0xDA"], "units94": {"default": 2, "1:3": 7},
             "units95": {"default": 1, "0:0": 0, "0:2": 509, "1:0": 510, "1:1": 600}}])");
        for (const json& d : extra) {
            json drive = {{"capacity", 2048}, {"chips", {"0xE6"}}, {"units95", {{"default", 2}}}};
            drive.update(d);
            rack["drives"].push_back(drive);
        }
        for (const auto& d : rack["drives"]) {
            drives_[d["index"].get<int>()] = d;
        }
        std::ofstream(dir_ / "rack.json") << rack.dump();
        setenv("QUORLINK_RACK", (dir_ / "rack.json").c_str(), 1);
        unsetenv("QUORLINK_STATE_DIR");
        unsetenv("QUORLINK_TRACE");
    }
    static void TearDownTestSuite() { fs::remove_all(dir_); }
    void SetUp() override {
        setenv("QUORLINK_REPLY_DIR", (dir_ / "replies").c_str(), 1);
        unsetenv("XDG_RUNTIME_DIR");
        char t[512], b[512];
        ASSERT_EQ(quorlink_reply_paths(t, sizeof t, b, sizeof b), 1);
        text_ = t;
        binary_ = b;
    }
    static void plant(const fs::path& p) { std::ofstream(p) << "stale"; }
    // Trace lines written since the last call, without their time.
    static std::vector<json> newTrace() {
        std::ifstream in(dir_ / "trace.jsonl");
        std::vector<json> lines;
        size_t n = 0;
        for (std::string line; std::getline(in, line); ++n) {
            if (n >= traceSeen_) {
                lines.push_back(json::parse(line));
                EXPECT_TRUE(lines.back()["time"].is_string());
                lines.back().erase("time");
            }
        }
        traceSeen_ = n;
        return lines;
    }

    static inline fs::path dir_;
    fs::path text_, binary_;
    static inline std::map<int, json> drives_;
    static inline size_t traceSeen_ = 0;
};

TEST_F(Api, DiscoversTheRackDriveByDrive) {
    const fs::path mine = dir_ / "replies" / (std::to_string(getpid()) + "-0");
    EXPECT_EQ(std::pair(text_, binary_), std::pair(mine / "quorlink.txt", mine / "quorlink.bin"));
    char tiny[4];
    EXPECT_EQ(quorlink_reply_paths(tiny, sizeof tiny, tiny, sizeof tiny), 0);
    std::vector<int32_t> handles;
    for (int32_t index = -1; index <= 17; ++index) {
        SCOPED_TRACE(index);
        plant(text_);
        const int32_t h = fnQuorbus_GetDiskHandle(index);
        const auto it = drives_.find(index);
        const std::optional<std::string> line = readFile(text_);
        if (it == drives_.end() || index == 13) { // 13: opening fails
            EXPECT_EQ(std::pair(h, line), std::pair(0, std::optional<std::string>()))
                << "a stale device line would read as a drive";
            continue;
        }
        EXPECT_EQ(std::count(handles.begin(), handles.end(), h) + (h == 0), 0) << "distinct";
        handles.push_back(h);
        if (index == 11 || index == 12) { // opened without a device line, or with a short one
            EXPECT_EQ(line.has_value(), index == 12);
            EXPECT_EQ(line.value_or("1234567").size(), 7u);
            continue;
        }
        const bool usbDrive = it->second.value("kind", "usb") == "usb";
        EXPECT_EQ(line.value_or("").find("USBSTOR") != std::string::npos, usbDrive);
        if (!usbDrive) {
            const std::string sector(512, 'x');
            EXPECT_EQ(
                fnQuorbus_VendorR(h, 0x75, 0, 512) + fnQuorbus_Write(h, 1, 100, sector.data()), 0)
                << "no vendor command and no write to a fixed disk";
            EXPECT_FALSE(fs::exists(binary_));
        }
    }
    for (const int32_t h : handles) {
        EXPECT_EQ(fnQuorbus_CloseHandle(h), 1);
    }
    const int32_t again = fnQuorbus_GetDiskHandle(1);
    EXPECT_EQ(std::count(handles.begin(), handles.end(), again), 0)
        << "a released handle is not handed out again at once";
    EXPECT_EQ(fnQuorbus_CloseHandle(again), 1);
}

// Unknown handles, and a drive that fails the command, leave no reply file.
TEST_F(Api, FailedCallsLeaveNoReply) {
    const int32_t released = fnQuorbus_GetDiskHandle(1);
    ASSERT_EQ(fnQuorbus_CloseHandle(released), 1);
    const std::string data(512, '\1');
    newTrace();
    for (int32_t h : {0, released, 424242}) {
        plant(text_);
        plant(binary_);
        EXPECT_EQ(fnQuorbus_ReadCapacity(h) + fnQuorbus_ModeSense(h) + fnQuorbus_TestUnitReady(h) +
                      fnQuorbus_Inquiry(h) + fnQuorbus_Read(h, 1, 0) +
                      fnQuorbus_Write(h, 1, 0, data.data()) + fnQuorbus_VendorR(h, 0x75, 0, 512) +
                      fnQuorbus_VendorW(h, 0x81, 512, data.data()) +
                      fnQuorbus_Vendor(h, 0x94, 0, 0, 512) +
                      fnQuorbus_VendorScan(h, 0x95, 0, 0, 1, 0, 0, 512) + fnQuorbus_CloseHandle(h),
                  0)
            << h;
        EXPECT_EQ(std::pair(sizeOf(text_), sizeOf(binary_)), std::pair(-1, -1));
    }
    for (const json& line : newTrace()) {
        EXPECT_EQ(std::pair(line["reason"], line["drive"]),
                  std::pair(json("unknown handle"), json(-1)));
    }
    const int32_t h = fnQuorbus_GetDiskHandle(10);
    plant(text_);
    EXPECT_EQ((std::pair{fnQuorbus_ReadCapacity(h), sizeOf(text_)}), std::pair(uint16_t{0}, -1));
    EXPECT_EQ(fnQuorbus_CloseHandle(h), 1);
}

TEST_F(Api, EveryVendorCodeWithItsReplyLayoutAndSectors) {
    const int32_t h = fnQuorbus_GetDiskHandle(14);
    const std::string sectors(4 * 512, '\xE5');
    plant(text_);
    plant(binary_);
    // Commands without an answer leave both reply files alone.
    EXPECT_EQ(fnQuorbus_VendorW(h, 0x81, 512, sectors.data()) + fnQuorbus_TestUnitReady(h) +
                  fnQuorbus_Write(h, 4, 0, sectors.data()) + fnQuorbus_Read(h, 4, 0),
              4);
    EXPECT_EQ(std::pair(readFile(text_), readFile(binary_)),
              std::pair(std::optional<std::string>("stale"), std::optional<std::string>("stale")));
    // Their bytes are the device procedures' to check (FormatTrace, FailureCode).
    for (int code : {0x75, 0x93, 0x9F, 0x96, 0x98, 0x9B, 0x99, 0x82}) {
        EXPECT_EQ((std::pair{fnQuorbus_VendorR(h, code, 0, 512), sizeOf(binary_)}),
                  std::pair(uint16_t{1}, 512))
            << code;
    }
    // Unit lists: byte 0 unread, one byte per entry, then 0xAA 0x55 unless 510 fill the block.
    // scan form?, code, chip, unit, entries
    const int units[][5] = {{0, 0x94, 0, 0, 2},   {1, 0x94, 0, 1, 2},  {1, 0x94, 1, 3, 7},
                            {0, 0x95, 0, 0, 0},   {0, 0x95, 0, 1, 1},  {1, 0x95, 0, 2, 509},
                            {0, 0x95, 1, 0, 510}, {0, 0x95, 1, 1, 510}};
    for (const auto& [scan, code, chip, unit, entries] : units) {
        ASSERT_EQ(scan ? fnQuorbus_VendorScan(h, code, chip, unit, 0xF1, 0, 0, 512)
                       : fnQuorbus_Vendor(h, code, chip, unit, 512),
                  1);
        const std::string reply = readFile(binary_).value_or("");
        const size_t end = std::min(reply.find('\xAA', 1), size_t{511});
        EXPECT_EQ(std::tuple(reply.size(), reply[0], end, end == 511 || reply[end + 1] == '\x55'),
                  std::tuple(512u, '\0', entries + 1u, true))
            << std::hex << code << " chip " << chip << " unit " << unit;
    }
    EXPECT_EQ(fnQuorbus_Vendor(h, 0x95, 3, 0, 512), 0) << "no chip 3";
    for (int code : {0x01, 0x74, 0x97, 0x9A, 0xFF}) {
        EXPECT_EQ((std::pair{fnQuorbus_VendorR(h, code, 0, 512), sizeOf(binary_)}),
                  std::pair(uint16_t{0}, -1))
            << "unknown vendor code " << code;
    }
    EXPECT_EQ(fnQuorbus2K_KillEXE(), 1);
    EXPECT_EQ(fnQuorbus_TestUnitReady(h), 1) << "handles outlive KillEXE";
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
    fnQuorbus_Vendor(h, 300, 0, 0, 512);
    fnQuorbus_VendorW(h, 0x81, 512, nullptr);
    fnQuorbus_Write(h, INT32_MAX, 0, data.data());
    fnQuorbus2K_KillEXE();
    fnQuorbus_CloseHandle(h);
    const auto line = [](const char* fn, json args, int status, json more = json::object()) {
        json l = {{"fn", fn}, {"drive", 9}, {"args", std::move(args)}, {"status", status}};
        l.update(more);
        return l;
    };
    const json range = {{"reason", "argument out of range"}};
    const std::vector<json> expected = {
        line("fnQuorbus_Write", {h, 2, 32}, 1,
             {{"first", 32}, {"count", 2}, {"data", "00ab0ff0" + std::string(2040, '5')}}),
        line("fnQuorbus_VendorScan", {h, 0x95, 1, 2, 3, 4, 5, 512}, 0,
             {{"reason", "simulated fault on vendor_scan"}}),
        line("fnQuorbus_TestUnitReady", {h}, 0, {{"reason", "simulated fault on tur"}}),
        line("fnQuorbus_Read", {h, 1, -5}, 0, range),
        line("fnQuorbus_Vendor", {h, 300, 0, 0, 512}, 0, range),
        line("fnQuorbus_VendorW", {h, 0x81, 512}, 0, {{"reason", "no data"}}),
        line("fnQuorbus_Write", {h, INT32_MAX, 0}, 0,
             {{"first", 0},
              {"count", INT32_MAX},
              {"data", ""},
              {"reason", "argument out of range"}}),
        {{"fn", "fnQuorbus2K_KillEXE"}, {"drive", -1}, {"args", json::array()}, {"status", 1}},
        line("fnQuorbus_CloseHandle", {h}, 1),
    };
    EXPECT_EQ(newTrace(), expected);
}

// What a killed process left in the reply directory is cleared; a live
// one's, and anything not named like ours, are kept.
TEST_F(Api, WhatAKilledProcessLeftIsClearedAndALiveOnesKept) {
    const fs::path base = dir_ / "leftovers";
    const pid_t child = fork();
    if (child == 0) {
        _exit(0);
    }
    waitpid(child, nullptr, 0);
    const std::string dead = std::to_string(child) + "-0", alive = std::to_string(getppid()) + "-0";
    for (const std::string& d : {dead, alive, std::string("notes")}) {
        fs::create_directories(base / d);
        std::ofstream(base / d / "quorlink.txt") << "old";
    }
    setenv("QUORLINK_REPLY_DIR", base.c_str(), 1);
    ASSERT_EQ(replyPaths(), 1);
    std::set<std::string> left;
    for (const auto& entry : fs::directory_iterator(base)) {
        left.insert(entry.path().filename());
    }
    EXPECT_EQ(left, (std::set<std::string>{alive, "notes", std::to_string(getpid()) + "-0"}));
}

// Runtime directories another user could have made: each is refused with a
// message naming it, no drive is opened, and nothing is written through it.
TEST_F(Api, RuntimeDirectoryAnotherUserCouldHaveMadeIsRefused) {
    const fs::path victim = dir_ / "victim";
    std::ofstream(victim) << "root only";
    const std::tuple<const char*, void (*)(const fs::path&, const fs::path&), const char*> cases[] =
        {
            {"symlink",
             [](const fs::path& d, const fs::path& v) {
                 fs::create_directories(d.string() + ".real");
                 fs::permissions(d.string() + ".real", fs::perms::owner_all);
                 fs::create_directory_symlink(d.string() + ".real", d);
                 fs::create_symlink(v, d / "quorlink.txt");
             },
             "it is a symbolic link"},
            {"file", [](const fs::path& d, const fs::path&) { std::ofstream(d) << "x"; },
             "it is not a directory"},
            {"foreign", // made first by user 65534, links planted where replies go
             [](const fs::path& d, const fs::path& v) {
                 fs::create_directories(d);
                 fs::permissions(d, fs::perms::owner_all);
                 fs::create_symlink(v, d / "quorlink.txt");
                 fs::create_symlink(v, d / (std::to_string(getpid()) + "-0"));
                 ::mkfifo((d / "quorlink.bin").c_str(), 0666);
                 ::chown(d.c_str(), 65534, 65534);
             },
             "it belongs to user 65534"},
        };
    unsetenv("QUORLINK_REPLY_DIR");
    for (const auto& [name, make, why] : cases) {
        SCOPED_TRACE(name);
        if (std::string(name) == "foreign" && geteuid() != 0) {
            continue; // only root can give a directory away
        }
        const fs::path xdg = dir_ / "run" / name, ours = xdg / "quorlink";
        fs::create_directories(xdg);
        make(ours, victim);
        setenv("XDG_RUNTIME_DIR", xdg.c_str(), 1);
        const std::string refusal = "Runtime directory " + ours.string() + " refused: " + why;
        EXPECT_EQ(ufd::RuntimeDirectory().refusal.substr(0, refusal.size()), refusal);
        EXPECT_EQ(replyPaths(), 0);
        EXPECT_EQ(fnQuorbus_GetDiskHandle(1), 0);
        EXPECT_NE(readFile(dir_ / "trace.jsonl")->rfind(ours.string() + " refused"),
                  std::string::npos);
        EXPECT_EQ(readFile(victim), "root only");
    }
}

} // namespace
