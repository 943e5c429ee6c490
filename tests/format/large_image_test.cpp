// Drives of many GiB: the FAT32 and exFAT volumes a whole Format leaves on a
// simulated drive through the real libquorlink, judged by the system's own
// tools, and their layout read back from the bytes written.
#include "support/sim_station.h"
#include "support/tool_run.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace ufd::test {
namespace {

constexpr int64_t kGiB = 2097152; // sectors

// One partition: its type as sfdisk names it, the file system, and for FAT32
// and exFAT the layout facts its boot sector must carry.
struct Volume {
    int number; // 1 or 5
    QString type;
    QString fs;              // "FAT16", "FAT32" or "exfat"
    uint32_t cluster = 0;    // sectors per cluster
    uint32_t fatOffset = 0;  // FAT32: the reserved sectors
    uint32_t fatLength = 0;  // sectors of one FAT
    uint32_t heapOffset = 0; // first sector of cluster 2, from the partition start
    uint32_t clusters = 0;
};

struct Scenario {
    const char* name;
    int64_t capacity; // sectors
    double firstShare;
    LargeFileSystem setting;
    std::vector<Volume> volumes;
};

void PrintTo(const Scenario& c, std::ostream* os) {
    *os << c.name;
}

// Cluster sizes by area: FAT32 4/8/16/32 KiB up to 8/16/32 GiB and above,
// exFAT 32 KiB up to 32 GiB, 128 KiB above; cluster 2 on a 4 MiB boundary.
const std::vector<Scenario>& Scenarios() {
    using enum LargeFileSystem;
    // clang-format off
    static const std::vector<Scenario> s = {
        {"JustAbove4096000", 4096002, 1.0, Auto, {{1, "c", "FAT32", 8, 160, 4000, 8160, 510976}}},
        {"Fat32At8GiB", 8 * kGiB + 1, 1.0, Auto, {{1, "c", "FAT32", 8, 8160, 16384, 40928, 2092031}}},
        {"TwoFat32Of8GiB", 16 * kGiB + 1, 0.5, Auto,
         {{1, "c", "FAT32", 8, 8160, 16384, 40928, 2092031},
          {5, "c", "FAT32", 8, 8161, 16384, 40929, 2092031}}},
        {"ExfatForcedAt32GiB", 32 * kGiB + 1, 1.0, Exfat,
         {{1, "7", "exfat", 64, 8160, 8192, 16352, 1048319}}},
        {"Fat16ThenFat32At32GiB", 32 * kGiB + 1, 0.02, Auto,
         {{1, "6", "FAT16"}, {5, "c", "FAT32", 32, 1934, 16057, 34048, 2054143}}},
        {"ExfatAt64GiB", 64 * kGiB + 1, 1.0, Auto, {{1, "7", "exfat", 256, 8160, 4096, 16352, 524223}}},
        {"Fat32ForcedThenFat16At64GiB", 64 * kGiB + 1, 0.99, Fat32,
         {{1, "c", "FAT32", 64, 294, 16221, 32736, 2075668}, {5, "6", "FAT16"}}},
        {"ExfatAt512GiB", 512 * kGiB + 1, 1.0, Auto,
         {{1, "7", "exfat", 256, 8160, 32768, 40928, 4194143}}},
        {"TwoExfatOf256GiB", 512 * kGiB + 1, 0.5, Auto,
         {{1, "7", "exfat", 256, 8160, 16384, 24544, 2097055},
          {5, "7", "exfat", 256, 8161, 16384, 24545, 2097055}}},
    };
    // clang-format on
    return s;
}

uint32_t Le(const std::vector<uint8_t>& b, size_t at, int width) {
    uint32_t v = 0;
    for (int i = width - 1; i >= 0; --i) {
        v = v << 8 | b[at + static_cast<size_t>(i)];
    }
    return v;
}

// A simulated drive after a whole Format, and its partitions as sfdisk
// reads them.
class LargeDrive {
public:
    LargeDrive(const Scenario& c) : c_(c), sim_(SimDriveEntry(c.capacity), false) {
        sim_.largeFs = c.setting;
        ProductConfig product = SampleProduct();
        product.FirstShare = c.firstShare;
        const SimOutcome o = sim_.Run(Item::Format, product);
        EXPECT_EQ(o.status, 0);
        EXPECT_EQ(o.result, 0);
        image_ = QString::fromStdString(sim_.State("image.img").string());
        const ToolRun dump = RunTool("sfdisk", {"-d", image_});
        static const QRegularExpression line(
            R"(^\S*?(\d+) : start=\s*(\d+), size=\s*(\d+), type=(\w+))",
            QRegularExpression::MultilineOption);
        for (auto it = line.globalMatch(dump.output); it.hasNext();) {
            const auto m = it.next();
            parts_[m.captured(1).toInt()] = {m.captured(2).toLongLong(), m.captured(3).toLongLong(),
                                             m.captured(4)};
        }
    }

    struct Part {
        int64_t start = 0, size = 0;
        QString type;
    };
    const Part& part(int n) { return parts_[n]; }
    const QString& image() const { return image_; }

    // The partition in a file of its own.
    QString PartitionFile(int n) {
        const QString out = QString::fromStdString(sim_.Path("part.img").string());
        EXPECT_TRUE(CopyPartition(image_, parts_[n].start, parts_[n].size, out));
        return out;
    }

    std::vector<uint8_t> Sector(int64_t sector) const {
        std::vector<uint8_t> b(512);
        const int in = ::open(image_.toLocal8Bit().constData(), O_RDONLY | O_CLOEXEC);
        EXPECT_EQ(::pread(in, b.data(), 512, sector * 512), 512);
        ::close(in);
        return b;
    }

private:
    const Scenario& c_;
    SimDrive sim_;
    QString image_;
    std::map<int, Part> parts_;
};

class LargeImage : public ::testing::TestWithParam<Scenario> {
protected:
    void SetUp() override {
        for (const char* tool : {"sfdisk", "fsck.fat", "fsck.exfat", "mdir", "blkid"}) {
            if (FindTool(tool).isEmpty()) {
                GTEST_SKIP() << tool << " is not installed";
            }
        }
    }
};

TEST_P(LargeImage, ToolsAgreeAndLayoutIsAsSized) {
    LargeDrive drive(GetParam());
    // Blocks of zeros became holes: even 512 GiB take a few MiB of disk.
    struct stat st {};
    ASSERT_EQ(::stat(drive.image().toLocal8Bit().constData(), &st), 0);
    EXPECT_LT(st.st_blocks * 512, 16 << 20);
    const ToolRun verify = RunTool("sfdisk", {"-V", drive.image()});
    EXPECT_TRUE(verify.output.contains("No errors detected.")) << verify.output.toStdString();

    for (const Volume& v : GetParam().volumes) {
        SCOPED_TRACE(v.number);
        const auto& p = drive.part(v.number);
        EXPECT_EQ(p.type, v.type);
        const QString file = drive.PartitionFile(v.number);

        const ToolRun blkid = RunTool("blkid", {"-p", file});
        const bool exfat = v.fs == "exfat";
        EXPECT_TRUE(blkid.output.contains(exfat ? R"(TYPE="exfat")" : R"(TYPE="vfat")"));
        EXPECT_TRUE(blkid.output.contains(R"(LABEL="TESTDISK")")) << blkid.output.toStdString();
        if (!exfat) {
            EXPECT_TRUE(blkid.output.contains(QString(R"(VERSION="%1")").arg(v.fs)));
        }
        if (v.fs == "FAT16") {
            continue; // the small layout, judged by its own image test
        }

        const ToolRun fsck = RunTool(exfat ? "fsck.exfat" : "fsck.fat", {"-n", file});
        EXPECT_EQ(fsck.exitCode, 0) << fsck.output.toStdString();
        if (exfat) {
            EXPECT_TRUE(fsck.output.contains("clean. directories 1, files 0"))
                << fsck.output.toStdString();
        } else {
            // The banner, then only the summary: no remark.
            EXPECT_EQ(fsck.output.count('\n'), 2) << fsck.output.toStdString();
            EXPECT_TRUE(fsck.output.contains(QString("1 files, 1/%1 clusters").arg(v.clusters)))
                << fsck.output.toStdString();
            const ToolRun dir = RunTool("mdir", {"-i", file, "::"});
            EXPECT_TRUE(dir.output.contains(" Volume in drive : is TESTDISK   "))
                << dir.output.toStdString();
        }

        // The facts, from the boot sector's bytes.
        const std::vector<uint8_t> b = drive.Sector(p.start);
        uint32_t cluster, fatOffset, fatLength, heap;
        if (exfat) {
            cluster = 1u << b[109];
            fatOffset = Le(b, 80, 4);
            fatLength = Le(b, 84, 4);
            heap = Le(b, 88, 4);
            EXPECT_EQ(Le(b, 92, 4), v.clusters);
            EXPECT_EQ(Le(b, 64, 4), p.start); // partition offset
        } else {
            cluster = b[13];
            fatOffset = Le(b, 14, 2);
            fatLength = Le(b, 36, 4);
            heap = fatOffset + 2 * fatLength;
            EXPECT_EQ(Le(b, 28, 4), p.start); // hidden sectors
            // FSInfo: free clusters, and its backup with the boot sector.
            EXPECT_EQ(Le(drive.Sector(p.start + 1), 488, 4), v.clusters - 1);
            EXPECT_EQ(drive.Sector(p.start + 6), b);
        }
        EXPECT_EQ(cluster, v.cluster);
        EXPECT_EQ(fatOffset, v.fatOffset);
        EXPECT_EQ(fatLength, v.fatLength);
        EXPECT_EQ(heap, v.heapOffset);
        EXPECT_EQ((p.start + heap) % 8192, 0) << "cluster 2 off the 4 MiB grid";
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, LargeImage, ::testing::ValuesIn(Scenarios()),
                         [](const auto& info) { return std::string(info.param.name); });

// Where the kernel lets this process mount a loop device: each kind mounted
// read-write, a file written and read back, then fsck again.
TEST(LargeImageMounted, FileWrittenAndReadBack) {
    for (const size_t at : {size_t{1}, size_t{5}}) { // FAT32 of 8 GiB, exFAT of 64 GiB
        const Scenario& c = Scenarios()[at];
        SCOPED_TRACE(c.name);
        LargeDrive drive(c);
        const QString file = drive.PartitionFile(1);
        QTemporaryDir mnt;
        const ToolRun mount = RunTool("mount", {"-o", "loop,rw", file, mnt.path()});
        if (mount.exitCode != 0) {
            GTEST_SKIP() << "cannot mount a loop device here: " << mount.output.toStdString();
        }
        const QByteArray data = QByteArray("station ").repeated(5000);
        QFile out(mnt.filePath("check.bin"));
        EXPECT_TRUE(out.open(QIODevice::WriteOnly) && out.write(data) == data.size());
        out.close();
        EXPECT_EQ(RunTool("umount", {mnt.path()}).exitCode, 0);
        ASSERT_EQ(RunTool("mount", {"-o", "loop,ro", file, mnt.path()}).exitCode, 0);
        QFile in(mnt.filePath("check.bin"));
        EXPECT_TRUE(in.open(QIODevice::ReadOnly));
        EXPECT_EQ(in.readAll(), data);
        in.close();
        EXPECT_EQ(RunTool("umount", {mnt.path()}).exitCode, 0);
        const bool exfat = c.volumes[0].fs == "exfat";
        const ToolRun fsck = RunTool(exfat ? "fsck.exfat" : "fsck.fat", {"-n", file});
        EXPECT_EQ(fsck.exitCode, 0) << fsck.output.toStdString();
    }
}

} // namespace
} // namespace ufd::test
