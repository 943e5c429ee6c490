// One simulated drive (index 1 of a rack of its own) behind the real
// libquorlink, driven through the station's device layer as a test-run item
// would drive it. Each run happens in a child process: the library picks its
// backend and counts faults once per process, so every run starts afresh,
// while the drive's image and configuration block persist in the rack's state.
#pragma once

#include "device/chip_scan.h"
#include "device/identity.h"
#include "device/low_level_format.h"
#include "device/write_protect.h"
#include "format/volume.h"
#include "support/test_common.h"

#include <QTemporaryDir>
#include <nlohmann/json.hpp>

namespace ufd::test {

enum class Item { Format, Manufacture, CheckConfig, CheckWp };

inline constexpr int16_t kNotRun = -1; // the Format's low-level step after a failed scan

struct SimOutcome {
    int16_t status = -1, result = kNotRun;
    int32_t handle = 0;
    std::vector<int> steps; // progress advances, in order
};

// The worked example's identity, one area, label TESTDISK.
inline ProductConfig SampleProduct() {
    // SCSI, VID/PID, USB strings, shares, ApMode, label.
    return {"EF", "GH", "1234", "5678", "AB", "CD", 1.0, 0, 1, "TESTDISK"};
}

// A healthy drive: information byte 0x29, one large-block chip (0xF1) of 4
// units with extended scan (mode block 0xFF 0xFF), one entry in every 0x94
// list, none in the 0x95 lists.
inline nlohmann::json SimDriveEntry(int64_t capacity) {
    auto drive = nlohmann::json::parse(R"({"index": 1, "kind": "usb", "info": [12, 41],
        "chips": [241], "mode": [255, 255], "units94": {"default": 1}, "units95": {"default": 0}})");
    drive["capacity"] = capacity;
    return drive;
}

class SimDrive {
public:
    // Without a trace for drives of many GiB, whose FAT writes would fill it.
    explicit SimDrive(const nlohmann::json& drive, bool trace = true) {
        std::ofstream(Path("rack.json")) << nlohmann::json{
            {"drives", {drive}}, {"trace", trace ? nlohmann::json("trace.jsonl") : nullptr}};
    }

    // [Volume] LargeFileSystem of the runs' station.conf.
    LargeFileSystem largeFs = LargeFileSystem::Auto;

    fs::path Path(const char* name) const { return dir_.filePath(name).toStdString(); }
    fs::path State(const char* name) const { return Path("rack.json.state") / "drive-1" / name; }

    // The child leaves its outcome in a file; none means it did not finish.
    SimOutcome Run(Item item, const ProductConfig& product,
                   std::optional<double> progressMax = std::nullopt) const {
        fs::remove(Path("outcome.json"));
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::setenv("QUORLINK_RACK", Path("rack.json").c_str(), 1);
            ::setenv("QUORLINK_REPLY_DIR", Path("replies").c_str(), 1);
            ::unsetenv("QUORLINK_STATE_DIR");
            QuorlinkTransport transport;
            StationContext ctx(transport);
            ctx.Product = product;
            ctx.Settings.LargeFs = largeFs;
            BuildSectorTemplates(ctx);
            Progress progress;
            progress.max = progressMax.value_or(0);
            ctx.progress = progressMax ? &progress : nullptr;
            DiskSlot& slot = ctx.slots.DiskSlots[0];
            slot.Handle = transport.GetDiskHandle(1);
            ctx.replies.ReadReplyLine(kDeviceLineSelector);
            ctx.slots.DiskCount = 1;
            // The Format scans the chips first and formats only when the scan passed.
            if (item == Item::Format) {
                ScanChips(ctx, 1);
            }
            const int16_t result = item == Item::Format
                                       ? (slot.Status == 0 ? LowLevelFormat(ctx, 1) : kNotRun)
                                   : item == Item::Manufacture ? WriteIdentity(ctx, 1, kTrue)
                                   : item == Item::CheckConfig ? CheckIdentity(ctx, 1)
                                                               : CheckWriteProtect(ctx, 1);
            std::ofstream(Path("outcome.json"))
                << nlohmann::json{slot.Status, result, slot.Handle, progress.steps};
            ::_exit(0);
        }
        ::waitpid(pid, nullptr, 0);
        const auto j = nlohmann::json::parse(std::ifstream(Path("outcome.json")), nullptr, false);
        EXPECT_FALSE(j.is_discarded()) << "the simulated run did not finish";
        return j.is_discarded() ? SimOutcome{}
                                : SimOutcome{j[0], j[1], j[2], j[3].get<std::vector<int>>()};
    }

    // The trace as "function args..." after the handle, vendor codes in hex,
    // " -> 0" for a failed call; the drive's opening is left out. A call on
    // another handle than the run's shows it.
    std::vector<std::string> Trace(int32_t handle) const {
        std::vector<std::string> lines;
        std::ifstream in(Path("trace.jsonl"));
        for (std::string text; std::getline(in, text);) {
            const auto j = nlohmann::json::parse(text);
            std::string line = j["fn"].get<std::string>().substr(std::string("fnQuorbus_").size());
            if (line == "GetDiskHandle") {
                continue;
            }
            const auto& args = j["args"];
            for (size_t i = 1; i < args.size(); ++i) {
                const char* form = i == 1 && line.starts_with("Vendor") ? " 0x%02llX" : " %lld";
                line += QString::asprintf(form, args[i].get<long long>()).toStdString();
            }
            if (!args.empty() && args[0] != handle) {
                line += " on handle " + args[0].dump();
            }
            lines.push_back(j["status"] == 0 ? line + " -> 0" : line);
        }
        return lines;
    }

private:
    struct Progress final : ProgressView {
        std::optional<double> ProgressMax(int) override { return max; }
        void AdvanceProgress(int, int step) override { steps.push_back(step); }
        double max = 0;
        std::vector<int> steps;
    };

    QTemporaryDir dir_;
};

} // namespace ufd::test
