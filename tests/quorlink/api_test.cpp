// The C API's conventions over a scripted executor: statuses and handles,
// reply files, call records.
#include "api_internal.h"
#include "encoder.h"

#include <quorlink/quorlink.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace quorlink {
namespace {

namespace fs = std::filesystem;

struct SeenCommand {
    std::vector<uint8_t> cdb;
    std::vector<uint8_t> dataOut;
    size_t dataInSize = 0;
};

struct SeenCall {
    std::string function;
    int32_t driveIndex;
    std::vector<std::pair<std::string, int64_t>> arguments;
    int64_t status;
    std::vector<uint8_t> writeData;
    std::string reason;
};

// What the fake drive answers to one operation code: fills the data phase and
// returns the outcome.
using Answer = std::function<Outcome(const Command&, std::span<uint8_t>)>;

// Shared between the test and the executor the library owns.
struct Script {
    std::map<int, std::string> drives; // index -> device line
    std::map<uint8_t, Answer> answers; // first block byte -> answer
    std::vector<SeenCommand> commands;
    std::vector<SeenCall> calls;
    int resets = 0;
    int devicesAlive = 0;
};

class FakeDevice final : public Device {
public:
    explicit FakeDevice(std::shared_ptr<Script> s) : script_(std::move(s)) {
        ++script_->devicesAlive;
    }
    ~FakeDevice() override { --script_->devicesAlive; }
    Outcome execute(const Command& cmd, std::span<uint8_t> dataIn) override {
        script_->commands.push_back({{cmd.cdb.begin(), cmd.cdb.begin() + cmd.cdbLength},
                                     {cmd.dataOut.begin(), cmd.dataOut.end()},
                                     dataIn.size()});
        auto it = script_->answers.find(cmd.cdb[0]);
        if (it == script_->answers.end()) {
            return {true, {}};
        }
        return it->second(cmd, dataIn);
    }

private:
    std::shared_ptr<Script> script_;
};

class FakeExecutor final : public Executor {
public:
    explicit FakeExecutor(std::shared_ptr<Script> s) : script_(std::move(s)) {}
    void record(const CallRecord& r) override {
        script_->calls.push_back({r.function,
                                  r.driveIndex,
                                  r.arguments,
                                  r.status,
                                  {r.writeData.begin(), r.writeData.end()},
                                  r.reason});
    }
    OpenResult open(int index) override {
        auto it = script_->drives.find(index);
        if (it == script_->drives.end()) {
            return {};
        }
        return {std::make_unique<FakeDevice>(script_), it->second};
    }
    void reset() override { ++script_->resets; }

private:
    std::shared_ptr<Script> script_;
};

Answer fill(std::vector<uint8_t> bytes, Outcome outcome = {true, {}}) {
    return [bytes, outcome](const Command&, std::span<uint8_t> data) {
        std::copy_n(bytes.begin(), std::min(bytes.size(), data.size()), data.begin());
        return outcome;
    };
}

Answer failing(const char* reason) {
    return [reason](const Command&, std::span<uint8_t>) { return Outcome{false, reason}; };
}

std::optional<std::vector<uint8_t>> readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string asText(const std::vector<uint8_t>& v) {
    return {v.begin(), v.end()};
}

class Api : public testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/quorlink-api-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        replyDir_ = dir_ / "replies";
        setenv("QUORLINK_REPLY_DIR", replyDir_.c_str(), 1);
        script_->drives = {{0, "IDE\\Disk\\0"}, {3, "USBSTOR\\Disk&Ven_Test\\3"}};
        installExecutorForTesting(std::make_unique<FakeExecutor>(script_));
    }
    void TearDown() override {
        installExecutorForTesting(nullptr);
        unsetenv("QUORLINK_REPLY_DIR");
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    fs::path text() const { return replyDir_ / "quorlink.txt"; }
    fs::path binary() const { return replyDir_ / "quorlink.bin"; }
    void plant(const fs::path& p) {
        fs::create_directories(p.parent_path());
        std::ofstream(p) << "stale";
    }
    int32_t openDrive3() {
        const int32_t h = fnQuorbus_GetDiskHandle(3);
        EXPECT_NE(h, 0);
        script_->commands.clear();
        script_->calls.clear();
        return h;
    }

    std::shared_ptr<Script> script_ = std::make_shared<Script>();
    fs::path dir_;
    fs::path replyDir_;
};

TEST_F(Api, HandlesAreNonZeroDistinctAndCarryTheDeviceLine) {
    const int32_t a = fnQuorbus_GetDiskHandle(3);
    ASSERT_NE(a, 0);
    EXPECT_EQ(asText(readFile(text()).value()).substr(0, 25), "USBSTOR\\Disk&Ven_Test\\3\r\n");
    const int32_t b = fnQuorbus_GetDiskHandle(0);
    EXPECT_NE(b, 0);
    EXPECT_NE(a, b);
    EXPECT_EQ(asText(readFile(text()).value()), "IDE\\Disk\\0\r\n");
    EXPECT_EQ(script_->devicesAlive, 2);

    EXPECT_EQ(fnQuorbus_CloseHandle(a), 1);
    EXPECT_EQ(script_->devicesAlive, 1) << "closing must release the device";
    const int32_t c = fnQuorbus_GetDiskHandle(3);
    EXPECT_NE(c, a) << "a released handle is not handed out again at once";
    EXPECT_NE(c, 0);
}

TEST_F(Api, NoHandleForIndicesOutsideTheRackOrEmptySlots) {
    for (int32_t index : {-1, 1, 16, 17, 1000}) {
        SCOPED_TRACE(index);
        plant(text());
        EXPECT_EQ(fnQuorbus_GetDiskHandle(index), 0);
        EXPECT_FALSE(fs::exists(text())) << "a stale device line would read as a drive";
    }
    EXPECT_EQ(script_->devicesAlive, 0);
}

TEST_F(Api, UnknownHandlesFailWithoutReplyOrCommand) {
    const int32_t released = fnQuorbus_GetDiskHandle(3);
    ASSERT_EQ(fnQuorbus_CloseHandle(released), 1);
    script_->commands.clear();
    std::vector<uint8_t> data(512, 1);
    for (int32_t h : {0, released, 424242}) {
        SCOPED_TRACE(h);
        plant(text());
        plant(binary());
        EXPECT_EQ(fnQuorbus_ReadCapacity(h), 0);
        EXPECT_EQ(fnQuorbus_ModeSense(h), 0);
        EXPECT_EQ(fnQuorbus_TestUnitReady(h), 0);
        EXPECT_EQ(fnQuorbus_Inquiry(h), 0);
        EXPECT_EQ(fnQuorbus_Read(h, 1, 0), 0);
        EXPECT_EQ(fnQuorbus_Write(h, 1, 0, data.data()), 0);
        EXPECT_EQ(fnQuorbus_VendorR(h, 0x75, 0, 512), 0);
        EXPECT_EQ(fnQuorbus_VendorW(h, 0x81, 512, data.data()), 0);
        EXPECT_EQ(fnQuorbus_Vendor(h, 0x94, 0, 0, 512), 0);
        EXPECT_EQ(fnQuorbus_VendorScan(h, 0x95, 0, 0, 1, 0, 0, 512), 0);
        EXPECT_EQ(fnQuorbus_CloseHandle(h), 0);
        EXPECT_FALSE(fs::exists(text()));
        EXPECT_FALSE(fs::exists(binary()));
    }
    EXPECT_TRUE(script_->commands.empty());
}

TEST_F(Api, ReadCapacityWritesSectorCount) {
    script_->answers[0x25] = fill({0x00, 0x0F, 0x42, 0x3F, 0, 0, 2, 0}); // last LBA 999999
    const int32_t h = openDrive3();
    EXPECT_EQ(fnQuorbus_ReadCapacity(h), 1);
    EXPECT_EQ(asText(readFile(text()).value()), "1000000\r\n");
    ASSERT_EQ(script_->commands.size(), 1U) << "no 16-byte retry for a small drive";
}

TEST_F(Api, ReadCapacityFallsBackToSixteenBytesForHugeDrives) {
    script_->answers[0x25] = fill({0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 2, 0});
    script_->answers[0x9E] = fill({0, 0, 0, 1, 0, 0, 0, 0x0F, 0, 0, 2, 0});
    const int32_t h = openDrive3();
    EXPECT_EQ(fnQuorbus_ReadCapacity(h), 1);
    EXPECT_EQ(asText(readFile(text()).value()), "4294967312\r\n");
    ASSERT_EQ(script_->commands.size(), 2U);
    const Command sixteen = encodeReadCapacity16();
    EXPECT_EQ(script_->commands[1].cdb,
              std::vector<uint8_t>(sixteen.cdb.begin(), sixteen.cdb.begin() + sixteen.cdbLength));
    EXPECT_GE(script_->commands[1].dataInSize, 12U);
}

TEST_F(Api, ReadCapacityFailureLeavesNoFile) {
    for (uint8_t failingOp : {uint8_t{0x25}, uint8_t{0x9E}}) {
        SCOPED_TRACE(int{failingOp});
        script_->answers[0x25] = fill({0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 2, 0});
        script_->answers[failingOp] = failing("no medium");
        const int32_t h = openDrive3();
        plant(text());
        EXPECT_EQ(fnQuorbus_ReadCapacity(h), 0);
        EXPECT_FALSE(fs::exists(text()));
        ASSERT_FALSE(script_->calls.empty());
        EXPECT_EQ(script_->calls.back().reason, "no medium");
    }
}

TEST_F(Api, ModeSenseMapsWriteProtectToByte82) {
    struct Case {
        uint8_t deviceSpecific;
        uint8_t byte82FromDrive;
        uint8_t expected;
    };
    const Case cases[] = {
        {0x80, 0x00, 0x80}, {0x90, 0x00, 0x80}, {0x00, 0x80, 0x00}, {0x10, 0xFF, 0x00}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << int{c.deviceSpecific} << "/" << int{c.byte82FromDrive});
        std::vector<uint8_t> mode(192, 0);
        mode[0] = 191;
        mode[2] = c.deviceSpecific;
        mode[7] = 0x42;
        mode[82] = c.byte82FromDrive;
        script_->answers[0x1A] = fill(mode);
        const int32_t h = openDrive3();
        ASSERT_EQ(fnQuorbus_ModeSense(h), 1);
        const auto file = readFile(binary()).value();
        ASSERT_EQ(file.size(), 512U);
        EXPECT_EQ(file[82], c.expected);
        EXPECT_EQ(file[2], c.deviceSpecific) << "the mode data stays as returned";
        EXPECT_EQ(file[7], 0x42);
        EXPECT_EQ(file[0], 191);
    }
}

TEST_F(Api, BinaryRepliesHonourTheExecutorsShape) {
    std::vector<uint8_t> answer(512);
    for (size_t i = 0; i < answer.size(); ++i) {
        answer[i] = static_cast<uint8_t>(i * 7 + 1);
    }
    struct Case {
        const char* name;
        Outcome outcome;
        std::optional<size_t> fileSize; // nullopt: no file
    };
    const Case cases[] = {
        {"full", {true, {}, ReplyShape::Full, 0}, 512},
        {"short", {true, {}, ReplyShape::Short, 100}, 100},
        {"missing", {true, {}, ReplyShape::Missing, 0}, std::nullopt},
        {"failed", {false, "unit attention", ReplyShape::Full, 0}, std::nullopt},
    };
    using Invoke = std::function<uint16_t(int32_t)>;
    const std::pair<const char*, Invoke> calls[] = {
        {"VendorR", [](int32_t h) { return fnQuorbus_VendorR(h, 0x75, 0, 512); }},
        {"Vendor", [](int32_t h) { return fnQuorbus_Vendor(h, 0x94, 1, 2, 512); }},
        {"VendorScan", [](int32_t h) { return fnQuorbus_VendorScan(h, 0x95, 1, 2, 3, 0, 0, 512); }},
    };
    for (const auto& [fn, invoke] : calls) {
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << fn << " " << c.name);
            script_->answers[kVendorOpcode] = fill(answer, c.outcome);
            const int32_t h = openDrive3();
            plant(binary());
            EXPECT_EQ(invoke(h), c.outcome.ok ? 1 : 0);
            const auto file = readFile(binary());
            ASSERT_EQ(file.has_value(), c.fileSize.has_value());
            if (file) {
                ASSERT_EQ(file->size(), *c.fileSize);
                EXPECT_TRUE(std::equal(file->begin(), file->end(), answer.begin()));
            }
        }
    }
}

TEST_F(Api, TextRepliesHonourTheExecutorsShape) {
    script_->answers[0x25] = fill({0, 0, 0x03, 0xE7, 0, 0, 2, 0}, {true, {}, ReplyShape::Short, 2});
    const int32_t h = openDrive3();
    ASSERT_EQ(fnQuorbus_ReadCapacity(h), 1);
    EXPECT_EQ(asText(readFile(text()).value()), "10");
    script_->answers[0x25] =
        fill({0, 0, 0x03, 0xE7, 0, 0, 2, 0}, {true, {}, ReplyShape::Missing, 0});
    ASSERT_EQ(fnQuorbus_ReadCapacity(h), 1);
    EXPECT_FALSE(fs::exists(text()));
}

TEST_F(Api, EachReplyOverwritesTheLastAndLeavesTheOtherKindAlone) {
    script_->answers[kVendorOpcode] = [](const Command& cmd, std::span<uint8_t> data) {
        std::fill(data.begin(), data.end(), cmd.cdb[2]); // echo the vendor code
        return Outcome{true, {}};
    };
    const int32_t h = openDrive3();
    plant(text());
    ASSERT_EQ(fnQuorbus_VendorR(h, 0x11, 0, 512), 1);
    ASSERT_EQ(fnQuorbus_VendorR(h, 0x22, 0, 512), 1);
    const auto file = readFile(binary()).value();
    ASSERT_EQ(file.size(), 512U);
    EXPECT_EQ(file.front(), 0x22);
    EXPECT_EQ(file.back(), 0x22);
    EXPECT_EQ(asText(readFile(text()).value()), "stale") << "binary calls keep the text file";
    for (const auto& entry : fs::directory_iterator(replyDir_)) {
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos)
            << "temporary file left behind: " << entry.path();
    }
}

TEST_F(Api, CommandsWithoutAnswerWriteNoFile) {
    const int32_t h = openDrive3();
    std::vector<uint8_t> data(1024, 0x3C);
    plant(text());
    plant(binary());
    EXPECT_EQ(fnQuorbus_TestUnitReady(h), 1);
    EXPECT_EQ(fnQuorbus_Inquiry(h), 1);
    EXPECT_EQ(fnQuorbus_Read(h, 2, 10), 1);
    EXPECT_EQ(fnQuorbus_Write(h, 2, 10, data.data()), 1);
    EXPECT_EQ(fnQuorbus_VendorW(h, 0x81, 512, data.data()), 1);
    EXPECT_EQ(asText(readFile(text()).value()), "stale");
    EXPECT_EQ(asText(readFile(binary()).value()), "stale");

    ASSERT_EQ(script_->commands.size(), 5U);
    EXPECT_EQ(script_->commands[0].cdb[0], 0x00);
    EXPECT_EQ(script_->commands[1].cdb[0], 0x12);
    EXPECT_EQ(script_->commands[2].cdb, (std::vector<uint8_t>{0x28, 0, 0, 0, 0, 10, 0, 0, 2, 0}));
    EXPECT_EQ(script_->commands[2].dataInSize, 1024U) << "the read's data has somewhere to go";
    EXPECT_EQ(script_->commands[3].cdb, (std::vector<uint8_t>{0x2A, 0, 0, 0, 0, 10, 0, 0, 2, 0}));
    EXPECT_EQ(script_->commands[3].dataOut, data);
    EXPECT_EQ(script_->commands[4].cdb[1], 2);
    EXPECT_EQ(script_->commands[4].dataOut, std::vector<uint8_t>(data.begin(), data.begin() + 512));
}

TEST_F(Api, StatusFollowsTheOutcome) {
    script_->answers[0x00] = failing("not ready");
    script_->answers[0x2A] = failing("write protected");
    const int32_t h = openDrive3();
    std::vector<uint8_t> data(512);
    EXPECT_EQ(fnQuorbus_TestUnitReady(h), 0);
    EXPECT_EQ(fnQuorbus_Write(h, 1, 0, data.data()), 0);
    EXPECT_EQ(fnQuorbus_Read(h, 1, 0), 1);
    ASSERT_EQ(script_->calls.size(), 3U);
    EXPECT_EQ(script_->calls[0].reason, "not ready");
    EXPECT_EQ(script_->calls[1].reason, "write protected");
    EXPECT_EQ(script_->calls[2].status, 1);
}

TEST_F(Api, RefusedArgumentsNeverReachTheDrive) {
    const int32_t h = openDrive3();
    std::vector<uint8_t> data(512);
    EXPECT_EQ(fnQuorbus_Write(h, 0, 0, data.data()), 0);
    EXPECT_EQ(fnQuorbus_Write(h, -1, 0, data.data()), 0);
    EXPECT_EQ(fnQuorbus_Write(h, 1, 0, nullptr), 0);
    EXPECT_EQ(fnQuorbus_VendorW(h, 0x81, 512, nullptr), 0);
    EXPECT_EQ(fnQuorbus_VendorW(h, 0x81, 0, data.data()), 0);
    EXPECT_EQ(fnQuorbus_Read(h, 1, -5), 0);
    EXPECT_EQ(fnQuorbus_Vendor(h, 300, 0, 0, 512), 0);
    plant(binary());
    EXPECT_EQ(fnQuorbus_VendorScan(h, 0x95, -1, 0, 0, 0, 0, 512), 0);
    EXPECT_FALSE(fs::exists(binary()));
    EXPECT_TRUE(script_->commands.empty());
    // A count no block holds: the small buffer must not be read, not even
    // for the call record.
    EXPECT_EQ(fnQuorbus_Write(h, INT32_MAX, 0, data.data()), 0);
    EXPECT_TRUE(script_->commands.empty());
    ASSERT_EQ(script_->calls.size(), 9U) << "refused calls are still recorded";
    EXPECT_TRUE(script_->calls.back().writeData.empty());
    EXPECT_EQ(script_->calls.back().status, 0);
}

TEST_F(Api, CallRecordsNameEveryArgumentInOrder) {
    const int32_t h = fnQuorbus_GetDiskHandle(3);
    std::vector<uint8_t> data(512, 0x77);
    fnQuorbus_Write(h, 1, 9, data.data());
    fnQuorbus_VendorScan(h, 0x95, 1, 2, 3, 4, 5, 512);
    fnQuorbus_VendorR(h, 0x75, 0, 512);
    fnQuorbus2K_KillEXE();
    fnQuorbus_CloseHandle(h);
    fnQuorbus_TestUnitReady(h);

    using Args = std::vector<std::pair<std::string, int64_t>>;
    const struct {
        const char* function;
        int32_t driveIndex;
        Args arguments;
        int64_t status;
    } expected[] = {
        {"fnQuorbus_GetDiskHandle", 3, {{"driveIndex", 3}}, h},
        {"fnQuorbus_Write", 3, {{"handle", h}, {"sectorCount", 1}, {"firstSector", 9}}, 1},
        {"fnQuorbus_VendorScan",
         3,
         {{"handle", h},
          {"vendorCode", 0x95},
          {"chip", 1},
          {"unit", 2},
          {"parameter", 3},
          {"reserved1", 4},
          {"reserved2", 5},
          {"length", 512}},
         1},
        {"fnQuorbus_VendorR",
         3,
         {{"handle", h}, {"vendorCode", 0x75}, {"zero", 0}, {"length", 512}},
         1},
        {"fnQuorbus2K_KillEXE", -1, {}, 1},
        {"fnQuorbus_CloseHandle", 3, {{"handle", h}}, 1},
        {"fnQuorbus_TestUnitReady", -1, {{"handle", h}}, 0},
    };
    ASSERT_EQ(script_->calls.size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE(expected[i].function);
        EXPECT_EQ(script_->calls[i].function, expected[i].function);
        EXPECT_EQ(script_->calls[i].driveIndex, expected[i].driveIndex);
        EXPECT_EQ(script_->calls[i].arguments, expected[i].arguments);
        EXPECT_EQ(script_->calls[i].status, expected[i].status);
    }
    EXPECT_EQ(script_->calls[1].writeData, data);
    EXPECT_TRUE(script_->calls[2].writeData.empty());
    EXPECT_EQ(script_->calls[6].reason, "unknown handle");
    EXPECT_EQ(script_->resets, 1);
}

TEST_F(Api, KillExeResetsTheExecutorAndKeepsHandles) {
    const int32_t h = openDrive3();
    EXPECT_EQ(fnQuorbus2K_KillEXE(), 1);
    EXPECT_EQ(script_->resets, 1);
    EXPECT_EQ(fnQuorbus_TestUnitReady(h), 1);
}

TEST_F(Api, ReplyPathsFollowTheReplyDirectory) {
    char textPath[512];
    char binaryPath[512];
    ASSERT_EQ(quorlink_reply_paths(textPath, sizeof textPath, binaryPath, sizeof binaryPath), 1);
    EXPECT_EQ(fs::path(textPath), text());
    EXPECT_EQ(fs::path(binaryPath), binary());
    ASSERT_TRUE(fs::is_directory(replyDir_)) << "created on demand";
    EXPECT_EQ(fs::status(replyDir_).permissions() & fs::perms::all, fs::perms::owner_all);

    char tiny[4];
    EXPECT_EQ(quorlink_reply_paths(tiny, sizeof tiny, binaryPath, sizeof binaryPath), 0);
    EXPECT_EQ(quorlink_reply_paths(textPath, sizeof textPath, tiny, sizeof tiny), 0);
    EXPECT_EQ(quorlink_reply_paths(nullptr, 0, binaryPath, sizeof binaryPath), 0);
}

TEST_F(Api, ReplyPathsWithoutReplyDirectory) {
    unsetenv("QUORLINK_REPLY_DIR");
    const fs::path runtime = dir_ / "run";
    fs::create_directories(runtime);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    char textPath[512];
    char binaryPath[512];
    ASSERT_EQ(quorlink_reply_paths(textPath, sizeof textPath, binaryPath, sizeof binaryPath), 1);
    EXPECT_EQ(fs::path(textPath), runtime / "quorlink" / "quorlink.txt");
    EXPECT_EQ(fs::path(binaryPath), runtime / "quorlink" / "quorlink.bin");

    unsetenv("XDG_RUNTIME_DIR");
    ASSERT_EQ(quorlink_reply_paths(textPath, sizeof textPath, binaryPath, sizeof binaryPath), 1);
    const fs::path tmp = fs::path("/tmp") / ("quorlink-" + std::to_string(getuid()));
    EXPECT_EQ(fs::path(textPath), tmp / "quorlink.txt");
    EXPECT_EQ(fs::path(binaryPath), tmp / "quorlink.bin");
}

} // namespace
} // namespace quorlink
