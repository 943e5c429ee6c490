// Commands per second through the device layer (each one's reply file
// written by the library, then read and deleted by the station), and the
// wall time of a whole Format (chip scan, low-level format, volume) of a
// 4,096,000-sector drive with 16 chips, both at zero latency.
#include "device/chip_scan.h"
#include "device/low_level_format.h"
#include "device/vendor_codes.h"
#include "format/volume.h"

#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <fstream>

namespace {

using namespace ufd;

constexpr int kCommandDrive = 1;
constexpr int kFormatDrive = 2;

// One rack for the process: the library picks its backend once.
class Rack {
public:
    Rack() {
        const auto file = dir_.filePath("rack.json").toStdString();
        const nlohmann::json rack = {
            {"drives",
             {{{"index", kCommandDrive}, {"capacity", 20001}, {"chips", {0xE6}}},
              {{"index", kFormatDrive},
               {"capacity", 4096000},
               {"info", {12, 0x29}},
               {"chips", std::vector<int>(16, 0xDA)}, // 8 units each, large blocks
               {"mode", {0xFF, 0xFF}},                // extended scan: 0x98 per entry
               {"units94", {{"default", 1}}}}}}};
        std::ofstream(file) << rack.dump();
        ::setenv("QUORLINK_RACK", file.c_str(), 1);
        ::setenv("QUORLINK_REPLY_DIR", dir_.filePath("replies").toLocal8Bit().constData(), 1);
        ::unsetenv("QUORLINK_STATE_DIR");
    }

private:
    QTemporaryDir dir_;
};

struct Station {
    explicit Station(int driveIndex) {
        static Rack rack;
        ctx = std::make_unique<StationContext>(transport);
        ctx->Product.FirstShare = 1.0;
        ctx->Product.DiskLabel = "BENCH";
        BuildSectorTemplates(*ctx);
        Slot().Handle = transport.GetDiskHandle(driveIndex);
        ctx->replies.ReadReplyLine(kDeviceLineSelector);
        ctx->slots.DiskCount = 1;
    }
    DiskSlot& Slot() { return ctx->slots.DiskSlots[0]; }

    QuorlinkTransport transport;
    std::unique_ptr<StationContext> ctx;
};

void CommandWithReply(benchmark::State& state) {
    Station s(kCommandDrive);
    for (auto _ : state) {
        if (s.transport.VendorR(s.Slot().Handle, kVendorInformation, 0, kVendorLength) == 0) {
            state.SkipWithError("vendor read refused");
            break;
        }
        s.ctx->replies.ReadReplyBlock();
        benchmark::DoNotOptimize(s.ctx->replies.ReplyBuffer[131]);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(CommandWithReply);

void WholeFormat(benchmark::State& state) {
    Station s(kFormatDrive);
    for (auto _ : state) {
        s.Slot().Status = 0;
        s.Slot().ControllerCode = 0;
        ScanChips(*s.ctx, 1);
        if (s.Slot().Status != 0 || LowLevelFormat(*s.ctx, 1) != 0) {
            state.SkipWithError("the Format failed");
            break;
        }
    }
}
BENCHMARK(WholeFormat)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
