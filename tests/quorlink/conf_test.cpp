// quorlink.conf: the reader's answers to good and bad files, the notice a
// station shows about it, and the rotation of the trace it limits.
#include "../sg/fake_sysfs.h"
#include "api_internal.h"
#include "encoder.h"
#include "quorlink_conf.h"
#include "sg_executor.h"
#include "sg_system.h"
#include "trace.h"

#include <quorlink/quorlink.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {
namespace fs = std::filesystem;
using namespace quorlink;
using namespace std::chrono_literals;
using sgtest::TempDir;

TEST(QuorlinkConf, GoodAndBadValues) {
    TempDir dir;
    const ConfLoad empty = loadQuorlinkConf(dir.write(""));
    EXPECT_TRUE(empty.error.empty() && empty.conf.found && empty.conf.allow.empty());
    EXPECT_EQ(empty.conf.timeouts.vendor, 60s);
    const ConfLoad good = loadQuorlinkConf(
        dir.write("[Drives]\nAllow=058f:6387, 1D6B:0002\n[Ports]\n0=1-2.3\n16=2-1\n"
                  "[Timeouts]\nQuick=5\nVendor=600\n[Trace]\nMaxBytes=65536\nKeep=0\n"
                  "[VendorBlock]\nOpcode=240\nLength=12\nForm=2:1\nCode=1:1\nChip=3:2:le\n"));
    ASSERT_EQ(good.error, "");
    const QuorlinkConf& c = good.conf;
    EXPECT_EQ(c.allow, (std::vector<UsbId>{{0x058F, 0x6387}, {0x1D6B, 0x0002}}));
    EXPECT_EQ(c.ports, (std::map<int, std::string>{{0, "1-2.3"}, {16, "2-1"}}));
    EXPECT_TRUE(c.timeouts.quick == 5s && c.timeouts.vendor == 600s && c.timeouts.transfer == 30s &&
                c.timeouts.ready == 30s);
    EXPECT_TRUE(c.trace.maxBytes == 65536 && c.trace.keep == 0);
    const VendorLayout& v = c.vendorBlock;
    EXPECT_TRUE(v.opcode == 0xF0 && v.length == 12 && v.form.offset == 2 && v.code.offset == 1 &&
                !v.chip.bigEndian && v.unit.offset == 5);
    // ini; what the error must show of the key and value
    const std::pair<const char*, const char*> cases[] = {
        {"[Drives]\nAllow=058f:638\n", "[Drives] Allow=058f:638: \"058f:638\""},
        {"[Drives]\nAllow=058f:6387,usb\n", "[Drives] Allow=058f:6387,usb: \"usb\""},
        {"[Drives]\nAlow=058f:6387\n", "[Drives] Alow=058f:6387: unknown key"},
        {"[Drive]\nAllow=058f:6387\n", "[Drive] Allow=058f:6387: unknown section"},
        {"Allow=058f:6387\n", "Allow=058f:6387: outside any section"},
        {"[Ports]\n17=1-2\n", "[Ports] 17=1-2: not a drive index"},
        {"[Ports]\n0=sdb\n", "[Ports] 0=sdb: not a USB port path"},
        {"[Ports]\n0=1-2\n1=1-2\n", "[Ports] 1=1-2: the same port as 0"},
        {"[Ports]\n0=1-2\n1=1-02\n", "[Ports] 1=1-02: not a USB port path"},
        {"[Drives]\nAllow=\x01\x1b[2J\n", "[Drives] Allow=??[2J: \"??[2J\" is not"},
        {"[Timeouts]\nQuick=0\n", "[Timeouts] Quick=0: "},
        {"[Timeouts]\nVendor=-5\n", "[Timeouts] Vendor=-5: "},
        {"[Timeouts]\nReady=ten\n", "[Timeouts] Ready=ten: "},
        {"[Trace]\nKeep=-1\n", "[Trace] Keep=-1: "},
        {"[VendorBlock]\nLength=5\n", "[VendorBlock] Length=5: "},
        {"[VendorBlock]\nLength=17\n", "[VendorBlock] Length=17: "},
        {"[VendorBlock]\nLength=10\n", "[VendorBlock] Length=10: too short for DataLength"},
        {"[VendorBlock]\nOpcode=256\n", "[VendorBlock] Opcode=256: "},
        {"[VendorBlock]\nChip=3:3\n", "[VendorBlock] Chip=3:3: "},
        {"[VendorBlock]\nChip=3:2:middle\n", "[VendorBlock] Chip=3:2:middle: "},
        {"[VendorBlock]\nCode=4:1\n", "[VendorBlock] Code=4:1: overlaps Chip at byte 4"},
        {"[VendorBlock]\nUnit=0:2\n", "[VendorBlock] Unit=0:2: overlaps Opcode at byte 0"},
        {"[VendorBlock]\nDataLength=15:2\n", "[VendorBlock] DataLength=15:2: does not fit"},
    };
    for (const auto& [ini, error] : cases) {
        const fs::path file = dir.write(ini);
        const ConfLoad load = loadQuorlinkConf(file);
        EXPECT_EQ(load.error.rfind(file.string() + ": ", 0), 0u) << load.error;
        EXPECT_NE(load.error.find(error), std::string::npos) << ini << "\ngave: " << load.error;
        EXPECT_TRUE(load.conf.allow.empty()) << "an unusable file allows nothing";
    }
    const ConfLoad huge = loadQuorlinkConf(dir.write(std::string((1 << 20) + 1, '#')));
    EXPECT_NE(huge.error.find("larger than 1048576 bytes"), std::string::npos) << huge.error;
    const ConfLoad absent = loadQuorlinkConf(dir.path / "none.conf");
    EXPECT_TRUE(absent.error.empty() && !absent.conf.found && absent.conf.allow.empty());
}

// Every commented key of the example, switched on, is read without a word
// and gives the defaults the code has: the example cannot drift from them.
TEST(QuorlinkConf, ExampleShowsTheDefaults) {
    std::ifstream in(EXAMPLE_CONF);
    std::string text, line;
    int keys = 0;
    while (std::getline(in, line)) {
        if (line.size() > 1 && line[0] == ';' &&
            std::isalpha(static_cast<unsigned char>(line[1]))) {
            line.erase(0, 1);
            ++keys;
        }
        text += line + "\n";
    }
    EXPECT_EQ(keys, 17);
    TempDir dir;
    const ConfLoad load = loadQuorlinkConf(dir.write(text));
    ASSERT_EQ(load.error, "");
    const QuorlinkConf defaults;
    EXPECT_TRUE(load.conf.allow.empty() && load.conf.ports.empty());
    EXPECT_TRUE(load.conf.timeouts.quick == defaults.timeouts.quick &&
                load.conf.timeouts.transfer == defaults.timeouts.transfer &&
                load.conf.timeouts.vendor == defaults.timeouts.vendor &&
                load.conf.timeouts.ready == defaults.timeouts.ready);
    EXPECT_TRUE(load.conf.trace.maxBytes == defaults.trace.maxBytes &&
                load.conf.trace.keep == defaults.trace.keep);
    const VendorRequest scan{VendorForm::Scan, 0x95, 0x0102, 0x0304, 0x11, 0x22, 0x33, 512};
    EXPECT_EQ(describeVendorBlock(load.conf.vendorBlock, scan),
              describeVendorBlock(defaults.vendorBlock, scan));
}

// What the station shows at start-up, through the C API, as $QUORLINK_CONF
// names the file.
TEST(QuorlinkConf, NoticeThroughTheApi) {
    // ini (null: no file), notice
    const std::pair<const char*, const char*> cases[] = {
        {nullptr, "No USB drive may be used: FILE does not exist"},
        {"[Drives]\nAllow=\n", "No USB drive may be used: [Drives] Allow= in FILE lists none."},
        {"[Timeouts]\nQuick=0\n", "No USB drive may be used: FILE: [Timeouts] Quick=0: "},
        {"[Drives]\nAllow=058f:6387\n", ""},
    };
    TempDir dir;
    for (const auto& [ini, notice] : cases) {
        ::setenv("QUORLINK_CONF", (ini ? dir.write(ini) : dir.path / "none.conf").c_str(), 1);
        installExecutorForTesting(sg::makeSgExecutor(sg::Roots{dir.path, dir.path, dir.path},
                                                     sg::realSgSystem(), std::nullopt,
                                                     loadQuorlinkConf(quorlinkConfPath())));
        char text[512] = "unchanged";
        const uint16_t said = quorlink_config_notice(text, sizeof text);
        std::string expected = notice;
        if (const size_t at = expected.find("FILE"); at != std::string::npos) {
            expected.replace(at, 4, quorlinkConfPath().string());
        }
        EXPECT_EQ(said, expected.empty() ? 0 : 1) << text;
        if (said != 0) {
            EXPECT_EQ(std::string(text).rfind(expected, 0), 0u) << text;
        }
    }
    installExecutorForTesting(makeSimulatorExecutor(FAST_RACK));
    char text[512];
    EXPECT_EQ(quorlink_config_notice(text, sizeof text), 0) << "the simulator ignores the file";
    installExecutorForTesting(nullptr);
    ::unsetenv("QUORLINK_CONF");
}

// Two writers on one trace (as two processes would be) rotating it: the
// live file stays near the cap, only Keep old files remain, no line is cut.
TEST(TraceRotation, KeepsOnlyKeepFilesOfAboutMaxBytes) {
    for (const int keep : {2, 0}) {
        TempDir dir;
        const fs::path live = dir.path / "trace.jsonl";
        const TraceLimits limits{2000, keep};
        TraceWriter a(live, false, limits);
        TraceWriter b(live, false, limits);
        CallRecord call;
        call.function = "fnQuorbus_TestUnitReady";
        call.status = 1;
        const size_t line = traceLine(call).size();
        for (int i = 0; i < 200; ++i) {
            (i % 3 == 0 ? a : b).write(call);
        }
        for (int n = 1; n <= keep + 1; ++n) {
            const fs::path old = live.string() + "." + std::to_string(n);
            EXPECT_EQ(fs::exists(old), n <= keep) << old;
        }
        for (const auto& entry : fs::directory_iterator(dir.path)) {
            EXPECT_LT(fs::file_size(entry), limits.maxBytes + 2 * line) << entry.path();
            EXPECT_EQ(fs::file_size(entry) % line, 0u) << entry.path();
        }
    }
}

} // namespace
