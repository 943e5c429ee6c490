#include "config/product_config.h"

#include "config/ansi.h"
#include "config/bounded_file.h"
#include "config/leading_number.h"
#include "config/program_directory.h"
#include "platform/message_box.h"

#include <QFile>
#include <QLocale>

#include <array>
#include <cmath>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

namespace ufd {

namespace {

const QString kTitle = QStringLiteral("UFD Manufacture Program");

enum class Section {
    None,
    VidPid,
    UsbManufacture,
    UsbProduct,
    ScsiManufacture,
    ScsiProduct,
    PartitionStatus,
    ApplicationMode,
    DiskLabel,
};

// Headers are matched as whole lines, exactly and case-sensitively.
const std::array<std::pair<QLatin1StringView, Section>, 8> kHeaders = {{
    {QLatin1StringView("[VID/PID]"), Section::VidPid},
    {QLatin1StringView("[USB MANUFACTURE STRING]"), Section::UsbManufacture},
    {QLatin1StringView("[USB PRODUCT STRING]"), Section::UsbProduct},
    {QLatin1StringView("[SCSI MANUFACTURE STRING]"), Section::ScsiManufacture},
    {QLatin1StringView("[SCSI PRODUCT STRING]"), Section::ScsiProduct},
    {QLatin1StringView("[PARTITION STATUS]"), Section::PartitionStatus},
    {QLatin1StringView("[APPLICATION MODE]"), Section::ApplicationMode},
    {QLatin1StringView("[DISK LABEL]"), Section::DiskLabel},
}};

// CR LF and a lone CR end a line; a lone LF is part of the line. The last
// line needs no end, and a file that ends with one has no empty line after.
std::vector<QByteArray> SplitLines(const QByteArray& bytes) {
    std::vector<QByteArray> lines;
    QByteArray line;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes.at(i);
        if (c != '\r') {
            line.append(c);
            continue;
        }
        if (i + 1 < bytes.size() && bytes.at(i + 1) == '\n') {
            ++i;
        }
        lines.push_back(std::exchange(line, QByteArray()));
    }
    if (!line.isEmpty()) {
        lines.push_back(line);
    }
    return lines;
}

// Characters 5 to 8, or as many of them as the line has.
QString Characters5To8(const QString& line) {
    return line.size() <= 4 ? QString() : line.mid(4, 4);
}

// The text after the first "=", or the whole line when it has none.
QString AfterEquals(const QString& line) {
    const qsizetype at = line.indexOf(u'=');
    return at < 0 ? line : line.mid(at + 1);
}

// Halves go to the even neighbour (2.5 -> 2, 3.5 -> 4, -2.5 -> -2).
double RoundHalfToEven(double x) {
    const double below = std::floor(x);
    const double fraction = x - below;
    if (fraction < 0.5) {
        return below;
    }
    if (fraction > 0.5) {
        return below + 1;
    }
    return std::fmod(below, 2.0) == 0 ? below : below + 1;
}

// `1st` and `2nd` follow the user's number format: QLocale::system(), so
// "0,3" in a German setting and "0.3" in the C locale. A text that is no
// number, or one that overflows, is a conversion failure.
std::optional<double> UserNumber(const QString& text) {
    bool ok = false;
    const double value = QLocale::system().toDouble(text, &ok);
    if (!ok || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

enum class LineResult { Applied, ConversionFailed, PartitionNumberOutOfRange };

class ProductIniReader {
public:
    explicit ProductIniReader(ProductConfig& config) : config_(config) {}

    LineResult Apply(const QString& line) {
        if (line.startsWith(u';')) {
            return LineResult::Applied;
        }
        if (line.startsWith(u'[')) {
            for (const auto& [header, section] : kHeaders) {
                if (line == header) {
                    section_ = section;
                }
            }
            return LineResult::Applied; // unknown headers keep the section
        }
        return ApplyValue(line);
    }

private:
    LineResult ApplyValue(const QString& line) {
        switch (section_) {
        case Section::None:
            break;
        case Section::VidPid:
            (line.startsWith(QLatin1StringView("VID")) ? config_.Vid : config_.Pid) =
                Characters5To8(line);
            break;
        case Section::UsbManufacture:
            config_.UsbManufactureString = line;
            break;
        case Section::UsbProduct:
            config_.UsbProductString = line;
            break;
        case Section::ScsiManufacture:
            config_.ScsiManufactureString = line;
            break;
        case Section::ScsiProduct:
            config_.ScsiProductString = line;
            break;
        case Section::PartitionStatus:
            return ApplyPartition(line);
        case Section::ApplicationMode:
            return ApplyMode(line);
        case Section::DiskLabel:
            config_.DiskLabel = line;
            break;
        }
        return LineResult::Applied;
    }

    LineResult ApplyPartition(const QString& line) {
        if (line.startsWith(QLatin1StringView("ParNum"))) {
            // Only checked, never kept: character 8 is the number of areas.
            if (line.size() < 8 || line[7] < u'0' || line[7] > u'9') {
                return LineResult::ConversionFailed;
            }
            const int areas = line[7].unicode() - u'0';
            return areas == 1 || areas == 2 ? LineResult::Applied
                                            : LineResult::PartitionNumberOutOfRange;
        }
        double* share = line.startsWith(QLatin1StringView("1st"))   ? &config_.FirstShare
                        : line.startsWith(QLatin1StringView("2nd")) ? &config_.SecondShare
                                                                    : nullptr;
        if (share == nullptr) {
            return LineResult::Applied;
        }
        const auto value = UserNumber(AfterEquals(line));
        if (!value) {
            return LineResult::ConversionFailed;
        }
        *share = *value;
        return LineResult::Applied;
    }

    LineResult ApplyMode(const QString& line) {
        if (!line.startsWith(QLatin1StringView("ApMode"))) {
            return LineResult::Applied;
        }
        const auto number = LeadingNumber(AfterEquals(line));
        if (!number) {
            return LineResult::ConversionFailed;
        }
        const double rounded = RoundHalfToEven(*number);
        if (rounded < std::numeric_limits<int16_t>::min() ||
            rounded > std::numeric_limits<int16_t>::max()) {
            return LineResult::ConversionFailed;
        }
        config_.ApMode = static_cast<int16_t>(rounded);
        return LineResult::Applied;
    }

    ProductConfig& config_;
    Section section_ = Section::None;
};

int16_t ReadFailed() {
    ShowMessageBox(QStringLiteral("Open product.ini failed"), kStyleStop, kTitle);
    return kConfigUnreadable;
}

} // namespace

int16_t ReadProductConfig(ProductConfig& config, const std::filesystem::path& file) {
    const std::optional<QByteArray> read = ReadBoundedFile(file, kMaxProductIniBytes);
    if (!read) {
        return ReadFailed();
    }
    switch (ParseProductIni(config, *read)) {
    case ProductIniParse::Good:
        return kConfigGood;
    case ProductIniParse::SharesWrong:
        return kConfigSharesWrong;
    case ProductIniParse::PartitionNumberOutOfRange:
        ShowMessageBox(QStringLiteral("Error Partition Number"), kStyleStop, kTitle);
        return ReadFailed();
    case ProductIniParse::Unreadable:
        break;
    }
    return ReadFailed();
}

ProductIniParse ParseProductIni(ProductConfig& config, const QByteArray& bytes) {
    const std::vector<QByteArray> lines = SplitLines(bytes);
    if (lines.empty()) {
        return ProductIniParse::Unreadable; // the very first read finds the end of the file
    }
    ProductIniReader reader(config);
    for (const QByteArray& line : lines) {
        switch (reader.Apply(FromAnsi(line))) {
        case LineResult::Applied:
            break;
        case LineResult::PartitionNumberOutOfRange:
            return ProductIniParse::PartitionNumberOutOfRange;
        case LineResult::ConversionFailed:
            return ProductIniParse::Unreadable;
        }
    }
    // Exact comparison on purpose: 0.3 + 0.7 is exactly 1.0 in doubles,
    // and only the sum is checked, not the range of either share.
    return config.FirstShare + config.SecondShare == 1.0 ? ProductIniParse::Good
                                                         : ProductIniParse::SharesWrong;
}

int16_t ReadProductConfig(ProductConfig& config) {
    return ReadProductConfig(
        config,
        QFile::encodeName(ProgramDirectory() + QStringLiteral("Product.ini")).toStdString());
}

} // namespace ufd
