// The real ufd-station binary in --batch mode on the simulated rack: what an
// operator would see printed, and what the drives hold afterwards.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUuid>

#include <map>
#include <vector>

namespace {

struct Outcome {
    int code = -1;
    QString out;
    // Row cells per slot number (1-based), split on the report's two-space gaps.
    std::map<int, QStringList> rows;
    QString verdict;
};

class Station {
public:
    Station() {
        EXPECT_TRUE(dir_.isValid());
        // Product.ini is read beside the binary, so every test runs its own
        // copy of the program directory (the library is found through $ORIGIN).
        QDir().mkpath(path("bin"));
        for (const char* name : {"ufd-station", "Vasket", "libquorlink.so"}) {
            const QString to = path("bin/") + QString::fromLatin1(name);
            EXPECT_TRUE(
                QFile::copy(QStringLiteral(UFD_BIN_DIR "/") + QString::fromLatin1(name), to));
            QFile::setPermissions(to, QFile(to).permissions() | QFileDevice::ExeOwner);
        }
        QFile::copy(QStringLiteral(UFD_SOURCE_DIR "/examples/rack/fast.json"), path("rack.json"));
        env_ = QProcessEnvironment::systemEnvironment();
        env_.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env_.insert(QStringLiteral("QUORLINK_RACK"), path("rack.json"));
        env_.insert(QStringLiteral("QUORLINK_STATE_DIR"), path("state"));
        env_.insert(QStringLiteral("QUORLINK_REPLY_DIR"), path("reply"));
        env_.insert(QStringLiteral("UFD_NOTICE_CHANNEL"),
                    QStringLiteral("ufd-e2e-") + QUuid::createUuid().toString(QUuid::Id128));
    }

    QString path(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }

    // Product.ini beside a copy of the binary is what the station reads, so
    // each test gets its own program directory.
    void product(const QString& exampleName, const QString& apMode = {}) {
        QFile in(QStringLiteral(UFD_SOURCE_DIR "/examples/") + exampleName);
        ASSERT_TRUE(in.open(QIODevice::ReadOnly));
        QString text = QString::fromLatin1(in.readAll());
        if (!apMode.isEmpty()) {
            text.replace(QRegularExpression(QStringLiteral("ApMode=\\d+")),
                         QStringLiteral("ApMode=") + apMode);
        }
        writeProduct(text.toLatin1());
    }

    void writeProduct(const QByteArray& text) {
        QFile f(path("bin/Product.ini"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text);
    }

    QString rack(const QStringList& args) {
        QProcess p;
        p.setProcessEnvironment(env_);
        p.start(QStringLiteral(UFD_RACK_BIN), args);
        EXPECT_TRUE(p.waitForFinished(30000));
        EXPECT_EQ(p.exitCode(), 0)
            << args.join(' ').toStdString() << ": " << p.readAllStandardError().toStdString();
        return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
    }

    Outcome run() {
        Outcome r;
        QProcess p;
        p.setProcessEnvironment(env_);
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(path("bin/ufd-station"), {QStringLiteral("--batch")});
        EXPECT_TRUE(p.waitForFinished(120000)) << "station did not finish";
        r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
        // The report pads its columns; a cell may itself hold wide gaps
        // ("2 Chip(s)   500 MB"), so cells are cut at the header's positions.
        const QStringList lines = r.out.split(QLatin1Char('\n'));
        std::vector<qsizetype> starts;
        for (const QString& line : lines) {
            if (line.startsWith(QStringLiteral("Slot "))) {
                for (const char* h : {"Slot", "Row", "Picture", "Format", "Config String",
                                      "Check Config", "Check WP", "Status"}) {
                    starts.push_back(line.indexOf(QString::fromLatin1(h)));
                }
            } else if (line.startsWith(QStringLiteral("Verdict: "))) {
                r.verdict = line.mid(9);
            } else if (starts.size() == 8 && !line.isEmpty() && line[0].isDigit()) {
                QStringList cells;
                for (size_t c = 0; c < starts.size(); ++c) {
                    const qsizetype to = c + 1 < starts.size() ? starts[c + 1] : line.size();
                    cells << line.mid(starts[c], to - starts[c]).trimmed();
                }
                r.rows[cells[0].toInt()] = cells;
            }
        }
        return r;
    }

private:
    QTemporaryDir dir_;
    QProcessEnvironment env_;
};

enum Col { kSlot, kRow, kPicture, kFormat, kConfig, kCheckConfig, kCheckWP, kStatus };

// Rows of the default rack with Format in the run: 5 has a chip list too
// long (0x10), 6 refuses writes (0xF0); the others show chips and size.
void ExpectFormatRows(const Outcome& r) {
    ASSERT_EQ(r.rows.size(), 7u) << r.out.toStdString();
    for (const auto& [slot, cells] : r.rows) {
        SCOPED_TRACE(slot);
        EXPECT_EQ(cells[kRow], QStringLiteral("Disk %1").arg(slot - 1));
        if (slot == 5 || slot == 6) {
            EXPECT_EQ(cells[kPicture], "red");
            EXPECT_EQ(cells[kFormat],
                      slot == 5 ? "X | Error Status = 10" : "X | Error Status = F0");
            EXPECT_EQ(cells[kStatus], slot == 5 ? "16" : "240");
        } else {
            EXPECT_EQ(cells[kPicture], "green");
            EXPECT_TRUE(
                cells[kFormat].contains(QRegularExpression("^V \\| \\d Chip\\(s\\) +\\d+ MB$")))
                << cells[kFormat].toStdString();
            EXPECT_EQ(cells[kStatus], "0");
        }
    }
}

TEST(StationEndToEnd, DefaultItemsFormatWriteAndCheckTheConfigOnEveryDrive) {
    Station st;
    st.product("Product.ini");
    const Outcome r = st.run();
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.verdict, "! FAILED !");
    ExpectFormatRows(r);
    for (const auto& [slot, cells] : r.rows) {
        EXPECT_EQ(cells[kConfig], "String = V | Write = V") << slot;
        EXPECT_EQ(cells[kCheckConfig], "V | \"\"") << slot;
        EXPECT_EQ(cells[kCheckWP], "- | -") << slot;
    }
    // The bytes reached drive 1: its config block carries VID 1234 / PID 5678
    // and its image two areas of half the drive each.
    const QString config = st.rack({"config", "1"});
    EXPECT_TRUE(config.startsWith("0000  99")) << config.toStdString();
    EXPECT_TRUE(config.contains("34 12 78 56")) << config.toStdString();
    const QString parts = st.rack({"partitions", "1"});
    EXPECT_TRUE(parts.contains("signature 55 AA")) << parts.toStdString();
    EXPECT_TRUE(parts.contains(QRegularExpression("1  80 +06 .* 32 +499967")))
        << parts.toStdString();
    EXPECT_TRUE(parts.contains("EBR at sector 499999")) << parts.toStdString();
}

TEST(StationEndToEnd, EachApplicationModeRunsOnlyItsItems) {
    struct Case {
        const char* mode;
        int code;
        // Expected cells for slot 1 (drive 1) and slot 6 (write protected).
        const char* format;
        const char* config;
        const char* checkConfig;
        const char* checkWP1;
        const char* checkWP6;
    };
    const Case cases[] = {
        {"2", 1, nullptr, "- | -", "- | -", "- | -", "- | -"},
        {"3", 0, "- | -", "String = V | Write = V", "V | \"\"", "- | -", "- | -"},
        // Nothing was ever written, so the check finds no config.
        {"4", 1, "- | -", "- | -", "X | Error Status = F4", "- | -", "- | -"},
        {"5", 1, "- | -", "- | -", "- | -", "- | Not Write Protected", "Write Protected | -"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        Station st;
        st.product("Product.ini", c.mode);
        const Outcome r = st.run();
        EXPECT_EQ(r.code, c.code) << r.out.toStdString();
        EXPECT_EQ(r.verdict, c.code == 0 ? "! ALL PASS !" : "! FAILED !");
        ASSERT_EQ(r.rows.size(), 7u) << r.out.toStdString();
        if (c.format == nullptr) {
            ExpectFormatRows(r);
        } else {
            EXPECT_EQ(r.rows.at(1)[kFormat], c.format);
        }
        EXPECT_EQ(r.rows.at(1)[kConfig], c.config);
        EXPECT_EQ(r.rows.at(1)[kCheckConfig], c.checkConfig);
        EXPECT_EQ(r.rows.at(1)[kCheckWP], c.checkWP1);
        EXPECT_EQ(r.rows.at(6)[kCheckWP], c.checkWP6);
        // Only a run that wrote the config leaves one on the drive.
        const bool wrote = QString::fromLatin1(c.config) != "- | -";
        EXPECT_EQ(st.rack({"config", "1"}).startsWith("0000  99"), wrote);
    }
}

TEST(StationEndToEnd, RunsThatCannotStartExitWithTwo) {
    {
        Station st;
        st.product("Product.ini", "0");
        const Outcome r = st.run();
        EXPECT_EQ(r.code, 2);
        EXPECT_TRUE(r.out.contains("No items checked")) << r.out.toStdString();
        EXPECT_TRUE(r.rows.empty());
    }
    {
        Station st;
        st.writeProduct("not a product file\n");
        const Outcome r = st.run();
        EXPECT_EQ(r.code, 2);
        EXPECT_TRUE(r.out.contains("Start-up failed")) << r.out.toStdString();
    }
    {
        Station st;
        st.product("Product.ini");
        for (int i = 1; i <= 7; ++i) {
            st.rack({"unplug", QString::number(i)});
        }
        const Outcome r = st.run();
        EXPECT_EQ(r.code, 2);
        EXPECT_TRUE(r.out.contains("No drive attached")) << r.out.toStdString();
    }
}

} // namespace
