// A program that knows only the C header, linked against libquorlink.so, on
// the default rack (its zero-latency copy) plus test drives at 8..13: handle
// and status conventions, reply-file semantics, every vendor code, sectors,
// and the trace. The library picks its backend once per process, so every
// test shares that one rack.
#include <quorlink/quorlink.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

std::optional<std::string> readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    return std::string(std::istreambuf_iterator<char>(in), {});
}

json usb(int index, json faults, uint64_t capacity = 2048) {
    return {{"index", index},
            {"capacity", capacity},
            {"chips", {"0xE6"}},
            {"units95", {{"default", 2}}},
            // append(): GCC 12 at -O2 and up misreads "T" + string as an
            // overlapping copy (-Wrestrict).
            {"serial", std::string("T").append(std::to_string(index))},
            {"faults", std::move(faults)}};
}

json fault(const char* op, const char* effect, int length = 0, const char* code = nullptr) {
    json f = {{"op", op}, {"effect", effect}, {"length", length}};
    if (code != nullptr) {
        f["code"] = code;
    }
    return f;
}

class Api : public testing::Test {
protected:
    static void SetUpTestSuite() {
        char tmpl[] = "/tmp/quorlink-api-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        std::ifstream in(FAST_RACK);
        json rack = json::parse(in);
        rack["trace"] = "trace.jsonl";
        rack["drives"][0]["capacity"] = 2048; // room enough for a write the PC's disk must refuse
        rack["drives"].push_back(usb(8, json::array(), 4294967312ULL)); // READ CAPACITY(16)
        rack["drives"].push_back(
            usb(9, {fault("capacity", "short_reply", 2), fault("mode_sense", "no_reply"),
                    fault("tur", "fail"), fault("vendor_r", "no_reply", 0, "0x75"),
                    fault("vendor", "short_reply", 100, "0x94"),
                    fault("vendor_scan", "fail", 0, "0x95")}));
        rack["drives"].push_back(usb(10, {fault("capacity", "fail")}));
        rack["drives"].push_back(usb(11, {fault("open", "no_reply")}));
        rack["drives"].push_back(usb(12, {fault("open", "short_reply", 7)}));
        rack["drives"].push_back(usb(13, {fault("open", "fail")}));
        json layouts = usb(14, json::array());
        layouts.update(
            {{"chips", {"0x73", "0x75", "0xDA"}},
             {"units94", {{"default", 2}, {"1:3", 7}}},
             {"units95", {{"default", 1}, {"0:0", 0}, {"0:2", 509}, {"1:0", 510}, {"1:1", 600}}}});
        rack["drives"].push_back(layouts);
        for (const auto& d : rack["drives"]) {
            drives_[d["index"].get<int>()] = d;
        }
        std::ofstream(dir_ / "rack.json") << rack.dump();
        setenv("QUORLINK_RACK", (dir_ / "rack.json").c_str(), 1);
        setenv("QUORLINK_REPLY_DIR", (dir_ / "replies").c_str(), 1);
        unsetenv("QUORLINK_STATE_DIR");
        unsetenv("QUORLINK_TRACE");
        char t[512];
        char b[512];
        ASSERT_EQ(quorlink_reply_paths(t, sizeof t, b, sizeof b), 1);
        text_ = t;
        binary_ = b;
    }
    static void TearDownTestSuite() {
        std::error_code ec;
        fs::remove_all(dir_, ec);
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

    static inline fs::path dir_, text_, binary_;
    static inline std::map<int, json> drives_;
    static inline size_t traceSeen_ = 0;
};

TEST_F(Api, DiscoversTheRackDriveByDrive) {
    const fs::path mine = dir_ / "replies" / (std::to_string(getpid()) + "-0");
    EXPECT_EQ(text_, mine / "quorlink.txt");
    EXPECT_EQ(binary_, mine / "quorlink.bin");
    EXPECT_EQ(fs::status(mine).permissions() & fs::perms::all, fs::perms::owner_all);
    char tiny[4];
    EXPECT_EQ(quorlink_reply_paths(tiny, sizeof tiny, tiny, sizeof tiny), 0);
    std::vector<int32_t> handles;
    for (int32_t index = -1; index <= 17; ++index) {
        SCOPED_TRACE(index);
        plant(text_);
        const int32_t h = fnQuorbus_GetDiskHandle(index);
        const auto it = drives_.find(index);
        if (it == drives_.end() || index == 13) { // 13: opening fails
            EXPECT_EQ(h, 0);
            EXPECT_FALSE(fs::exists(text_)) << "a stale device line would read as a drive";
            continue;
        }
        ASSERT_NE(h, 0);
        EXPECT_EQ(std::count(handles.begin(), handles.end(), h), 0) << "handles are distinct";
        handles.push_back(h);
        const bool usbDrive = it->second.value("kind", "usb") == "usb";
        const std::optional<std::string> line = readFile(text_);
        if (index == 11 || index == 12) { // opened without a device line, or with a short one
            EXPECT_EQ(line.has_value(), index == 12);
            EXPECT_EQ(line.value_or("1234567").size(), 7u);
            continue;
        }
        ASSERT_TRUE(line.has_value());
        EXPECT_EQ(line->find("USBSTOR") != std::string::npos, usbDrive) << *line;
        EXPECT_EQ(line->substr(line->size() - 2), "\r\n");
        const std::string sector(512, 'x');
        if (!usbDrive) {
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

TEST_F(Api, UnknownHandlesFailWithoutReply) {
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
        EXPECT_FALSE(fs::exists(text_));
        EXPECT_FALSE(fs::exists(binary_));
    }
    for (const json& line : newTrace()) {
        EXPECT_EQ(line["reason"], "unknown handle") << line;
        EXPECT_EQ(line["drive"], -1);
    }
}

TEST_F(Api, RepliesAreWholeShortOrMissingAsTheDriveAnswers) {
    using Call = uint16_t (*)(int32_t);
    const Call capacity = [](int32_t h) { return fnQuorbus_ReadCapacity(h); };
    const Call mode = [](int32_t h) { return fnQuorbus_ModeSense(h); };
    const Call info = [](int32_t h) { return fnQuorbus_VendorR(h, 0x75, 0, 512); };
    const Call chips = [](int32_t h) { return fnQuorbus_VendorR(h, 0x93, 0, 512); };
    const Call units = [](int32_t h) { return fnQuorbus_Vendor(h, 0x94, 0, 0, 512); };
    const Call scan = [](int32_t h) { return fnQuorbus_VendorScan(h, 0x95, 0, 0, 1, 0, 0, 512); };
    // drive, call, status, reply file, its size (-1: no file)
    const std::tuple<int, Call, uint16_t, const fs::path*, int> cases[] = {
        {8, capacity, 1, &text_, 12},  // 4294967312 by READ CAPACITY(16)
        {10, capacity, 0, &text_, -1}, // failed
        {9, capacity, 1, &text_, 2},   // short reply
        {9, mode, 1, &binary_, -1},    // no reply
        {9, info, 1, &binary_, -1},    // no reply for this code
        {9, units, 1, &binary_, 100},  // short reply for this code
        {9, scan, 0, &binary_, -1},    // failed for this code
        {9, chips, 1, &binary_, 512},  // a code without a fault
    };
    for (const auto& [drive, call, status, file, size] : cases) {
        const int32_t h = fnQuorbus_GetDiskHandle(drive);
        plant(*file);
        EXPECT_EQ(call(h), status);
        EXPECT_EQ(fs::exists(*file) ? static_cast<int>(fs::file_size(*file)) : -1, size);
        fnQuorbus_CloseHandle(h);
    }
}

TEST_F(Api, EveryVendorCodeWithItsReplyLayoutAndSectors) {
    const int32_t h = fnQuorbus_GetDiskHandle(14);
    ASSERT_NE(h, 0);
    std::string config(512, '\0');
    for (size_t i = 0; i < config.size(); ++i) {
        config[i] = static_cast<char>(255 - i % 256);
    }
    plant(text_);
    plant(binary_);
    const std::string sectors(4 * 512, '\xE5');
    // Commands without an answer leave both reply files alone.
    EXPECT_EQ(fnQuorbus_VendorW(h, 0x81, 512, config.data()) + fnQuorbus_TestUnitReady(h) +
                  fnQuorbus_Write(h, 4, 0, sectors.data()) + fnQuorbus_Read(h, 4, 0),
              4);
    EXPECT_EQ(readFile(text_), "stale");
    EXPECT_EQ(readFile(binary_), "stale");
    // Their bytes are the device procedures' to check (FormatTrace, FailureCode).
    for (int code : {0x75, 0x93, 0x9F, 0x96, 0x98, 0x9B, 0x99, 0x82}) {
        ASSERT_EQ(fnQuorbus_VendorR(h, code, 0, 512), 1) << code;
        EXPECT_EQ(fs::file_size(binary_), 512U) << code;
    }
    EXPECT_EQ(readFile(binary_), config) << "0x82 reads back the block 0x81 stored";
    // Unit lists: byte 0 unread, one byte per entry, then 0xAA 0x55 unless 510 fill the block.
    // scan form?, code, chip, unit, entries
    const int units[][5] = {{0, 0x94, 0, 0, 2},   {1, 0x94, 0, 1, 2},  {1, 0x94, 1, 3, 7},
                            {0, 0x95, 0, 0, 0},   {0, 0x95, 0, 1, 1},  {1, 0x95, 0, 2, 509},
                            {0, 0x95, 1, 0, 510}, {0, 0x95, 1, 1, 510}};
    for (const auto& [scan, code, chip, unit, entries] : units) {
        SCOPED_TRACE(testing::Message()
                     << std::hex << code << " chip " << chip << " unit " << unit);
        ASSERT_EQ(scan ? fnQuorbus_VendorScan(h, code, chip, unit, 0xF1, 0, 0, 512)
                       : fnQuorbus_Vendor(h, code, chip, unit, 512),
                  1);
        const std::string reply = readFile(binary_).value();
        ASSERT_EQ(reply.size(), 512U);
        EXPECT_EQ(reply[0], 0);
        const size_t end = std::min(reply.find('\xAA', 1), size_t{511});
        EXPECT_EQ(end, size_t(entries) + 1);
        EXPECT_TRUE(end == 511 || reply[end + 1] == '\x55');
    }
    EXPECT_EQ(fnQuorbus_Vendor(h, 0x95, 3, 0, 512), 0) << "no chip 3";
    for (int code : {0x01, 0x74, 0x97, 0x9A, 0xFF}) {
        EXPECT_EQ(fnQuorbus_VendorR(h, code, 0, 512), 0) << "unknown vendor code " << code;
        EXPECT_FALSE(fs::exists(binary_));
    }
    EXPECT_EQ(fnQuorbus_Read(h, 1, 2000000000), 0) << "past the end of the drive";
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

} // namespace
