// A program that knows only the C header: it loads libquorlink.so from the
// program directory and drives the simulated default rack through it.
#include <quorlink/quorlink.h>

#include <gtest/gtest.h>

#include <dlfcn.h>
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

std::optional<std::vector<uint8_t>> readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string firstLine(const fs::path& p) {
    const auto bytes = readFile(p);
    if (!bytes) {
        return "<no file>";
    }
    std::string s(bytes->begin(), bytes->end());
    return s.substr(0, s.find_first_of("\r\n"));
}

class Library : public testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/quorlink-library-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        rack_ = dir_ / "rack.json";
        fs::copy_file(DEFAULT_RACK, rack_);
        setenv("QUORLINK_RACK", rack_.c_str(), 1);
        setenv("QUORLINK_REPLY_DIR", (dir_ / "replies").c_str(), 1);
        unsetenv("QUORLINK_STATE_DIR");
        lib_ = dlopen(QUORLINK_SO, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(lib_, nullptr) << dlerror();
        load(getDiskHandle, "fnQuorbus_GetDiskHandle");
        load(closeHandle, "fnQuorbus_CloseHandle");
        load(readCapacity, "fnQuorbus_ReadCapacity");
        load(modeSense, "fnQuorbus_ModeSense");
        load(testUnitReady, "fnQuorbus_TestUnitReady");
        load(read, "fnQuorbus_Read");
        load(write, "fnQuorbus_Write");
        load(vendorR, "fnQuorbus_VendorR");
        load(vendorW, "fnQuorbus_VendorW");
        load(vendor, "fnQuorbus_Vendor");
        load(vendorScan, "fnQuorbus_VendorScan");
        load(killExe, "fnQuorbus2K_KillEXE");
        load(replyPaths, "quorlink_reply_paths");
        char t[512];
        char b[512];
        ASSERT_EQ(replyPaths(t, sizeof t, b, sizeof b), 1);
        text_ = t;
        binary_ = b;
        std::ifstream in(rack_);
        const auto rack = nlohmann::json::parse(in);
        for (const auto& d : rack["drives"]) {
            drives_[d["index"].get<int>()] = d;
        }
    }
    void TearDown() override {
        // The library stays loaded: its state lives until the process ends,
        // as it would in the station.
        unsetenv("QUORLINK_RACK");
        unsetenv("QUORLINK_REPLY_DIR");
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    template <typename F> void load(F*& f, const char* name) {
        f = reinterpret_cast<F*>(dlsym(lib_, name));
        ASSERT_NE(f, nullptr) << name << " not exported";
    }
    int32_t firstUsb() {
        for (const auto& [index, d] : drives_) {
            if (d["kind"] == "usb") {
                return getDiskHandle(index);
            }
        }
        return 0;
    }

    fs::path dir_, rack_, text_, binary_;
    void* lib_ = nullptr;
    std::map<int, nlohmann::json> drives_;
    decltype(&fnQuorbus_GetDiskHandle) getDiskHandle = nullptr;
    decltype(&fnQuorbus_CloseHandle) closeHandle = nullptr;
    decltype(&fnQuorbus_ReadCapacity) readCapacity = nullptr;
    decltype(&fnQuorbus_ModeSense) modeSense = nullptr;
    decltype(&fnQuorbus_TestUnitReady) testUnitReady = nullptr;
    decltype(&fnQuorbus_Read) read = nullptr;
    decltype(&fnQuorbus_Write) write = nullptr;
    decltype(&fnQuorbus_VendorR) vendorR = nullptr;
    decltype(&fnQuorbus_VendorW) vendorW = nullptr;
    decltype(&fnQuorbus_Vendor) vendor = nullptr;
    decltype(&fnQuorbus_VendorScan) vendorScan = nullptr;
    decltype(&fnQuorbus2K_KillEXE) killExe = nullptr;
    decltype(&quorlink_reply_paths) replyPaths = nullptr;
};

TEST_F(Library, DiscoversTheRackDriveByDrive) {
    ASSERT_FALSE(drives_.empty());
    for (int32_t index = 0; index <= 16; ++index) {
        SCOPED_TRACE(index);
        const int32_t h = getDiskHandle(index);
        const auto it = drives_.find(index);
        if (it == drives_.end()) {
            EXPECT_EQ(h, 0);
            EXPECT_FALSE(fs::exists(text_));
            continue;
        }
        ASSERT_NE(h, 0);
        const std::string line = firstLine(text_);
        EXPECT_EQ(line.find("USBSTOR") != std::string::npos, it->second["kind"] == "usb") << line;
        if (it->second["kind"] == "usb") {
            EXPECT_EQ(testUnitReady(h), 1);
            ASSERT_EQ(readCapacity(h), 1);
            EXPECT_EQ(firstLine(text_), std::to_string(it->second["capacity"].get<uint64_t>()));
            ASSERT_EQ(modeSense(h), 1);
            const auto mode = readFile(binary_).value();
            ASSERT_EQ(mode.size(), 512U);
            EXPECT_TRUE(mode[82] == 0x00 || mode[82] == 0x80);
        } else {
            EXPECT_EQ(vendorR(h, 0x75, 0, 512), 0) << "no vendor commands to a fixed disk";
            EXPECT_FALSE(fs::exists(binary_));
        }
        EXPECT_EQ(closeHandle(h), 1);
    }
    EXPECT_EQ(getDiskHandle(17), 0);
    EXPECT_EQ(getDiskHandle(-1), 0);
}

TEST_F(Library, EveryVendorCodeAnswersInTheBinaryFile) {
    const int32_t h = firstUsb();
    ASSERT_NE(h, 0);
    std::vector<uint8_t> config(512);
    for (size_t i = 0; i < config.size(); ++i) {
        config[i] = static_cast<uint8_t>(255 - i % 256);
    }
    EXPECT_EQ(vendorW(h, 0x81, 512, config.data()), 1);
    std::vector<uint8_t> boundary(512, 0);
    boundary[0] = 0x40;
    EXPECT_EQ(vendorW(h, 0x99, 512, boundary.data()), 1);

    for (int code : {0x75, 0x93, 0x9F, 0x96, 0x98, 0x9B, 0x82}) {
        SCOPED_TRACE(code);
        ASSERT_EQ(vendorR(h, code, 0, 512), 1);
        const auto reply = readFile(binary_);
        ASSERT_TRUE(reply.has_value());
        EXPECT_EQ(reply->size(), 512U);
    }
    EXPECT_EQ(readFile(binary_).value(), config) << "0x82 reads back the block 0x81 stored";

    for (int code : {0x94, 0x95}) {
        SCOPED_TRACE(code);
        ASSERT_EQ(vendor(h, code, 0, 0, 512), 1);
        EXPECT_EQ(readFile(binary_).value().size(), 512U);
        ASSERT_EQ(vendorScan(h, code, 0, 0, 1, 0, 0, 512), 1);
        EXPECT_EQ(readFile(binary_).value().size(), 512U);
    }
    EXPECT_EQ(vendorR(h, 0x01, 0, 512), 0) << "unknown vendor code";
    EXPECT_FALSE(fs::exists(binary_));
    EXPECT_EQ(killExe(), 1);
}

TEST_F(Library, WritesAndReadsSectors) {
    const int32_t h = firstUsb();
    ASSERT_NE(h, 0);
    std::vector<uint8_t> sectors(4 * 512, 0xE5);
    EXPECT_EQ(write(h, 4, 0, sectors.data()), 1);
    EXPECT_EQ(read(h, 4, 0), 1);
    EXPECT_EQ(read(h, 1, 2000000000), 0) << "past the end of the drive";
    EXPECT_EQ(write(h, 0, 0, sectors.data()), 0);
    EXPECT_EQ(write(h, 1, 0, nullptr), 0);
}

TEST_F(Library, WriteProtectedDriveShowsInModeSenseAndRefusesWrites) {
    // Find the drive whose mode sense reports write protection, if the rack
    // has one, and check that it refuses writes while others accept them.
    int protectedDrives = 0;
    std::vector<uint8_t> sector(512, 0x11);
    for (const auto& [index, d] : drives_) {
        if (d["kind"] != "usb") {
            continue;
        }
        SCOPED_TRACE(index);
        const int32_t h = getDiskHandle(index);
        ASSERT_NE(h, 0);
        ASSERT_EQ(modeSense(h), 1);
        const bool wp = readFile(binary_).value()[82] == 0x80;
        protectedDrives += wp ? 1 : 0;
        EXPECT_EQ(write(h, 1, 100, sector.data()), wp ? 0 : 1);
        closeHandle(h);
    }
    EXPECT_GE(protectedDrives, 1) << "the default rack has a write-protected drive";
}

} // namespace
