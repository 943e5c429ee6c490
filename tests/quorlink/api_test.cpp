// The C API's conventions over a scripted executor: statuses and handles,
// reply files, the trace of calls.
#include "api_internal.h"
#include "encoder.h"

#include <quorlink/quorlink.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

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

// What the fake drive answers to one operation code.
using Answer = std::function<Outcome(const Command&, std::span<uint8_t>)>;

// Shared between the test and the executor the library owns.
struct Script {
    std::map<int, std::string> drives; // index -> device line
    std::map<uint8_t, Answer> answers; // first block byte -> answer
    std::vector<SeenCommand> commands;
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
        return it == script_->answers.end() ? Outcome{true, {}} : it->second(cmd, dataIn);
    }

private:
    std::shared_ptr<Script> script_;
};

class FakeExecutor final : public Executor {
public:
    explicit FakeExecutor(std::shared_ptr<Script> s) : script_(std::move(s)) {}
    OpenResult open(int index) override {
        OpenResult r;
        if (auto it = script_->drives.find(index); it != script_->drives.end()) {
            r.device = std::make_unique<FakeDevice>(script_);
            r.deviceLine = it->second;
        }
        return r;
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

std::optional<std::string> readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class Api : public testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/quorlink-api-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        replyDir_ = dir_ / "replies";
        setenv("QUORLINK_REPLY_DIR", replyDir_.c_str(), 1);
        setenv("QUORLINK_TRACE", (dir_ / "trace.jsonl").c_str(), 1);
        script_->drives = {{0, "IDE\\Disk\\0"}, {3, "USBSTOR\\Disk&Ven_Test\\3"}};
        installExecutorForTesting(std::make_unique<FakeExecutor>(script_));
    }
    void TearDown() override {
        installExecutorForTesting(nullptr);
        unsetenv("QUORLINK_REPLY_DIR");
        unsetenv("QUORLINK_TRACE");
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
        return h;
    }
    std::vector<nlohmann::json> trace() const {
        std::ifstream in(dir_ / "trace.jsonl");
        std::vector<nlohmann::json> lines;
        for (std::string line; std::getline(in, line);) {
            lines.push_back(nlohmann::json::parse(line));
        }
        return lines;
    }

    std::shared_ptr<Script> script_ = std::make_shared<Script>();
    fs::path dir_;
    fs::path replyDir_;
};

TEST_F(Api, HandlesAreNonZeroDistinctAndCarryTheDeviceLine) {
    const int32_t a = fnQuorbus_GetDiskHandle(3);
    ASSERT_NE(a, 0);
    EXPECT_EQ(readFile(text()), "USBSTOR\\Disk&Ven_Test\\3\r\n");
    const int32_t b = fnQuorbus_GetDiskHandle(0);
    EXPECT_NE(b, 0);
    EXPECT_NE(a, b);
    EXPECT_EQ(readFile(text()), "IDE\\Disk\\0\r\n");
    EXPECT_EQ(fnQuorbus_CloseHandle(a), 1);
    EXPECT_EQ(script_->devicesAlive, 1) << "closing must release the device";
    const int32_t c = fnQuorbus_GetDiskHandle(3);
    EXPECT_NE(c, a) << "a released handle is not handed out again at once";
    EXPECT_NE(c, 0);
    for (int32_t index : {-1, 1, 16, 17, 1000}) {
        plant(text());
        EXPECT_EQ(fnQuorbus_GetDiskHandle(index), 0) << index;
        EXPECT_FALSE(fs::exists(text())) << "a stale device line would read as a drive";
    }
}

TEST_F(Api, UnknownHandlesFailWithoutReplyOrCommand) {
    const int32_t released = fnQuorbus_GetDiskHandle(3);
    ASSERT_EQ(fnQuorbus_CloseHandle(released), 1);
    script_->commands.clear();
    std::vector<uint8_t> data(512, 1);
    for (int32_t h : {0, released, 424242}) {
        plant(text());
        plant(binary());
        EXPECT_EQ(fnQuorbus_ReadCapacity(h) + fnQuorbus_ModeSense(h) + fnQuorbus_TestUnitReady(h) +
                      fnQuorbus_Inquiry(h) + fnQuorbus_Read(h, 1, 0) +
                      fnQuorbus_Write(h, 1, 0, data.data()) + fnQuorbus_VendorR(h, 0x75, 0, 512) +
                      fnQuorbus_VendorW(h, 0x81, 512, data.data()) +
                      fnQuorbus_Vendor(h, 0x94, 0, 0, 512) +
                      fnQuorbus_VendorScan(h, 0x95, 0, 0, 1, 0, 0, 512) + fnQuorbus_CloseHandle(h),
                  0)
            << h;
        EXPECT_FALSE(fs::exists(text()));
        EXPECT_FALSE(fs::exists(binary()));
    }
    EXPECT_TRUE(script_->commands.empty());
}

TEST_F(Api, ReadCapacityAsksTheSixteenByteFormOnlyForHugeDrives) {
    const std::vector<uint8_t> small = {0x00, 0x0F, 0x42, 0x3F, 0, 0, 2, 0}; // last LBA 999999
    const std::vector<uint8_t> huge = {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 2, 0};
    const std::vector<uint8_t> sixteen = {0, 0, 0, 1, 0, 0, 0, 0x0F, 0, 0, 2, 0};
    struct Case {
        Answer ten, sixteen;
        uint16_t status;
        std::optional<std::string> file;
        size_t commands;
    };
    const Case cases[] = {
        {fill(small), fill(sixteen), 1, "1000000\r\n", 1},
        {fill(huge), fill(sixteen), 1, "4294967312\r\n", 2},
        {failing("no medium"), fill(sixteen), 0, std::nullopt, 1},
        {fill(huge), failing("no medium"), 0, std::nullopt, 2},
        {fill(small, {true, {}, ReplyShape::Short, 2}), fill(sixteen), 1, "10", 1},
        {fill(small, {true, {}, ReplyShape::Missing, 0}), fill(sixteen), 1, std::nullopt, 1},
    };
    for (const Case& c : cases) {
        script_->answers[0x25] = c.ten;
        script_->answers[0x9E] = c.sixteen;
        const int32_t h = openDrive3();
        plant(text());
        EXPECT_EQ(fnQuorbus_ReadCapacity(h), c.status);
        EXPECT_EQ(readFile(text()), c.file);
        ASSERT_EQ(script_->commands.size(), c.commands);
        if (c.commands == 2) {
            EXPECT_EQ(script_->commands[1].cdb[0], 0x9E);
            EXPECT_GE(script_->commands[1].dataInSize, 12U);
        }
    }
}

TEST_F(Api, ModeSenseMapsWriteProtectToByte82) {
    // {device-specific byte, byte 82 as the drive sent it, byte 82 in the file}
    const uint8_t cases[][3] = {{0x80, 0x00, 0x80}, {0x90, 0x00, 0x80}, {0x00, 0x80, 0x00}};
    for (const auto& c : cases) {
        std::vector<uint8_t> mode(192, 0);
        mode[0] = 191;
        mode[2] = c[0];
        mode[82] = c[1];
        script_->answers[0x1A] = fill(mode);
        ASSERT_EQ(fnQuorbus_ModeSense(openDrive3()), 1);
        const auto file = readFile(binary()).value();
        ASSERT_EQ(file.size(), 512U);
        EXPECT_EQ(uint8_t(file[82]), c[2]);
        EXPECT_EQ(uint8_t(file[2]), c[0]) << "the mode data stays as returned";
        EXPECT_EQ(uint8_t(file[0]), 191);
    }
}

TEST_F(Api, BinaryRepliesHonourTheExecutorsShape) {
    std::vector<uint8_t> answer(512);
    for (size_t i = 0; i < answer.size(); ++i) {
        answer[i] = static_cast<uint8_t>(i * 7 + 1);
    }
    struct Case {
        Outcome outcome;
        std::optional<size_t> fileSize; // nullopt: no file
    };
    const Case cases[] = {
        {{true, {}, ReplyShape::Full, 0}, 512},
        {{true, {}, ReplyShape::Short, 100}, 100},
        {{true, {}, ReplyShape::Missing, 0}, std::nullopt},
        {{false, "unit attention", ReplyShape::Full, 0}, std::nullopt},
    };
    const std::function<uint16_t(int32_t)> calls[] = {
        [](int32_t h) { return fnQuorbus_VendorR(h, 0x75, 0, 512); },
        [](int32_t h) { return fnQuorbus_Vendor(h, 0x94, 1, 2, 512); },
        [](int32_t h) { return fnQuorbus_VendorScan(h, 0x95, 1, 2, 3, 0, 0, 512); },
    };
    for (const auto& invoke : calls) {
        for (const auto& c : cases) {
            script_->answers[kVendorOpcode] = fill(answer, c.outcome);
            const int32_t h = openDrive3();
            plant(binary());
            EXPECT_EQ(invoke(h), c.outcome.ok ? 1 : 0);
            const auto file = readFile(binary());
            ASSERT_EQ(file.has_value(), c.fileSize.has_value());
            if (file) {
                ASSERT_EQ(file->size(), *c.fileSize);
                EXPECT_EQ(*file, std::string(answer.begin(), answer.begin() + *c.fileSize));
            }
        }
    }
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
    EXPECT_EQ(readFile(binary()), std::string(512, '\x22'));
    EXPECT_EQ(readFile(text()), "stale") << "binary calls keep the text file";
    for (const auto& entry : fs::directory_iterator(replyDir_)) {
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos);
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
    EXPECT_EQ(readFile(text()), "stale");
    EXPECT_EQ(readFile(binary()), "stale");
    ASSERT_EQ(script_->commands.size(), 5U);
    EXPECT_EQ(script_->commands[0].cdb[0], 0x00);
    EXPECT_EQ(script_->commands[1].cdb[0], 0x12);
    EXPECT_EQ(script_->commands[2].cdb, (std::vector<uint8_t>{0x28, 0, 0, 0, 0, 10, 0, 0, 2, 0}));
    EXPECT_EQ(script_->commands[2].dataInSize, 1024U) << "the read's data has somewhere to go";
    EXPECT_EQ(script_->commands[3].dataOut, data);
    EXPECT_EQ(script_->commands[4].cdb[1], 2);
    EXPECT_EQ(script_->commands[4].dataOut, std::vector<uint8_t>(data.begin(), data.begin() + 512));
}

TEST_F(Api, RefusedArgumentsNeverReachTheDrive) {
    const int32_t h = openDrive3();
    std::vector<uint8_t> data(512);
    plant(binary());
    EXPECT_EQ(fnQuorbus_Write(h, 0, 0, data.data()) + fnQuorbus_Write(h, -1, 0, data.data()) +
                  fnQuorbus_Write(h, 1, 0, nullptr) + fnQuorbus_VendorW(h, 0x81, 512, nullptr) +
                  fnQuorbus_VendorW(h, 0x81, 0, data.data()) + fnQuorbus_Read(h, 1, -5) +
                  fnQuorbus_Vendor(h, 300, 0, 0, 512) +
                  fnQuorbus_VendorScan(h, 0x95, -1, 0, 0, 0, 0, 512) +
                  // A count no block holds: the small buffer must not be read,
                  // not even for the trace.
                  fnQuorbus_Write(h, INT32_MAX, 0, data.data()),
              0);
    EXPECT_FALSE(fs::exists(binary()));
    EXPECT_TRUE(script_->commands.empty());
    const auto lines = trace();
    ASSERT_EQ(lines.size(), 10U) << "refused calls are still traced";
    EXPECT_EQ(lines.back()["data"], "");
    EXPECT_EQ(lines.back()["reason"], "argument out of range");
}

TEST_F(Api, TraceNamesEveryArgumentInOrderWithStatusAndReason) {
    script_->answers[0x00] = failing("not ready");
    const int32_t h = fnQuorbus_GetDiskHandle(3);
    std::vector<uint8_t> data(512, 0x77);
    fnQuorbus_Write(h, 1, 9, data.data());
    fnQuorbus_VendorScan(h, 0x95, 1, 2, 3, 4, 5, 512);
    fnQuorbus_TestUnitReady(h);
    fnQuorbus2K_KillEXE();
    fnQuorbus_CloseHandle(h);
    fnQuorbus_TestUnitReady(h);
    EXPECT_EQ(script_->resets, 1);

    const std::string expected[] = {
        R"({"fn":"fnQuorbus_GetDiskHandle","drive":3,"args":[3],"status":%H})",
        R"({"fn":"fnQuorbus_Write","drive":3,"args":[%H,1,9],"status":1,"first":9,"count":1,"data":"DATA"})",
        R"({"fn":"fnQuorbus_VendorScan","drive":3,"args":[%H,149,1,2,3,4,5,512],"status":1})",
        R"({"fn":"fnQuorbus_TestUnitReady","drive":3,"args":[%H],"status":0,"reason":"not ready"})",
        R"({"fn":"fnQuorbus2K_KillEXE","drive":-1,"args":[],"status":1})",
        R"({"fn":"fnQuorbus_CloseHandle","drive":3,"args":[%H],"status":1})",
        R"({"fn":"fnQuorbus_TestUnitReady","drive":-1,"args":[%H],"status":0,"reason":"unknown handle"})",
    };
    auto lines = trace();
    ASSERT_EQ(lines.size(), std::size(expected));
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_TRUE(lines[i]["time"].is_string());
        lines[i].erase("time");
        std::string want = expected[i];
        for (size_t at; (at = want.find("%H")) != std::string::npos;) {
            want.replace(at, 2, std::to_string(h));
        }
        if (const size_t at = want.find("DATA"); at != std::string::npos) {
            want.replace(at, 4, std::string(512, '7') + std::string(512, '7'));
        }
        EXPECT_EQ(lines[i], nlohmann::json::parse(want));
    }
}

TEST_F(Api, ReplyPathsFollowTheReplyDirectory) {
    char t[512];
    char b[512];
    ASSERT_EQ(quorlink_reply_paths(t, sizeof t, b, sizeof b), 1);
    EXPECT_EQ(fs::path(t), text());
    EXPECT_EQ(fs::path(b), binary());
    EXPECT_EQ(fs::status(replyDir_).permissions() & fs::perms::all, fs::perms::owner_all);
    char tiny[4];
    EXPECT_EQ(quorlink_reply_paths(tiny, sizeof tiny, b, sizeof b), 0);
    EXPECT_EQ(quorlink_reply_paths(t, sizeof t, tiny, sizeof tiny), 0);

    unsetenv("QUORLINK_REPLY_DIR");
    const fs::path runtime = dir_ / "run";
    fs::create_directories(runtime);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    ASSERT_EQ(quorlink_reply_paths(t, sizeof t, b, sizeof b), 1);
    EXPECT_EQ(fs::path(t), runtime / "quorlink" / "quorlink.txt");
    EXPECT_EQ(fs::path(b), runtime / "quorlink" / "quorlink.bin");
    unsetenv("XDG_RUNTIME_DIR");
    ASSERT_EQ(quorlink_reply_paths(t, sizeof t, b, sizeof b), 1);
    EXPECT_EQ(fs::path(t),
              fs::path("/tmp") / ("quorlink-" + std::to_string(getuid())) / "quorlink.txt");
}

} // namespace
} // namespace quorlink
