// A rack file of the test's own in a fresh temporary directory.
#pragma once

#include "encoder.h"
#include "executor.h"
#include "rack.h"
#include "support/test_common.h"

#include <nlohmann/json.hpp>

namespace simtest {

using Bytes = std::vector<uint8_t>;

// A plain, fault-free USB drive with the test's changes.
inline nlohmann::json usbDrive(int index, const nlohmann::json& change = nullptr) {
    auto drive = nlohmann::json::parse(R"({"kind": "usb", "capacity": 2048, "info": [12, "0x29"],
        "chips": ["0xE6", "0xF1"], "mode": ["0xFF", "0xFF"], "units94": {"default": 2},
        "units95": {"default": 1}, "vendor": "Acme", "product": "Stick"})");
    // append(): GCC 12 at -O2 and up misreads "S" + string as an overlapping copy (-Wrestrict).
    drive.update({{"index", index}, {"serial", std::string("S").append(std::to_string(index))}});
    drive.update(change.is_object() ? change : nlohmann::json::object());
    return drive;
}

class SimTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::unsetenv("QUORLINK_STATE_DIR");
        std::string pattern = (fs::temp_directory_path() / "simtest-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    // A rack of the given drives; opens an executor on it.
    std::unique_ptr<quorlink::Executor> executor(const std::vector<nlohmann::json>& drives) {
        std::ofstream(rackFile_ = dir_ / "rack.json") << nlohmann::json{{"drives", drives}}.dump(2);
        return quorlink::makeSimulatorExecutor(rackFile_.string());
    }

    fs::path dir_, rackFile_;
};

} // namespace simtest
