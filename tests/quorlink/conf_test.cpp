// quorlink.conf: the reader's answers to good and bad files, the notice a
// station shows about it, and the rotation of the trace it limits; and the
// C API in-process when a simulated drive's state cannot be saved.
#include "../sg/fake_sysfs.h"
#include "api_internal.h"
#include "sg_executor.h"
#include "trace.h"

#include <quorlink/quorlink.h>

#include <csignal>
#include <regex>
#include <sys/resource.h>

namespace {
using namespace quorlink;
using namespace sgtest;

// Every value read (not where it was looked for, nor whether it was there:
// the start-up notice tells that), for whole comparisons.
auto fields(const QuorlinkConf& c) {
    const auto f = [](const VendorField& v) { return std::tuple(v.offset, v.width, v.bigEndian); };
    const auto& [t, v] = std::tie(c.timeouts, c.vendorBlock);
    return std::tuple(c.allow, c.ports, t.quick, t.transfer, t.vendor, t.ready, c.trace.maxBytes,
                      c.trace.keep, v.opcode, v.length, f(v.form), f(v.code), f(v.chip), f(v.unit),
                      f(v.parameter), f(v.reserved1), f(v.reserved2), f(v.dataLength));
}

TEST(QuorlinkConf, GoodAndBadValues) {
    TempDir dir;
    QuorlinkConf good;
    good.allow = {{0x058F, 0x6387}, {0x1D6B, 0x0002}};
    good.ports = {{0, "1-2.3"}, {16, "2-1"}};
    good.timeouts = {.quick = 5s, .vendor = 600s};
    good.trace = {65536, 0};
    good.vendorBlock = {
        .opcode = 0xF0, .length = 12, .form = {2, 1}, .code = {1, 1}, .chip = {3, 2, false}};
    const ConfLoad load = loadQuorlinkConf(
        dir.write("[Drives]\nAllow=058f:6387, 1D6B:0002\n[Ports]\n0=1-2.3\n16=2-1\n[Timeouts]\n"
                  "Quick=5\nVendor=600\n[Trace]\nMaxBytes=65536\nKeep=0\n[VendorBlock]\n"
                  "Opcode=240\nLength=12\nForm=2:1\nCode=1:1\nChip=3:2:le\n"));
    EXPECT_EQ(std::pair(load.error, fields(load.conf)), std::pair(std::string(), fields(good)));
    // ini; what the error must show of the key and value
    const std::pair<std::string, const char*> cases[] = {
        {"[Drives]\nAllow=058f:6387,058f:638\n",
         "[Drives] Allow: \"058f:6387,058f:638\": \"058f:638\""},
        {"[Drives]\nAlow=058f:6387\n", "[Drives] Alow: \"058f:6387\": unknown key"},
        {"[Drive]\nAllow=058f:6387\n", "[Drive] Allow: \"058f:6387\": unknown section"},
        {"Allow=058f:6387\n", "Allow: \"058f:6387\": outside any section"},
        {"[Ports]\n17=1-2\n", "[Ports] 17: \"1-2\": not a drive index"},
        {"[Ports]\n0=1-2\n1=1-2\n", "[Ports] 1: \"1-2\": the same port as 0"},
        {"[Ports]\n0=1-2\n1=1-02\n", "[Ports] 1: \"1-02\": not a USB port path"},
        {"[Drives]\nAllow=\x01\x1b[2J\n", "line 2: holds a control character (byte 1)"},
        {"[Timeouts]\nQuick=0\n", "[Timeouts] Quick: \"0\": not a whole number"},
        {"[Timeouts]\nReady=ten\n", "[Timeouts] Ready: \"ten\": "},
        {"[Trace]\nKeep=-1\n", "[Trace] Keep: \"-1\": "},
        {"[VendorBlock]\nLength=5\n", "[VendorBlock] Length: \"5\": not a block length"},
        {"[VendorBlock]\nLength=17\n", "[VendorBlock] Length: \"17\": "},
        {"[VendorBlock]\nLength=10\n", "[VendorBlock] Length: \"10\": too short for DataLength"},
        {"[VendorBlock]\nOpcode=256\n", "[VendorBlock] Opcode: \"256\": "},
        {"[VendorBlock]\nChip=3:3\n", "[VendorBlock] Chip: \"3:3\": not offset:width"},
        {"[VendorBlock]\nChip=3:2:middle\n", "[VendorBlock] Chip: \"3:2:middle\": "},
        {"[VendorBlock]\nCode=4:1\n", "[VendorBlock] Code: \"4:1\": overlaps Chip at byte 4"},
        {"[VendorBlock]\nUnit=0:2\n", "[VendorBlock] Unit: \"0:2\": overlaps Opcode at byte 0"},
        {std::string((1 << 20) + 1, '#'), "larger than 1048576 bytes"},
    };
    for (const auto& [ini, error] : cases) {
        const fs::path file = dir.write(ini);
        const ConfLoad load = loadQuorlinkConf(file);
        // Names the file, the key and value; an unusable file allows nothing.
        EXPECT_TRUE(load.error.starts_with(file.string() + ": ") &&
                    load.error.find(error) != std::string::npos && load.conf.allow.empty())
            << ini << "\ngave: " << load.error;
    }
}

// Every commented key of the example, switched on, is read without a word
// and gives the defaults the code has: the example cannot drift from them.
TEST(QuorlinkConf, ExampleShowsTheDefaults) {
    const std::string example = readFile(EXAMPLE_CONF);
    const std::regex key("^;(?=[A-Za-z])", std::regex::multiline);
    EXPECT_EQ(std::distance(std::sregex_iterator(example.begin(), example.end(), key), {}), 17);
    TempDir dir;
    const ConfLoad load = loadQuorlinkConf(dir.write(std::regex_replace(example, key, "")));
    EXPECT_EQ(std::pair(load.error, fields(load.conf)),
              std::pair(std::string(), fields(QuorlinkConf())));
}

// What the station shows at start-up, through the C API, as $QUORLINK_CONF
// names the file.
TEST(QuorlinkConf, NoticeThroughTheApi) {
    // ini (null: no file), notice
    const std::pair<const char*, const char*> cases[] = {
        {nullptr, "No USB drive may be used: FILE does not exist"},
        {"[Drives]\nAllow=\n", "No USB drive may be used: [Drives] Allow= in FILE lists none."},
        {"[Timeouts]\nQuick=0\n", "No USB drive may be used: FILE: [Timeouts] Quick: \"0\": "},
        {"[Drives]\nAllow=058f:6387\n", ""}};
    TempDir dir;
    char text[512] = "";
    for (const auto& [ini, notice] : cases) {
        ::setenv("QUORLINK_CONF", (ini ? dir.write(ini) : dir.path / "none.conf").c_str(), 1);
        installExecutorForTesting(sg::makeSgExecutor(sg::Roots{dir.path, dir.path, dir.path},
                                                     sg::realSgSystem(), std::nullopt,
                                                     loadQuorlinkConf(quorlinkConfPath())));
        const uint16_t said = quorlink_config_notice(text, sizeof text);
        const std::string expected =
            std::regex_replace(notice, std::regex("FILE"), quorlinkConfPath().string());
        EXPECT_EQ(said, expected.empty() ? 0 : 1) << text;
        EXPECT_EQ(std::string(text).substr(0, expected.size()), expected);
    }
    installExecutorForTesting(makeSimulatorExecutor(FAST_RACK));
    EXPECT_EQ(quorlink_config_notice(text, sizeof text), 0) << "the simulator ignores the file";
    installExecutorForTesting(nullptr);
    ::unsetenv("QUORLINK_CONF");
}

// Two writers on one trace (as two processes would be) rotating it: the
// live file stays near the cap, only Keep old files remain, no line is cut.
TEST(TraceRotation, KeepsOnlyKeepFilesOfAboutMaxBytes) {
    for (const int keep : {2, 0}) {
        TempDir dir;
        const TraceLimits limits{2000, keep};
        TraceWriter a(dir.path / "trace.jsonl", false, limits),
            b(dir.path / "trace.jsonl", false, limits);
        const CallRecord call{};
        for (int i = 0; i < 200; ++i) {
            (i % 3 == 0 ? a : b).write(call);
        }
        std::set<std::string> files;
        for (const auto& entry : fs::directory_iterator(dir.path)) {
            files.insert(entry.path().filename());
            EXPECT_LT(fs::file_size(entry), limits.maxBytes + 2 * traceLine(call).size());
            EXPECT_EQ(fs::file_size(entry) % traceLine(call).size(), 0u) << entry.path();
        }
        const std::set<std::string> kept = {"trace.jsonl", "trace.jsonl.1", "trace.jsonl.2"};
        EXPECT_EQ(files, std::set<std::string>(kept.begin(), std::next(kept.begin(), keep + 1)));
    }
}

// A simulated drive whose state cannot be written (a full disk, a file in
// the way) fails the call with status 0 and its reason, and the old state
// file stays whole.
TEST(StateFailure, ConfigBlockThatCannotBeWrittenFailsTheCallAndKeepsTheOldOne) {
    TempDir temp;
    setenv("QUORLINK_STATE_DIR", (temp.path / "state").c_str(), 1);
    setenv("QUORLINK_REPLY_DIR", (temp.path / "replies").c_str(), 1);
    setenv("QUORLINK_TRACE", (temp.path / "trace.jsonl").c_str(), 1);
    installExecutorForTesting(makeSimulatorExecutor(
        temp.write(R"({"drives": [{"index": 1, "capacity": 2048, "chips": ["0xE6"]}]})")));
    const int32_t h = fnQuorbus_GetDiskHandle(1);
    const std::string old(512, '\x11'), block(512, '\x22');
    ASSERT_EQ(fnQuorbus_VendorW(h, 0x81, 512, old.data()), 1);
    const fs::path config = temp.path / "state" / "drive-1" / "config.bin";
    // A full disk: the file size limit stands in for it.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit before{};
    getrlimit(RLIMIT_FSIZE, &before);
    const rlimit small{300, before.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const uint16_t full = fnQuorbus_VendorW(h, 0x81, 512, block.data());
    setrlimit(RLIMIT_FSIZE, &before);
    EXPECT_EQ(std::pair(full, readFile(config)), std::pair(uint16_t{0}, old));
    // Something in the way of the new file (as a read-only directory would be for any other user).
    fs::create_directory(config.string() + ".tmp." + std::to_string(getpid()));
    EXPECT_EQ(fnQuorbus_VendorW(h, 0x81, 512, block.data()), 0);
    EXPECT_EQ(readFile(config), old);
    const std::string trace = readFile(temp.path / "trace.jsonl");
    EXPECT_NE(trace.find("\"reason\":\"cannot write " + config.string()), std::string::npos)
        << trace;
    installExecutorForTesting(nullptr);
    for (const char* name : {"QUORLINK_STATE_DIR", "QUORLINK_REPLY_DIR", "QUORLINK_TRACE"}) {
        unsetenv(name);
    }
}

} // namespace
