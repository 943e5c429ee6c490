// The real ufd-rack binary on a rack of the test's own.
#include "sim_fixture.h"

#include <cstdlib>
#include <cstring>
#include <iterator>
#include <sys/wait.h>

using namespace simtest;

namespace {

struct Result {
    int exitCode = -1;
    std::string out; // stdout and stderr
};

class UfdRackTest : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        ::unsetenv("QUORLINK_RACK");
        auto wp = usbDrive(2);
        wp["write_protect"] = true;
        rackFile_ = writeRack(
            {{"drives",
              {{{"index", 0}, {"kind", "disk"}, {"line", "IDE\\DiskPC\\1"}}, usbDrive(1), wp}}});
    }

    // Runs ufd-rack; its stdout and stderr end up in out.txt.
    Result tool(const std::string& args, bool withRack = true) {
        const std::string rack = withRack ? " --rack '" + rackFile_.string() + "' " : " ";
        const auto out = dir_ / "out.txt";
        const int status =
            std::system((UFD_RACK_TOOL + rack + args + " >'" + out.string() + "' 2>&1").c_str());
        std::ifstream in(out);
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1,
                std::string(std::istreambuf_iterator<char>(in), {})};
    }

    quorlink::sim::RackState state() const {
        return quorlink::sim::RackState(quorlink::sim::loadRack(rackFile_));
    }
};

TEST_F(UfdRackTest, ListPlugUnplugAndWriteProtectChangeTheSharedState) {
    const auto r = tool("list");
    ASSERT_EQ(r.exitCode, 0) << r.out;
    EXPECT_NE(r.out.find("IDE\\DiskPC\\1"), std::string::npos);
    EXPECT_NE(r.out.find("USBSTOR\\Disk&Ven_Acme&Prod_Stick&Rev_1.00\\S1"), std::string::npos);
    EXPECT_NE(r.out.find("2     usb   yes      on"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("16    empty"), std::string::npos);
    EXPECT_EQ(tool("unplug 1").exitCode, 0);
    EXPECT_FALSE(state().plugged(1));
    EXPECT_EQ(tool("plug 1").exitCode, 0);
    EXPECT_TRUE(state().plugged(1));
    EXPECT_EQ(tool("wp 1 on").exitCode, 0);
    EXPECT_TRUE(state().writeProtect(1));
    // The rack may also come from the environment.
    ::setenv("QUORLINK_RACK", rackFile_.c_str(), 1);
    EXPECT_EQ(tool("wp 2 off", false).exitCode, 0);
    ::unsetenv("QUORLINK_RACK");
    EXPECT_FALSE(state().writeProtect(2));
}

TEST_F(UfdRackTest, ConfigLedBoundaryPartitionsAndReset) {
    auto s = state();
    std::array<uint8_t, 512> block{}, mbr{}, ebr{};
    block[0] = 0x99;
    block[17] = 0xAB;
    s.setConfigBlock(1, block);
    s.addLedActivity(1, 5);
    s.setBoundary(1, 1234567);
    // Partition entries, little-endian as on disk.
    auto entry = [](std::array<uint8_t, 512>& s, int e, uint8_t type, uint32_t first,
                    uint32_t count) {
        s[446 + 16 * e + 4] = type;
        std::memcpy(&s[446 + 16 * e + 8], &first, 4);
        std::memcpy(&s[446 + 16 * e + 12], &count, 4);
        s[510] = 0x55;
        s[511] = 0xAA;
    };
    entry(mbr, 0, 0x06, 32, 1000);
    entry(mbr, 1, 0x05, 1032, 1000);
    entry(ebr, 0, 0x06, 32, 968);
    {
        std::fstream img(s.imagePath(1), std::ios::binary | std::ios::in | std::ios::out);
        img.write(reinterpret_cast<const char*>(mbr.data()), 512);
        img.seekp(1032 * 512);
        img.write(reinterpret_cast<const char*>(ebr.data()), 512);
    }
    const auto config = tool("config 1");
    ASSERT_EQ(config.exitCode, 0);
    EXPECT_EQ(config.out.rfind("0000  99 00", 0), 0u) << config.out;
    EXPECT_NE(config.out.find("0010  00 AB 00"), std::string::npos) << config.out;
    EXPECT_NE(config.out.find("01f0 "), std::string::npos);
    EXPECT_EQ(tool("led 1").out, "5\n");
    EXPECT_EQ(tool("boundary 1").out, "1234567\n");
    const auto r = tool("partitions 1");
    ASSERT_EQ(r.exitCode, 0) << r.out;
    for (const char* says :
         {"MBR at sector 0", "EBR at sector 1032", "32          1000", "32          968"}) {
        EXPECT_NE(r.out.find(says), std::string::npos) << r.out;
    }
    // A reset erases block, counters and image.
    EXPECT_EQ(tool("reset 1").exitCode, 0);
    EXPECT_EQ(tool("led 1").out, "0\n");
    EXPECT_EQ(tool("boundary 1").out, "none\n");
    EXPECT_EQ(state().configBlock(1), (std::array<uint8_t, 512>{}));
    EXPECT_NE(tool("partitions 1").out.find("no partition table"), std::string::npos);
}

TEST_F(UfdRackTest, BadUseGetsAClearMessageAndAnExitCode) {
    struct Case {
        std::string args;
        int exitCode;
        const char* says;
    };
    const Case cases[] = {
        {"", 2, "usage"},
        {"frobnicate 1", 2, "usage"},
        {"plug 17", 1, "0 to 16"},
        {"plug x", 1, "not a drive index"},
        {"plug 5", 1, "empty"},
        {"wp 0 on", 1, "not a USB drive"},
        {"partitions 0", 1, "not a USB drive"},
    };
    for (const auto& c : cases) {
        const auto r = tool(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.args << ": " << r.out;
        EXPECT_NE(r.out.find(c.says), std::string::npos) << c.args << ": " << r.out;
    }
    const auto noRack = tool("list", false);
    EXPECT_EQ(noRack.exitCode, 2);
    EXPECT_NE(noRack.out.find("no rack"), std::string::npos);
    std::ofstream(dir_ / "broken.json") << "{";
    rackFile_ = dir_ / "broken.json";
    const auto broken = tool("list");
    EXPECT_EQ(broken.exitCode, 1);
    EXPECT_NE(broken.out.find("not valid JSON"), std::string::npos) << broken.out;
}

} // namespace
