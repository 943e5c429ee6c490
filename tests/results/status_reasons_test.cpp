// The table of reasons against the codes the device and format procedures
// define: a code added there without its words here fails.
#include "support/test_common.h"

#include "results/status_reasons.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

namespace ufd {
namespace {

// The Status codes the headers of src/device and src/format define: every
// kStatus* and vendor code, and every other int16 constant of 0x10 and above
// (the small ones are procedure results, never a Status).
std::map<QString, int> DefinedStatusCodes() {
    static const QRegularExpression constant(
        QStringLiteral(R"(constexpr\s+int(16|32)_t\s+(k\w+)\s*=\s*(0x[0-9A-Fa-f]+|\d+)\s*;)"));
    std::map<QString, int> codes;
    for (const char* room : {"src/device", "src/format"}) {
        const QDir dir(QStringLiteral(UFD_SOURCE_DIR "/") + room);
        for (const QString& name : dir.entryList({QStringLiteral("*.h")}, QDir::Files)) {
            QFile file(dir.filePath(name));
            EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
            auto it = constant.globalMatch(QString::fromUtf8(file.readAll()));
            while (it.hasNext()) {
                const auto m = it.next();
                const QString id = m.captured(2);
                const int value = m.captured(3).toInt(nullptr, 0);
                const bool status = id.startsWith(QStringLiteral("kStatus")) ||
                                    (id.startsWith(QStringLiteral("kVendor")) &&
                                     id != QStringLiteral("kVendorLength")) ||
                                    (m.captured(1) == QStringLiteral("16") && value >= 0x10);
                if (status) {
                    codes[name + ": " + id] = value;
                }
            }
        }
    }
    return codes;
}

TEST(StatusReasons, EveryCodeTheProceduresDefineHasItsWords) {
    const auto codes = DefinedStatusCodes();
    ASSERT_GE(codes.size(), 25U); // the parse still finds the vendor and volume codes
    for (const auto& [where, code] : codes) {
        EXPECT_FALSE(StatusReasonText(code).startsWith(QStringLiteral("unknown")))
            << where.toStdString() << " = 0x" << std::hex << code;
    }
}

TEST(StatusReasons, PassUnknownAndKnownCodes) {
    const std::vector<std::pair<int, QString>> cases = {
        {0, QString()},
        {0x7C, QStringLiteral("unknown status 7C")},
        {0x1234, QStringLiteral("unknown status 1234")},
        {0xFE, QStringLiteral("missing handle: no drive to talk to")},
    };
    for (const auto& [status, reason] : cases) {
        EXPECT_EQ(StatusReasonText(status), reason) << status;
    }
}

// docs/codes.md and man ufd-station list every code with the table's words,
// and nothing else: the rows of one, the lines of the other.
TEST(StatusReasons, TheDocsListTheTable) {
    QStringList docRows, manLines;
    for (const StatusReason& row : StatusReasons()) {
        const QString reason = QString::fromUtf8(row.reason);
        docRows << QStringLiteral("| 0x%1 | %2 | %3 |")
                       .arg(QString::number(row.status, 16).toUpper(), QString::number(row.status),
                            reason);
        manLines << QStringLiteral("0x%1  %2  %3")
                        .arg(QString::number(row.status, 16).toUpper(),
                             QString::number(row.status).rightJustified(3), reason);
    }
    const auto read = [](const char* file) {
        QFile f(QStringLiteral(UFD_SOURCE_DIR "/") + file);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << file;
        return QString::fromUtf8(f.readAll());
    };
    QStringList documented;
    for (const QString& line : read("docs/codes.md").split(QLatin1Char('\n'))) {
        if (line.startsWith(QStringLiteral("| 0x"))) {
            documented << line.section(QStringLiteral(" | "), 0, 2) + QStringLiteral(" |");
        }
    }
    EXPECT_EQ(documented, docRows);
    const QString man = read("packaging/man/ufd-station.1");
    const QString block = man.section(QStringLiteral(".SH STATUS CODES"), 1).section(".nf\n", 1);
    EXPECT_EQ(block.section(QStringLiteral("\n.fi"), 0, 0), manLines.join(QLatin1Char('\n')));
}

} // namespace
} // namespace ufd
