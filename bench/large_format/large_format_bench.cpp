// Wall time of a whole Format (chip scan, low-level format, volume) of a
// 64 GiB drive through the device layer and the real libquorlink at zero
// latency, and of the system's own formatters on a sparse image of the same
// size: the large writers should stay within twice their time.
#include "device/chip_scan.h"
#include "device/low_level_format.h"
#include "device/vendor_codes.h"
#include "format/volume.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <unistd.h>

#include <cstdlib>
#include <fstream>

namespace {

using namespace ufd;

constexpr int kDrive = 1;
constexpr int64_t kSectors = 134217728; // 64 GiB

// One rack for the process: the library picks its backend once.
class Rack {
public:
    Rack() {
        const auto file = dir_.filePath("rack.json").toStdString();
        const nlohmann::json rack = {{"drives",
                                      {{{"index", kDrive},
                                        {"capacity", kSectors},
                                        {"info", {12, 0x29}},
                                        {"chips", {0xF1}},
                                        {"mode", {0xFF, 0xFF}},
                                        {"units94", {{"default", 1}}}}}}};
        std::ofstream(file) << rack.dump();
        ::setenv("QUORLINK_RACK", file.c_str(), 1);
        ::setenv("QUORLINK_REPLY_DIR", dir_.filePath("replies").toLocal8Bit().constData(), 1);
        ::unsetenv("QUORLINK_STATE_DIR");
    }
    QString Path(const char* name) const { return dir_.filePath(name); }

private:
    QTemporaryDir dir_;
};

Rack& TheRack() {
    static Rack rack;
    return rack;
}

void WholeFormat(benchmark::State& state, LargeFileSystem fs) {
    TheRack();
    QuorlinkTransport transport;
    StationContext ctx(transport);
    ctx.Product.FirstShare = 1.0;
    ctx.Product.DiskLabel = "BENCH";
    ctx.Settings.LargeFs = fs;
    BuildSectorTemplates(ctx);
    DiskSlot& slot = ctx.slots.DiskSlots[0];
    slot.Handle = transport.GetDiskHandle(kDrive);
    ctx.replies.ReadReplyLine(kDeviceLineSelector);
    ctx.slots.DiskCount = 1;
    for (auto _ : state) {
        slot.Status = 0;
        slot.ControllerCode = 0;
        ScanChips(ctx, 1);
        if (slot.Status != 0 || LowLevelFormat(ctx, 1) != 0) {
            state.SkipWithError("the Format failed");
            break;
        }
    }
}
BENCHMARK_CAPTURE(WholeFormat, Fat32, LargeFileSystem::Fat32)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(WholeFormat, Exfat, LargeFileSystem::Exfat)->Unit(benchmark::kMillisecond);

// The baseline: a fresh sparse image of the same size, formatted by the tool.
void Mkfs(benchmark::State& state, const char* tool, QStringList args) {
    const QString path = QStandardPaths::findExecutable(tool, {"/usr/sbin", "/sbin", "/usr/bin"});
    if (path.isEmpty()) {
        state.SkipWithError("tool not installed");
        return;
    }
    const QString image = TheRack().Path("mkfs.img");
    args << image;
    for (auto _ : state) {
        state.PauseTiming();
        std::ofstream(image.toStdString(), std::ios::trunc).close();
        if (::truncate(image.toLocal8Bit().constData(), kSectors * 512) != 0) {
            state.SkipWithError("cannot size the image");
            break;
        }
        state.ResumeTiming();
        QProcess p;
        p.start(path, args);
        if (!p.waitForFinished(60000) || p.exitCode() != 0) {
            state.SkipWithError("the tool failed");
            break;
        }
    }
}
BENCHMARK_CAPTURE(Mkfs, Fat32, "mkfs.fat", {"-F", "32", "-n", "BENCH"})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Mkfs, Exfat, "mkfs.exfat", {"-L", "BENCH"})->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
