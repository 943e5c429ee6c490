// The simulated rack itself: rack files refused with a clear message, the
// demo rack, faults and latency, and the ufd-rack tool on a rack of the test's own.
#include "sim_fixture.h"

#include <gmock/gmock.h>

#include <thread>

namespace simtest {
namespace {

namespace q = quorlink;

q::Outcome run(q::Device& d, const q::Command& cmd) {
    Bytes in(cmd.direction == q::Direction::In ? cmd.dataLength : 0);
    return d.execute(cmd, in);
}

q::Command vendorCmd(q::VendorForm form, int code, int parameter = 0,
                     std::span<const uint8_t> out = {}) {
    return *q::encodeVendor({}, form, code, 0, 0, parameter, 0, 0, 512, out);
}

// Broken or unbounded rack files are refused at once with a message that
// says what is wrong: never a hang, a crash or memory without bound.
TEST_F(SimTest, BrokenRackFilesSayWhatIsWrong) {
    std::ofstream(dir_ / "deep.json")
        << R"({"drives": [], "x": )" << std::string(100000, '[') << std::string(100000, ']') << "}";
    std::ofstream(dir_ / "huge.json") << R"({"drives": []})";
    fs::resize_file(dir_ / "huge.json", q::sim::kMaxRackBytes + 1);
    ASSERT_EQ(::mkfifo((dir_ / "fifo.json").c_str(), 0600), 0);
    // rack file (or the name of one made above), part of the error
    const std::pair<std::string, const char*> cases[] = {
        {"", "not valid JSON"},
        {"[1,2]", "\"drives\" array"}, // a top-level array: no key lookup on it
        {R"({"drives": {}})", "\"drives\" array"},
        {R"({"drives": [{"kind": "usb"}]})", "no index"},
        {R"({"drives": [{"index": 17}]})", "0 to 16"},
        {R"({"drives": [{"index": -1}]})", "0 to 16"},
        {R"({"drives": [{"index": 1}, {"index": 1}]})", "appears twice"},
        {R"({"drives": [{"index": 1, "kind": "floppy"}]})", "floppy"},
        {R"({"drives": [{"index": 1, "chips": ["0x100"]}]})", "not a byte"},
        {R"({"drives": [{"index": 1, "chips": ["zz"]}]})", "expected a number"},
        {R"({"drives": [{"index": 1, "info": [12]}]})", "info"},
        {R"({"drives": [{"index": 1, "mode": [1, 2, 3]}]})", "mode"},
        {R"({"drives": [{"index": 1, "units95": {"0-1": 3}}]})", "chip:unit"},
        {R"({"drives": [{"index": 1, "faults": [{"op": "erase"}]}]})", "erase"},
        {R"({"drives": [{"index": 1, "faults": [{"op": "tur", "effect": "boom"}]}]})", "boom"},
        {R"({"drives": [{"index": 1, "capacity": "lots"}]})", "capacity"},
        // Past the station's int32 sector addresses, or wrapped to a huge unsigned count.
        {R"({"drives": [{"index": 1, "capacity": -1}]})", "capacity: -1 sectors is not 0 to"},
        {R"({"drives": [{"index": 1, "capacity": 18446744073709551615}]})",
         "18446744073709551615 sectors is not 0 to 2147483648"},
        {R"({"drives": [{"index": 1, "capacity": 9223372036854775808}]})", "not 0 to"},
        {R"({"drives": [{"index": 1, "capacity": 2147483649}]})", "not 0 to"},
        {R"({"drives": [{"index": 1, "latency_ms": {"0x100": 5}}]})", "0x100"},
        {R"({"drives": [{"index": 1, "capacity": 8, "flash_sectors": 9}]})", "flash_sectors: 9"},
        {R"({"drives": [{"index": 1, "capacity": 8, "flash_sectors": 0}]})", "flash_sectors: 0"},
        {R"({"drives": [{"index": 1, "capacity": 8, "bad_sectors": [8]}]})", "sector 8"},
        {R"({"drives": [{"index": 1, "capacity": 8, "flash_sectors": 4, "bad_sectors": [4]}]})",
         "sector 4 is not on the flash (4 sectors)"},
        {R"({"drives": [{"index": 1, "capacity": 8, "bad_sectors": 3}]})", "list of sectors"},
        {R"({"drives": [{"index": 1, "mbps": {"read": 0}}]})", "mbps.read"},
        {R"({"drives": [{"index": 1, "mbps": {"write": "fast"}}]})", "mbps.write"},
        {R"({"drives": [{"index": 1, "mbps": {"erase": 5}}]})", "erase"},
        {R"({"drives": [{"index": 1, "mbps": 5}]})", "mbps"},
        // A key the model does not know is named, wherever it is.
        {R"({"drives": [{"index": 1, "flash_sector": 4}]})",
         "drives[0]: unknown key \"flash_sector\""},
        {R"({"drive": [], "drives": []})", "unknown key \"drive\""},
        {R"({"drives": [{"index": 1, "faults": [{"op": "tur", "nht": 2}]}]})",
         "unknown key \"nht\""},
        {R"({"drives": [{"index": 1, "fake": "wraparound"}]})", "fake: \"wraparound\" is not"},
        {R"({"drives": [{"index": 1, "fake": "limbo", "past_end": 0}]})", "past_end: 0 is not"},
        {R"({"drives": [{"index": 1, "cache_sectors": -1}]})", "cache_sectors: -1"},
        {R"({"drives": [{"index": 1, "cache_sectors": 4194304}]})", "cache_sectors: 4194304"},
        {R"({"drives": [{"index": 1, "hang_after": "never"}]})", "hang_after"},
        {R"({"drives": [{"index": 1, "hub": "a"}]})", "no hub \"a\""},
        {R"({"hubs": {"a": {"mbps": 0}}, "drives": []})", "hubs.a.mbps"},
        {R"({"hubs": {"a": {"mbsp": 40}}, "drives": []})", "hubs.a"},
        {R"({"hubs": {"a": {"mbps": 40, "speed": 1}}, "drives": []})", "unknown key \"speed\""},
        {"deep.json", "nests deeper than 64 levels"},
        {"huge.json", "larger than 16 MiB"},
        {"fifo.json", "not a regular file"},
        {"absent.json", "absent.json"},
    };
    for (const auto& [text, message] : cases) {
        std::ofstream(dir_ / "bad.json") << text;
        const fs::path file = dir_ / (text.ends_with(".json") ? text : "bad.json");
        EXPECT_THAT([&] { q::sim::loadRack(file); },
                    testing::ThrowsMessage<q::sim::RackError>(testing::HasSubstr(message)))
            << text;
        // The library finds no drive instead of crashing.
        EXPECT_EQ(q::makeSimulatorExecutor(file.string())->open(1).device, nullptr) << text;
    }
}

// The demo rack is the station tests' rack (fast.json, whose drives and
// verdicts those tests pin) with the latency of real drives added.
TEST_F(SimTest, DemoIsTheFastRackWithTheLatencyOfRealDrives) {
    const fs::path examples = UFD_EXAMPLE_RACK_DIR;
    auto slow = nlohmann::json::parse(std::ifstream(examples / "default.json"))["drives"];
    std::for_each(slow.begin(), slow.end(), [](auto& d) { d.erase("latency_ms"); });
    EXPECT_EQ(slow, nlohmann::json::parse(std::ifstream(examples / "fast.json"))["drives"]);
    std::set<uint8_t> codes, controllers;
    for (const auto& d : q::sim::loadRack(examples / "default.json").drives) {
        if (d.kind == q::sim::DriveKind::Usb) {
            codes.insert(d.chips.begin(), d.chips.end());
            controllers.insert(d.info131);
            SCOPED_TRACE(d.index);
            // The mode block is only read when a large-block chip is present.
            EXPECT_TRUE(
                (d.modeBlock != std::array<uint8_t, 2>{0xFF, 0xFF}) ||
                std::ranges::any_of(d.chips, [](uint8_t c) { return c == 0xF1 || c == 0xDA; }));
            // By vendor code, then operation, then default: an erase takes far longer than a
            // status read.
            EXPECT_EQ((std::array{d.latencyFor("tur", {}), d.latencyFor("write", {}),
                                  d.latencyFor("vendor", 0x94), d.latencyFor("vendor_scan", 0x95)}),
                      (std::array{5, 25, 15, 80}));
        }
    }
    // Every device code the station knows; controllers 27, 29 and another.
    EXPECT_EQ(codes, (std::set<uint8_t>{0xE6, 0x73, 0x75, 0x76, 0x79, 0xF1, 0xDA}));
    EXPECT_TRUE(controllers.contains(0x27) && controllers.contains(0x29) && controllers.size() > 2);
    // And it is slept.
    ::setenv("QUORLINK_STATE_DIR", dir_.c_str(), 1);
    const auto dev = q::makeSimulatorExecutor(examples / "default.json")->open(1).device;
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_TRUE(run(*dev, vendorCmd(q::VendorForm::Scan, 0x95, 0xF1)).ok);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 80ms) << "the erase took its time";
}

// The flash behind the controller: a 64-sector drive keeping 16, whose sector 3
// spoils what it keeps and which writes at 1 MB/s.
TEST_F(SimTest, FlashKeepsWrapsSpoilsAndPaces) {
    const auto drive = usbDrive(
        1,
        {{"capacity", 64}, {"flash_sectors", 16}, {"bad_sectors", {3}}, {"mbps", {{"write", 1}}}});
    const auto dev = executor({drive})->open(1).device;
    Bytes all(64 * 512);
    for (size_t i = 0; i < all.size(); ++i) {
        all[i] = static_cast<uint8_t>(i / 512 + 1); // sector s holds s + 1
    }
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(run(*dev, *q::encodeWrite(0, 64, all)).ok);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 32ms) << "32768 bytes at 1 MB/s";
    Bytes back(64 * 512);
    ASSERT_TRUE(dev->execute(*q::encodeRead(0, 64), back).ok);
    for (int s = 0; s < 64; ++s) {
        // Every sector reads what the last write of its kind (s modulo 16) left.
        const uint8_t want = static_cast<uint8_t>(48 + s % 16 + 1);
        EXPECT_EQ(back[static_cast<size_t>(s) * 512], s % 16 == 3 ? uint8_t(~want) : want) << s;
        EXPECT_EQ(back[static_cast<size_t>(s) * 512 + 511], back[static_cast<size_t>(s) * 512]);
    }
    // The image holds only the flash's sectors; nothing landed past them.
    std::ifstream image(rackFile_.string() + ".state/drive-1/image.img", std::ios::binary);
    const Bytes stored((std::istreambuf_iterator<char>(image)), {});
    EXPECT_TRUE(
        std::all_of(stored.begin() + 16 * 512, stored.end(), [](uint8_t b) { return b == 0; }));
}

// A drive that stops answering after hang_after commands answers again after
// one reset, for good, and its cache, written out by the reset, shows the fake.
TEST_F(SimTest, HangsUntilResetAndTheCacheHidesTheWrap) {
    const auto drive = usbDrive(1, {{"capacity", 64},
                                    {"flash_sectors", 16},
                                    {"fake", "wrap"},
                                    {"cache_sectors", 32},
                                    {"hang_after", 3}});
    const auto dev = executor({drive})->open(1).device;
    Bytes high(512, 0xAB), back(512);
    ASSERT_TRUE(run(*dev, *q::encodeWrite(16, 1, high)).ok);
    ASSERT_TRUE(dev->execute(*q::encodeRead(0, 1), back).ok);
    EXPECT_EQ(back[0], 0) << "sector 16 still in the cache";
    EXPECT_TRUE(run(*dev, q::encodeTestUnitReady()).ok);
    for (int k = 0; k < 2; ++k) { // and stays silent
        const q::Outcome silent = run(*dev, q::encodeTestUnitReady());
        EXPECT_EQ(std::pair(silent.ok, silent.reason),
                  std::pair(false, std::string("drive not answering")));
    }
    ASSERT_TRUE(dev->reset().ok);
    ASSERT_TRUE(dev->execute(*q::encodeRead(0, 1), back).ok);
    EXPECT_EQ(back[0], 0xAB) << "written out by the reset onto sector 0";
    for (int k = 0; k < 5; ++k) {
        EXPECT_TRUE(run(*dev, q::encodeTestUnitReady()).ok) << "it hangs once, " << k;
    }
}

// Drives on one hub share its bandwidth: two drives each writing 200 kB at
// once over a 1 MB/s hub take 0.4 s, alone each could do it in a tenth.
TEST_F(SimTest, DrivesOnAHubShareItsBandwidth) {
    std::vector<nlohmann::json> drives;
    for (int i = 1; i <= 2; ++i) {
        drives.push_back(usbDrive(i, {{"capacity", 4096}, {"mbps", {{"write", 2}}}, {"hub", "h"}}));
    }
    std::ofstream(rackFile_ = dir_ / "rack.json")
        << nlohmann::json{{"hubs", {{"h", {{"mbps", 1}}}}}, {"drives", drives}}.dump();
    const auto exec = q::makeSimulatorExecutor(rackFile_.string());
    const auto a = exec->open(1).device, b = exec->open(2).device;
    const Bytes data(400 * 512, 1); // 204,800 bytes
    const auto t0 = std::chrono::steady_clock::now();
    std::thread other([&] { EXPECT_TRUE(run(*b, *q::encodeWrite(0, 400, data)).ok); });
    EXPECT_TRUE(run(*a, *q::encodeWrite(0, 400, data)).ok);
    other.join();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_GE(seconds, 0.40);
    EXPECT_LT(seconds, 0.60);
}

// A write to a drive with its switch on fails with the sense of a protected
// medium (DATA PROTECT, 27/00), which the C API hands on.
TEST_F(SimTest, WriteProtectedWritesAnswerWithTheirSense) {
    auto drive = usbDrive(1);
    drive.update({{"capacity", 64}, {"write_protect", true}});
    const auto dev = executor({drive})->open(1).device;
    const q::Outcome w = run(*dev, *q::encodeWrite(0, 1, Bytes(512, 1)));
    EXPECT_FALSE(w.ok);
    EXPECT_EQ(w.sense, (std::array<uint8_t, 3>{0x07, 0x27, 0x00}));
    Bytes back(512);
    const q::Outcome r = dev->execute(*q::encodeRead(0, 1), back);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.sense, (std::array<uint8_t, 3>{}));
}

// Each operation name fails its own commands only, every time (nth 0).
TEST_F(SimTest, EachOperationNameMatchesItsCommandsOnly) {
    // The other names' commands are pinned by the device and library tests' faults.
    const std::vector<std::pair<std::string, q::Command>> cases = {
        {"capacity", q::encodeReadCapacity16()},
        {"read", *q::encodeRead(0, 1)},
        {"vendor", vendorCmd(q::VendorForm::ChipUnit, 0x94)},
    };
    for (const auto& [op, faulty] : cases) {
        auto drive = usbDrive(1);
        drive["faults"] = {{{"op", op}}};
        const auto dev = executor({drive})->open(1).device;
        for (const auto& [other, cmd] : cases) {
            EXPECT_EQ(run(*dev, cmd).ok, other != op) << op << " fault, command of " << other;
        }
        // Again: every time.
        EXPECT_EQ(run(*dev, faulty).reason, "simulated fault on " + op);
    }
}

TEST_F(SimTest, EveryCommandOnTheSharedState) {
    // The boundary and a configuration block as the station sends them, and five reads: the
    // tool shows what they left.
    // Drives 2 and 3 only for the flash keys the list shows: the fake's kind only where it is
    // not today's wrap.
    const auto ex = executor(
        {{{"index", 0}, {"kind", "disk"}, {"line", "IDE\\DiskPC\\1"}},
         usbDrive(1),
         usbDrive(2, {{"flash_sectors", 16}, {"bad_sectors", {3}}, {"mbps", {{"write", 1}}}}),
         usbDrive(
             3,
             {{"flash_sectors", 16}, {"fake", "wrap"}, {"cache_sectors", 32}, {"hang_after", 3}})});
    const auto dev = ex->open(1).device;
    const std::array<uint8_t, 512> block{0x78, 0x56, 0x34, 0x12};
    std::vector<q::Command> sent(5, *q::encodeRead(0, 1));
    sent.push_back(vendorCmd(q::VendorForm::Write, 0x99, 0, block));
    sent.push_back(vendorCmd(q::VendorForm::Write, 0x81, 0, block));
    EXPECT_TRUE(std::ranges::all_of(sent, [&](const q::Command& c) { return run(*dev, c).ok; }));
    // A shell line, its exit code, and a piece of its output ("=": the whole output).
    const std::tuple<std::string, int, std::string> steps[] = {
        {"$R list", 0,
         "0     disk  yes      -            0  IDE\\DiskPC\\1|1     usb   yes      off       2048  "
         "USBSTOR\\Disk&Ven_Acme&Prod_Stick&Rev_1.00\\S1\n|\\S2  flash_sectors=16  bad_sectors=3  "
         "write_mbps=1\n|\\S3  flash_sectors=16  cache_sectors=32  hang_after=3\n|16    empty"},
        {"$R unplug 1 && $R list", 0, "1     usb   no       off"},
        {"$R plug 1 && $R wp 1 on && $R list", 0, "1     usb   yes      on"},
        {"QUORLINK_RACK=rack.json ufd-rack wp 1 off && $R list", 0, "1     usb   yes      off"},
        {"$R config 1", 0, "0000  78 56 34 12 00|\n01f0  00"},
        {"$R led 1", 0, "=5\n"},
        {"$R boundary 1", 0, "=305419896\n"},
        // FAT16 at 32 and an extended partition at 1032 holding FAT16 at 32 + 1032.
        {"printf '32,1000,6\\n1032,1000,5\\n1064,968,6\\n' | sfdisk -q $I && $R partitions 1", 0,
         "MBR at sector 0|EBR at sector 1032|32          1000|32          968"},
        {"$R reset 1 && $R led 1 && $R boundary 1", 0, "=drive 1 reset\n0\nnone\n"},
        {"$R config 1 | grep -vc '  00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00$'", 1, "=0\n"},
        {"$R partitions 1", 0, "no partition table"},
        {"$R", 2, "usage"},
        {"$R frobnicate 1", 2, "usage"},
        {"$R plug 17", 1, "0 to 16"},
        {"$R plug x", 1, "not a drive index"},
        {"$R plug 5", 1, "empty"},
        {"$R wp 0 on", 1, "not a USB drive"},
        {"$R partitions 0", 1, "not a USB drive"},
        {"ufd-rack list", 2, "no rack"},
        {"echo '{\"drives\": [{\"index\": 2, \"capacity\": -1}]}' >neg.json && ufd-rack --rack "
         "neg.json list",
         1,
         "=ufd-rack: rack file neg.json: drives[0].capacity: -1 sectors is not 0 to 2147483648 "
         "(the station addresses sectors as int32)\n"},
    };
    for (const auto& [line, exitCode, says] : steps) {
        // In the test's directory, ufd-rack and sfdisk on its PATH, no rack in the environment.
        const std::string cmd = "cd '" + dir_.string() + "' && unset QUORLINK_RACK; PATH='" +
                                fs::path(UFD_RACK_TOOL).parent_path().string() +
                                "':$PATH:/usr/sbin:/sbin R='ufd-rack --rack rack.json' "
                                "I=rack.json.state/drive-1/image.img; (" +
                                line + ") >out.txt 2>&1";
        const int status = std::system(cmd.c_str());
        std::ifstream in(dir_ / "out.txt");
        const std::string out(std::istreambuf_iterator<char>(in), {});
        EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, exitCode) << line << ": " << out;
        // "a|b": each piece somewhere in the output.
        for (const auto piece : std::views::split(says, '|')) {
            const std::string want(piece.begin(), piece.end());
            EXPECT_TRUE(want.starts_with('=') ? out == want.substr(1)
                                              : out.find(want) != std::string::npos)
                << line << ": " << out;
        }
    }
}

} // namespace
} // namespace simtest
