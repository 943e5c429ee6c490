// The trace other tools parse: one JSON line per API call, in a fixed shape.
#include "sim_fixture.h"

#include <fstream>

using namespace simtest;

namespace {

std::vector<std::string> lines(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);) {
        out.push_back(line);
    }
    return out;
}

TEST(TraceLine, WriteCarriesFirstCountAndHexData) {
    const std::vector<uint8_t> data = {0x00, 0xAB, 0x0F, 0xF0};
    quorlink::CallRecord call;
    call.function = "fnQuorbus_Write";
    call.driveIndex = 3;
    call.arguments = {{"handle", 1001}, {"count", 1}, {"first", 32}};
    call.status = 1;
    call.writeData = data;
    EXPECT_EQ(quorlink::sim::traceLine(call),
              "{\"fn\":\"fnQuorbus_Write\",\"drive\":3,\"args\":[1001,1,32],\"status\":1,"
              "\"first\":32,\"count\":1,\"data\":\"00ab0ff0\"}\n");
}

TEST(TraceLine, ReasonOnlyWhenTheCallFailed) {
    quorlink::CallRecord call;
    call.function = "fnQuorbus_VendorR";
    call.driveIndex = 2;
    call.arguments = {{"handle", 7}, {"code", 0x75}, {"zero", 0}, {"length", 512}};
    call.status = 0;
    call.reason = "simulated fault on vendor_r";
    EXPECT_EQ(quorlink::sim::traceLine(call),
              "{\"fn\":\"fnQuorbus_VendorR\",\"drive\":2,\"args\":[7,117,0,512],\"status\":0,"
              "\"reason\":\"simulated fault on vendor_r\"}\n");
    call.status = 1;
    EXPECT_EQ(quorlink::sim::traceLine(call),
              "{\"fn\":\"fnQuorbus_VendorR\",\"drive\":2,\"args\":[7,117,0,512],\"status\":1}\n");
}

TEST(TraceLine, CallWithoutDriveOrArguments) {
    quorlink::CallRecord call;
    call.function = "fnQuorbus2K_KillEXE";
    call.status = 1;
    EXPECT_EQ(quorlink::sim::traceLine(call),
              "{\"fn\":\"fnQuorbus2K_KillEXE\",\"drive\":-1,\"args\":[],\"status\":1}\n");
}

class TraceFile : public SimTest {};

TEST_F(TraceFile, ExecutorAppendsBesideTheRackAndAcrossInstances) {
    quorlink::CallRecord call;
    call.function = "fnQuorbus_TestUnitReady";
    call.driveIndex = 1;
    call.arguments = {{"handle", 5}};
    call.status = 1;
    {
        auto ex = executor({usbDrive(1)}, {{"trace", "out/trace.jsonl"}});
        ex->record(call);
        call.status = 0;
        call.reason = "drive unplugged";
        ex->record(call);
    }
    auto ex = quorlink::makeSimulatorExecutor(rackFile_.string());
    call.status = 1;
    ex->record(call);
    const auto got = lines(dir() / "out" / "trace.jsonl");
    ASSERT_EQ(got.size(), 3u);
    const auto second = nlohmann::json::parse(got[1]);
    EXPECT_EQ(second["fn"], "fnQuorbus_TestUnitReady");
    EXPECT_EQ(second["drive"], 1);
    EXPECT_EQ(second["args"], nlohmann::json::array({5}));
    EXPECT_EQ(second["status"], 0);
    EXPECT_EQ(second["reason"], "drive unplugged");
    EXPECT_FALSE(nlohmann::json::parse(got[2]).contains("reason"));
}

TEST_F(TraceFile, NoTraceKeyWritesNothing) {
    auto ex = executor({usbDrive(1)});
    quorlink::CallRecord call;
    call.function = "fnQuorbus_TestUnitReady";
    ex->record(call);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir())) {
        EXPECT_NE(entry.path().extension(), ".jsonl") << entry.path();
    }
}

} // namespace
