// The images a whole Format leaves on a simulated drive through the real
// libquorlink, judged by the system's own partition and file system tools.
// The small layout has a few quirks on purpose; each one a tool reports is
// named here by the tool's message, and any other message fails the test.
// The bytes of each layout are volume_test's.
#include "support/sim_station.h"
#include "support/test_common.h"
#include "support/tool_run.h"

#include <QLocale>
#include <QRegularExpression>

namespace ufd::test {
namespace {

constexpr int64_t kGiB = 2097152; // sectors

// Number, start, size, type; all but the extended partition (type 5) bootable.
using Partition = std::tuple<int, int64_t, int64_t, QString>;

// A file system: its partition, kind ("FAT12", "FAT16", "FAT32" or "exfat"),
// and for FAT its clusters and sectors per cluster.
using Volume = std::tuple<int, QString, uint32_t, uint32_t>;

// Name, capacity in sectors, first share, the partitions as sfdisk lists them,
// the file systems, station.conf's setting.
struct Scenario {
    const char* name;
    int64_t capacity;
    double firstShare;
    std::vector<Partition> partitions;
    std::vector<Volume> volumes;
    LargeFileSystem setting = LargeFileSystem::Auto;
};

// FAT32 clusters of 4/8/16/32 KiB up to 8/16/32 GiB and above, exFAT 32 KiB
// up to 32 GiB, 128 KiB above; each file system on a 4 MiB boundary wherever
// its partition starts.
using enum LargeFileSystem;
// clang-format off
const Scenario kScenarios[] = {
    {"Fat12OneArea", 20001, 1.0, {{1, 32, 19967, "1"}}, {{1, "FAT12", 2488, 8}}},
    {"Fat16TwoAreas", 200001, 0.5, {{1, 32, 99967, "6"}, {2, 99999, 99999, "5"}, {5, 100031, 99967, "6"}},
     {{1, "FAT16", 49712, 2}, {5, "FAT16", 49712, 2}}},
    {"Fat12TwoAreas", 30001, 0.6, {{1, 32, 17967, "1"}, {2, 17999, 11999, "5"}, {5, 18031, 11968, "6"}},
     {{1, "FAT12", 2238, 8}, {5, "FAT12", 2977, 4}}},
    {"TwoFat32Of8GiB", 16 * kGiB + 1, 0.5,
     {{1, 32, 16777183, "c"}, {2, 16777215, 16777215, "5"}, {5, 16777247, 16777183, "c"}},
     {{1, "FAT32", 2092031, 8}, {5, "FAT32", 2092031, 8}}},
    {"ExfatForcedAt32GiB", 32 * kGiB + 1, 1.0, {{1, 32, 67108831, "7"}}, {{1, "exfat", 0, 0}}, Exfat},
    {"Fat16ThenFat32At32GiB", 32 * kGiB + 1, 0.02,
     {{1, 32, 1342144, "6"}, {2, 1342176, 65766686, "5"}, {5, 1342208, 65766654, "c"}},
     {{1, "FAT16", 41925, 32}, {5, "FAT32", 2054143, 32}}},
    {"Fat32ForcedThenFat16At64GiB", 64 * kGiB + 1, 0.99,
     {{1, 32, 132875518, "c"}, {2, 132875550, 1342176, "5"}, {5, 132875582, 1342144, "6"}},
     {{1, "FAT32", 2075668, 64}, {5, "FAT16", 41925, 32}}, Fat32},
    {"ExfatAt512GiB", 512 * kGiB + 1, 1.0, {{1, 32, 1073741791, "7"}}, {{1, "exfat", 0, 0}}},
    {"TwoExfatOf256GiB", 512 * kGiB + 1, 0.5,
     {{1, 32, 536870879, "7"}, {2, 536870911, 536870911, "5"}, {5, 536870943, 536870879, "7"}},
     {{1, "exfat", 0, 0}, {5, "exfat", 0, 0}}}};
// clang-format on
// A tool's verdict: its output lines without version banners, remarks that
// are no verdict and the free bytes' padding, then its exit code.
std::string Verdict(const QString& tool, const QStringList& args) {
    static const QRegularExpression noise(
        R"(^(fsck\.fat .*|exfatprogs version .*|Remaining \d+ unallocated 512-byte sectors\.)$)");
    static const QRegularExpression padding(R"(^ +(?=\d))");
    const ToolRun run = RunTool(tool, args);
    QStringList lines = run.output.split('\n', Qt::SkipEmptyParts);
    lines.removeIf([](const QString& l) { return noise.match(l).hasMatch(); });
    lines.replaceInStrings(padding, "");
    return (lines << QString("exit %1").arg(run.exitCode)).join('\n').toStdString();
}

TEST(ImageVerdict, ToolsAgreeAndLayoutIsAsSized) {
    for (const char* tool : {"sfdisk", "fsck.fat", "fsck.exfat", "mdir"}) {
        if (FindTool(tool).isEmpty()) {
            GTEST_SKIP() << tool << " is not installed";
        }
    }
    static const QRegularExpression entry(
        R"(^\S*?(\d+) : start=\s*(\d+), size=\s*(\d+), type=(\w+)(, bootable)?$)",
        QRegularExpression::MultilineOption);
    for (const auto& [name, capacity, firstShare, partitions, volumes, setting] : kScenarios) {
        SCOPED_TRACE(name);
        SimDrive sim(SimDriveEntry(capacity), false);
        sim.largeFs = setting;
        ProductConfig product = SampleProduct();
        product.FirstShare = firstShare;
        const SimOutcome o = sim.Run(Item::Format, product);
        EXPECT_TRUE(o.status == 0 && o.result == 0) << o.status << " " << o.result;
        const QString image = QString::fromStdString(sim.State("image.img").string());
        // Blocks of zeros became holes: even 512 GiB take a few MiB of disk.
        struct stat st {};
        ASSERT_EQ(::stat(image.toLocal8Bit().constData(), &st), 0);
        EXPECT_LT(st.st_blocks * 512, 16 << 20);

        const ToolRun dump = RunTool("sfdisk", {"-d", image});
        std::vector<Partition> parts;
        for (auto it = entry.globalMatch(dump.output); it.hasNext();) {
            const auto m = it.next();
            parts.push_back({m.captured(1).toInt(), m.captured(2).toLongLong(),
                             m.captured(3).toLongLong(), m.captured(4)});
        }
        ASSERT_EQ(parts, partitions) << dump.output.toStdString();

        for (const auto& [number, fs, clusters, cluster] : volumes) {
            SCOPED_TRACE(number);
            const auto& [n, start, size, type] = parts.at(number == 1 ? 0 : 2);
            const QString part = QString::fromStdString(sim.Path("part.img").string());
            ASSERT_TRUE(CopyPartition(image, start, size, part));
            const bool exfat = fs == "exfat", fat32 = fs == "FAT32", small = !exfat && !fat32;

            // Quirk: the small layout's boot sector keeps "NO NAME" and the label
            // lives only in the root directory; fsck.fat offers to copy it (and,
            // being run with -n, changes nothing, which it reports with exit 1).
            const QString copy = "There is no label in boot sector, but there is volume label "
                                 "'TESTDISK' stored in root directory\n  Auto-copying volume "
                                 "label from root directory to boot sector.\nLeaving filesystem "
                                 "unchanged.\n";
            const QString summary =
                exfat ? ": clean. directories 1, files 0"
                      : QString(": 1 files, %1/%2 clusters").arg(int{fat32}).arg(clusters);
            EXPECT_EQ(Verdict(exfat ? "fsck.exfat" : "fsck.fat", {"-n", part}),
                      ((small ? copy : "") + part + summary + (small ? "\nexit 1" : "\nexit 0"))
                          .toStdString());
            if (!exfat) { // label, serial and free space as mtools reads them
                const auto free = static_cast<uint64_t>(clusters - fat32) * cluster * 512;
                EXPECT_EQ(Verdict("mdir", {"-i", part, "::"}),
                          QString(" Volume in drive : is TESTDISK   \n Volume Serial Number is "
                                  "8093-8F05\nDirectory for ::/\nNo files\n%1 bytes free\nexit 0")
                              .arg(QLocale(QLocale::English).toString(free).replace(',', ' '))
                              .toStdString());
            }
        }
    }
}

} // namespace
} // namespace ufd::test
