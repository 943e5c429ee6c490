// The trace other tools parse, as real API calls on a simulated rack write it.
#include "api_internal.h"
#include "sim_fixture.h"

#include <quorlink/quorlink.h>

using namespace simtest;

namespace {

class TraceTest : public SimTest {
protected:
    void TearDown() override {
        quorlink::installExecutorForTesting(nullptr);
        ::unsetenv("QUORLINK_REPLY_DIR");
        ::unsetenv("QUORLINK_TRACE");
    }
    // The library on a rack of the given drives, as a station process gets it.
    void library(const nlohmann::json& extra) {
        ::setenv("QUORLINK_REPLY_DIR", (dir() / "replies").c_str(), 1);
        auto d = usbDrive(1);
        d["faults"] = {{{"op", "vendor_r"}, {"code", "0x75"}}};
        quorlink::installExecutorForTesting(executor({d}, extra));
    }
    std::vector<nlohmann::json> lines(const std::filesystem::path& file) {
        std::ifstream in(file);
        std::vector<nlohmann::json> out;
        for (std::string line; std::getline(in, line);) {
            out.push_back(nlohmann::json::parse(line));
            EXPECT_TRUE(out.back()["time"].is_string()) << line;
            out.back().erase("time");
        }
        return out;
    }
};

TEST_F(TraceTest, EveryCallWithWritesInHexAndReasonsOfFailures) {
    library({{"trace", "out/trace.jsonl"}});
    const int32_t h = fnQuorbus_GetDiskHandle(1);
    ASSERT_NE(h, 0);
    const Bytes data = {0x00, 0xAB, 0x0F, 0xF0};
    Bytes sectors(1024, 0x5A);
    std::copy(data.begin(), data.end(), sectors.begin() + 512);
    EXPECT_EQ(fnQuorbus_Write(h, 2, 32, sectors.data()), 1);
    EXPECT_EQ(fnQuorbus_VendorR(h, 0x75, 0, 512), 0);
    EXPECT_EQ(fnQuorbus_GetDiskHandle(9), 0);

    const auto got = lines(dir() / "out" / "trace.jsonl");
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[0],
              (nlohmann::json{
                  {"fn", "fnQuorbus_GetDiskHandle"}, {"drive", 1}, {"args", {1}}, {"status", h}}));
    EXPECT_EQ(got[1]["fn"], "fnQuorbus_Write");
    EXPECT_EQ(got[1]["args"], (nlohmann::json{h, 2, 32}));
    EXPECT_EQ(got[1]["status"], 1);
    EXPECT_EQ(got[1]["first"], 32);
    EXPECT_EQ(got[1]["count"], 2);
    const std::string written = got[1]["data"];
    ASSERT_EQ(written.size(), 2048u);
    EXPECT_EQ(written.substr(0, 4), "5a5a");
    EXPECT_EQ(written.substr(1024, 10), "00ab0ff05a");
    EXPECT_EQ(got[2], (nlohmann::json{{"fn", "fnQuorbus_VendorR"},
                                      {"drive", 1},
                                      {"args", {h, 0x75, 0, 512}},
                                      {"status", 0},
                                      {"reason", "simulated fault on vendor_r"}}));
    EXPECT_EQ(got[3]["reason"], "no drive");
}

TEST_F(TraceTest, EnvironmentNamesTheTraceForEitherBackend) {
    // $QUORLINK_TRACE wins over the rack's own "trace"; no trace at all
    // writes nothing.
    ::setenv("QUORLINK_TRACE", (dir() / "env.jsonl").c_str(), 1);
    library({{"trace", "rack.jsonl"}});
    EXPECT_EQ(fnQuorbus_TestUnitReady(12345), 0);
    EXPECT_EQ(lines(dir() / "env.jsonl").size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(dir() / "rack.jsonl"));
    ::unsetenv("QUORLINK_TRACE");
    library(nlohmann::json::object());
    EXPECT_NE(fnQuorbus_GetDiskHandle(1), 0);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir())) {
        EXPECT_NE(entry.path().filename(), "trace.jsonl") << entry.path();
    }
}

} // namespace
