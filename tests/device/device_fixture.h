// A station context over a scripted transport whose vendor replies come from
// a table, with one slot holding a handle.
#pragma once

#include "device/station_context.h"
#include "format/volume.h"
#include "support/recording_transport.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>
#include <vector>

namespace ufd::test {

inline std::vector<uint8_t> Block(std::initializer_list<std::pair<size_t, uint8_t>> bytes) {
    std::vector<uint8_t> b(512, 0);
    for (auto [at, v] : bytes) {
        b[at] = v;
    }
    return b;
}

// A unit list with n entries then 0xAA 0x55 (no pair when n >= 510).
inline std::vector<uint8_t> UnitList(int n) {
    std::vector<uint8_t> b(512, 0);
    int i = 1;
    for (; i <= n && i < 512; ++i) {
        b[static_cast<size_t>(i)] = 0x11;
    }
    if (i <= 510) {
        b[static_cast<size_t>(i)] = 0xAA;
        b[static_cast<size_t>(i) + 1] = 0x55;
    }
    return b;
}

inline std::vector<uint8_t> ChipList(std::vector<uint8_t> codes) {
    codes.push_back(0xAA);
    codes.resize(512, 0);
    return codes;
}

class DeviceTest : public ::testing::Test {
protected:
    static constexpr int32_t kHandle = 7;

    DeviceTest()
        : files_(Path("quorlink.txt"), Path("quorlink.bin")), transport(files_), ctx(transport) {
        ctx.replies = files_;
        ctx.slots.DiskSlots[0].Handle = kHandle;
        ctx.slots.DiskCount = 1;
        BuildSectorTemplates(ctx);
        ctx.Product.Vid = "1234";
        ctx.Product.Pid = "5678";
        ctx.Product.UsbManufactureString = "AB";
        ctx.Product.UsbProductString = "CD";
        ctx.Product.ScsiManufactureString = "EF";
        ctx.Product.ScsiProductString = "GH";
        ctx.Product.FirstShare = 1.0;
        ctx.Product.DiskLabel = "LABEL";
        transport.script = [this](const Call& c) { return Answer(c); };
    }

    DiskSlot& Slot() { return ctx.slots.DiskSlots[0]; }

    // Vendor replies by code; vendor calls not in the table answer 512 zeros.
    std::map<int64_t, std::vector<uint8_t>> vendor;
    // Unit lists by (code, chip, unit); default: an empty list.
    std::map<std::tuple<int64_t, int64_t, int64_t>, std::vector<uint8_t>> units;
    // Calls that fail: (fn, code or -1).
    std::vector<std::pair<std::string, int64_t>> failing;
    std::string capacityText = "1000001";
    std::vector<uint8_t> modeSense = std::vector<uint8_t>(512, 0);

    // The vendor codes sent, in order, as (fn, code).
    std::vector<std::pair<std::string, int64_t>> VendorSequence() const {
        std::vector<std::pair<std::string, int64_t>> seq;
        for (const auto& c : transport.calls) {
            if (c.fn.rfind("Vendor", 0) == 0) {
                seq.emplace_back(c.fn, c.args[1]);
            }
        }
        return seq;
    }

private:
    std::filesystem::path Path(const char* name) {
        return std::filesystem::path(dir_.path().toStdString()) / name;
    }

    ufd::test::Answer Answer(const Call& c) {
        const int64_t code = c.fn.rfind("Vendor", 0) == 0 ? c.args[1] : -1;
        for (const auto& [fn, failCode] : failing) {
            if (fn == c.fn && (failCode == -1 || failCode == code)) {
                return {0, std::nullopt, std::nullopt};
            }
        }
        if (c.fn == "ReadCapacity") {
            return {1, std::nullopt, capacityText + "\r\n"};
        }
        if (c.fn == "ModeSense") {
            return {1, modeSense, std::nullopt};
        }
        if (c.fn == "Vendor" || c.fn == "VendorScan") {
            auto it = units.find({code, c.args[2], c.args[3]});
            if (it != units.end()) {
                return {1, it->second, std::nullopt};
            }
            if (code == 0x94 || code == 0x95) {
                return {1, UnitList(0), std::nullopt};
            }
        }
        if (c.fn == "VendorR" || c.fn == "Vendor" || c.fn == "VendorScan") {
            auto it = vendor.find(code);
            return {1, it != vendor.end() ? it->second : std::vector<uint8_t>(512, 0),
                    std::nullopt};
        }
        return {1, std::nullopt, std::nullopt};
    }

    QTemporaryDir dir_;
    ReplyFiles files_;

protected:
    RecordingTransport transport;
    StationContext ctx;
};

} // namespace ufd::test
