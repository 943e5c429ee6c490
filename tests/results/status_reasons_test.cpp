// The docs against the one table of codes: a code added to the table without its line in
// docs/codes.md and the manual page fails here.
#include "support/test_common.h"

#include "base/hex_digits.h"
#include "results/status_reasons.h"

#include <QFile>

namespace ufd {
namespace {

// docs/codes.md and man ufd-station list every code with the table's words,
// and nothing else: the rows of one, the lines of the other.
TEST(StatusReasons, TheDocsListTheTable) {
    QStringList docRows, manLines;
    for (const StatusCode& code : kStatusCodes) {
        docRows << QStringLiteral("| 0x%1 | %2 | %3 |")
                       .arg(QString::fromStdString(HexDigits(code.number, 2)),
                            QString::number(code.number), StatusReasonText(code.number));
        manLines << StatusCodeLine(code);
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
