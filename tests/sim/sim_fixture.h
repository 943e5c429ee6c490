// A rack file of the test's own in a fresh temporary directory.
#pragma once

#include "encoder.h"
#include "executor.h"
#include "rack.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace simtest {

using Bytes = std::vector<uint8_t>;

// A plain, fault-free USB drive the tests change to their needs.
inline nlohmann::json usbDrive(int index) {
    return {{"index", index},
            {"kind", "usb"},
            {"capacity", 2048},
            {"info", {12, "0x29"}},
            {"chips", {"0xE6", "0xF1"}},
            {"mode", {"0xFF", "0xFF"}},
            {"units94", {{"default", 2}}},
            {"units95", {{"default", 1}}},
            {"vendor", "Acme"},
            {"product", "Stick"},
            // append(): GCC 12 at -O2 and up misreads "S" + string as an
            // overlapping copy (-Wrestrict).
            {"serial", std::string("S").append(std::to_string(index))}};
}

class SimTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::unsetenv("QUORLINK_STATE_DIR");
        std::string pattern = (std::filesystem::temp_directory_path() / "simtest-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    std::filesystem::path writeRack(const nlohmann::json& rack, const char* name = "rack.json") {
        const auto file = dir_ / name;
        std::ofstream(file) << rack.dump(2);
        return file;
    }

    // A rack of the given drives; opens an executor on it.
    std::unique_ptr<quorlink::Executor> executor(const std::vector<nlohmann::json>& drives) {
        rackFile_ = writeRack({{"drives", nlohmann::json(drives)}});
        return quorlink::makeSimulatorExecutor(rackFile_.string());
    }

    std::filesystem::path dir_;
    std::filesystem::path rackFile_;
};

// Runs a command and returns its outcome and data phase.
struct Reply {
    quorlink::Outcome outcome;
    std::vector<uint8_t> data;
};

inline Reply run(quorlink::Device& d, const quorlink::Command& cmd) {
    Reply r;
    r.data.assign(cmd.direction == quorlink::Direction::In ? cmd.dataLength : 0, 0xEE);
    r.outcome = d.execute(cmd, r.data);
    return r;
}

inline quorlink::Command vendorCmd(quorlink::VendorForm form, int code, int chip = 0, int unit = 0,
                                   int parameter = 0, std::span<const uint8_t> out = {}) {
    auto c = quorlink::encodeVendor(form, code, chip, unit, parameter, 0, 0, 512, out);
    if (!c) {
        throw std::runtime_error("encoder refused the vendor block");
    }
    return *c;
}

} // namespace simtest
