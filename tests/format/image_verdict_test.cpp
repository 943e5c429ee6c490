// The images a whole Format leaves on a simulated drive through the real
// libquorlink, judged by the system's own partition and file system tools,
// and the layout of FAT32 and exFAT read back from the bytes written. The
// small layout has a few quirks on purpose; each one a tool reports is named
// here by the tool's message, and any other message fails the test.
#include "support/sim_station.h"
#include "support/test_common.h"
#include "support/tool_run.h"

#include <QLocale>
#include <QRegularExpression>
#include <QtEndian>

namespace ufd::test {
namespace {

constexpr int64_t kGiB = 2097152; // sectors

// Number, start, size, type; all but the extended partition (type 5) bootable.
using Partition = std::tuple<int, int64_t, int64_t, QString>;

// A file system: its partition, kind ("FAT12", "FAT16", "FAT32" or "exfat"),
// clusters and sectors per cluster; for FAT32 and exFAT also the FAT's offset
// and length and the heap's offset.
using Volume = std::tuple<int, QString, uint32_t, uint32_t, std::array<uint32_t, 3>>;

// Name, capacity in sectors, first share, the partitions as sfdisk lists them,
// the file systems, station.conf's setting, the label.
struct Scenario {
    const char* name;
    int64_t capacity;
    double firstShare;
    std::vector<Partition> partitions;
    std::vector<Volume> volumes;
    LargeFileSystem setting = LargeFileSystem::Auto;
    QString label = "TESTDISK";
};

// FAT32 clusters of 4/8/16/32 KiB up to 8/16/32 GiB and above, exFAT 32 KiB
// up to 32 GiB, 128 KiB above; cluster 2 on a 4 MiB boundary.
using enum LargeFileSystem;
// clang-format off
const Scenario kScenarios[] = {
    {"Fat16OneArea", 200001, 1.0, {{1, 32, 199967, "6"}}, {{1, "FAT16", 49856, 4, {}}}},
    {"Fat12OneArea", 20001, 1.0, {{1, 32, 19967, "1"}}, {{1, "FAT12", 2488, 8, {}}}},
    {"Fat16TwoAreas", 200001, 0.5, {{1, 32, 99967, "6"}, {2, 99999, 99999, "5"}, {5, 100031, 99967, "6"}},
     {{1, "FAT16", 49712, 2, {}}, {5, "FAT16", 49712, 2, {}}}},
    {"Fat12TwoAreas", 30001, 0.6, {{1, 32, 17967, "1"}, {2, 17999, 11999, "5"}, {5, 18031, 11968, "6"}},
     {{1, "FAT12", 2238, 8, {}}, {5, "FAT12", 2977, 4, {}}}},
    {"Fat16ThenFat12", 60001, 0.6, {{1, 32, 35967, "4"}, {2, 35999, 23999, "5"}, {5, 36031, 23968, "6"}},
     {{1, "FAT16", 35424, 1, {}}, {5, "FAT12", 2988, 8, {}}}, Auto, "DATA"},
    {"JustAbove4096000", 4096002, 1.0, {{1, 32, 4095968, "c"}}, {{1, "FAT32", 510976, 8, {160, 4000, 8160}}}},
    {"Fat32At8GiB", 8 * kGiB + 1, 1.0, {{1, 32, 16777183, "c"}}, {{1, "FAT32", 2092031, 8, {8160, 16384, 40928}}}},
    {"TwoFat32Of8GiB", 16 * kGiB + 1, 0.5,
     {{1, 32, 16777183, "c"}, {2, 16777215, 16777215, "5"}, {5, 16777247, 16777183, "c"}},
     {{1, "FAT32", 2092031, 8, {8160, 16384, 40928}}, {5, "FAT32", 2092031, 8, {8161, 16384, 40929}}}},
    {"ExfatForcedAt32GiB", 32 * kGiB + 1, 1.0, {{1, 32, 67108831, "7"}},
     {{1, "exfat", 1048319, 64, {8160, 8192, 16352}}}, Exfat},
    {"Fat16ThenFat32At32GiB", 32 * kGiB + 1, 0.02,
     {{1, 32, 1342144, "6"}, {2, 1342176, 65766686, "5"}, {5, 1342208, 65766654, "c"}},
     {{1, "FAT16", 41925, 32, {}}, {5, "FAT32", 2054143, 32, {1934, 16057, 34048}}}},
    {"ExfatAt64GiB", 64 * kGiB + 1, 1.0, {{1, 32, 134217695, "7"}}, {{1, "exfat", 524223, 256, {8160, 4096, 16352}}}},
    {"Fat32ForcedThenFat16At64GiB", 64 * kGiB + 1, 0.99,
     {{1, 32, 132875518, "c"}, {2, 132875550, 1342176, "5"}, {5, 132875582, 1342144, "6"}},
     {{1, "FAT32", 2075668, 64, {294, 16221, 32736}}, {5, "FAT16", 41925, 32, {}}}, Fat32},
    {"ExfatAt512GiB", 512 * kGiB + 1, 1.0, {{1, 32, 1073741791, "7"}},
     {{1, "exfat", 4194143, 256, {8160, 32768, 40928}}}},
    {"TwoExfatOf256GiB", 512 * kGiB + 1, 0.5,
     {{1, 32, 536870879, "7"}, {2, 536870911, 536870911, "5"}, {5, 536870943, 536870879, "7"}},
     {{1, "exfat", 2097055, 256, {8160, 16384, 24544}}, {5, "exfat", 2097055, 256, {8161, 16384, 24545}}}}};
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
    for (const auto& [name, capacity, firstShare, partitions, volumes, setting, label] :
         kScenarios) {
        SCOPED_TRACE(name);
        SimDrive sim(SimDriveEntry(capacity), false);
        sim.largeFs = setting;
        ProductConfig product = SampleProduct();
        product.FirstShare = firstShare;
        product.DiskLabel = label;
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
            EXPECT_EQ(m.captured(5).isEmpty(), m.captured(4) == "5") << m.captured(1).toInt();
        }
        ASSERT_EQ(parts, partitions) << dump.output.toStdString();

        for (const auto& [number, fs, clusters, cluster, layout] : volumes) {
            SCOPED_TRACE(number);
            const auto [n, start, size, type] = parts.at(number == 1 ? 0 : 2);
            const QString part = QString::fromStdString(sim.Path("part.img").string());
            ASSERT_TRUE(CopyPartition(image, start, size, part));
            const bool exfat = fs == "exfat", fat32 = fs == "FAT32", small = !exfat && !fat32;

            // Quirk: the small layout's boot sector keeps "NO NAME" and the label
            // lives only in the root directory; fsck.fat offers to copy it (and,
            // being run with -n, changes nothing, which it reports with exit 1).
            const QString copy = QString("There is no label in boot sector, but there is volume "
                                         "label '%1' stored in root directory\n  Auto-copying "
                                         "volume label from root directory to boot sector.\n"
                                         "Leaving filesystem unchanged.\n")
                                     .arg(label);
            const QString summary =
                exfat ? ": clean. directories 1, files 0"
                      : QString(": 1 files, %1/%2 clusters").arg(int{fat32}).arg(clusters);
            EXPECT_EQ(Verdict(exfat ? "fsck.exfat" : "fsck.fat", {"-n", part}),
                      ((small ? copy : "") + part + summary + (small ? "\nexit 1" : "\nexit 0"))
                          .toStdString());
            if (!exfat) { // label, serial and free space as mtools reads them
                const auto free = static_cast<uint64_t>(clusters - fat32) * cluster * 512;
                EXPECT_EQ(Verdict("mdir", {"-i", part, "::"}),
                          QString(" Volume in drive : is %1\n Volume Serial Number is 8093-8F05\n"
                                  "Directory for ::/\nNo files\n%2 bytes free\nexit 0")
                              .arg(label.leftJustified(11, ' ', true),
                                   QLocale(QLocale::English).toString(free).replace(',', ' '))
                              .toStdString());
            }
            if (small) {
                continue; // the small layout's bytes: volume_test
            }
            // The boot sector: sectors per cluster, the FAT's offset and length,
            // the heap's offset and the partition's own start (exFAT: also
            // the clusters, which no tool reports).
            std::array<uint8_t, 512> b{};
            std::ifstream(part.toStdString(), std::ios::binary)
                .read(reinterpret_cast<char*>(b.data()), b.size());
            const auto le = [&b](size_t at) { return qFromLittleEndian<uint32_t>(&b[at]); };
            const std::array<uint32_t, 6> facts =
                exfat ? std::array{1u << b[109], le(80), le(84), le(88), le(64), le(92)}
                      : std::array{uint32_t{b[13]}, le(14) & 0xFFFF,
                                   le(36),          (le(14) & 0xFFFF) + 2 * le(36),
                                   le(28),          clusters};
            EXPECT_EQ(facts, (std::array{cluster, layout[0], layout[1], layout[2],
                                         static_cast<uint32_t>(start), clusters}));
            EXPECT_EQ((start + layout[2]) % 8192, 0) << "cluster 2 off the 4 MiB grid";
        }
    }
}

} // namespace
} // namespace ufd::test
