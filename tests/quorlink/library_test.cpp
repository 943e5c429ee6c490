// A program that knows only the C header, linked against libquorlink.so,
// driving the simulated default rack. The library picks its backend once per
// process, so all tests share one copy of the rack.
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
#include <vector>

namespace {

namespace fs = std::filesystem;

std::optional<std::string> readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class Library : public testing::Test {
protected:
    static void SetUpTestSuite() {
        char tmpl[] = "/tmp/quorlink-library-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        fs::copy_file(DEFAULT_RACK, dir_ / "rack.json");
        setenv("QUORLINK_RACK", (dir_ / "rack.json").c_str(), 1);
        setenv("QUORLINK_REPLY_DIR", (dir_ / "replies").c_str(), 1);
        unsetenv("QUORLINK_STATE_DIR");
        unsetenv("QUORLINK_TRACE");
        char t[512];
        char b[512];
        ASSERT_EQ(quorlink_reply_paths(t, sizeof t, b, sizeof b), 1);
        text_ = t;
        binary_ = b;
        std::ifstream in(DEFAULT_RACK);
        const auto rack = nlohmann::json::parse(in);
        for (const auto& d : rack["drives"]) {
            drives_[d["index"].get<int>()] = d;
        }
    }
    static void TearDownTestSuite() {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    static std::string firstLine(const fs::path& p) {
        const std::string s = readFile(p).value_or("<no file>");
        return s.substr(0, s.find_first_of("\r\n"));
    }

    static inline fs::path dir_, text_, binary_;
    static inline std::map<int, nlohmann::json> drives_;
};

TEST_F(Library, DiscoversTheRackDriveByDrive) {
    int protectedDrives = 0;
    std::vector<uint8_t> sector(512, 0x11);
    for (int32_t index = -1; index <= 17; ++index) {
        SCOPED_TRACE(index);
        const int32_t h = fnQuorbus_GetDiskHandle(index);
        const auto it = drives_.find(index);
        if (it == drives_.end()) {
            EXPECT_EQ(h, 0);
            EXPECT_FALSE(fs::exists(text_));
            continue;
        }
        ASSERT_NE(h, 0);
        const bool usb = it->second["kind"] == "usb";
        EXPECT_EQ(firstLine(text_).find("USBSTOR") != std::string::npos, usb);
        if (usb) {
            EXPECT_EQ(fnQuorbus_TestUnitReady(h), 1);
            ASSERT_EQ(fnQuorbus_ReadCapacity(h), 1);
            EXPECT_EQ(firstLine(text_), std::to_string(it->second["capacity"].get<uint64_t>()));
            ASSERT_EQ(fnQuorbus_ModeSense(h), 1);
            const auto mode = readFile(binary_).value();
            ASSERT_EQ(mode.size(), 512U);
            const bool wp = uint8_t(mode[82]) == 0x80;
            EXPECT_EQ(wp, it->second.value("write_protect", false));
            protectedDrives += wp ? 1 : 0;
            EXPECT_EQ(fnQuorbus_Write(h, 1, 100, sector.data()), wp ? 0 : 1);
        } else {
            EXPECT_EQ(fnQuorbus_VendorR(h, 0x75, 0, 512), 0)
                << "no vendor commands to a fixed disk";
            EXPECT_FALSE(fs::exists(binary_));
        }
        EXPECT_EQ(fnQuorbus_CloseHandle(h), 1);
    }
    EXPECT_EQ(protectedDrives, 1);
}

TEST_F(Library, EveryVendorCodeAndSectorsOfOneDrive) {
    const int32_t h = fnQuorbus_GetDiskHandle(1);
    ASSERT_NE(h, 0);
    std::string config(512, '\0');
    for (size_t i = 0; i < config.size(); ++i) {
        config[i] = static_cast<char>(255 - i % 256);
    }
    EXPECT_EQ(fnQuorbus_VendorW(h, 0x81, 512, config.data()), 1);
    for (int code : {0x75, 0x93, 0x9F, 0x96, 0x98, 0x9B, 0x99, 0x82}) {
        ASSERT_EQ(fnQuorbus_VendorR(h, code, 0, 512), 1) << code;
        EXPECT_EQ(readFile(binary_).value().size(), 512U) << code;
    }
    EXPECT_EQ(readFile(binary_), config) << "0x82 reads back the block 0x81 stored";
    for (int code : {0x94, 0x95}) {
        ASSERT_EQ(fnQuorbus_Vendor(h, code, 0, 0, 512), 1);
        EXPECT_EQ(readFile(binary_).value().size(), 512U);
        ASSERT_EQ(fnQuorbus_VendorScan(h, code, 0, 0, 1, 0, 0, 512), 1);
        EXPECT_EQ(readFile(binary_).value().size(), 512U);
    }
    EXPECT_EQ(fnQuorbus_VendorR(h, 0x01, 0, 512), 0) << "unknown vendor code";
    EXPECT_FALSE(fs::exists(binary_));

    std::vector<uint8_t> sectors(4 * 512, 0xE5);
    EXPECT_EQ(fnQuorbus_Write(h, 4, 0, sectors.data()), 1);
    EXPECT_EQ(fnQuorbus_Read(h, 4, 0), 1);
    EXPECT_EQ(fnQuorbus_Read(h, 1, 2000000000), 0) << "past the end of the drive";
    EXPECT_EQ(fnQuorbus2K_KillEXE(), 1);
    EXPECT_EQ(fnQuorbus_CloseHandle(h), 1);
}

} // namespace
