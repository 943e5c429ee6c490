#include "config/leading_number.h"
#include "config/product_config.h"

#include "scripted_operator.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace ufd {
namespace {

using Lines = std::vector<std::string>;

std::string Join(const Lines& lines, const std::string& end, bool endLast = true) {
    std::string text;
    for (size_t i = 0; i < lines.size(); ++i) {
        text += lines[i];
        if (endLast || i + 1 < lines.size()) {
            text += end;
        }
    }
    return text;
}

// Replaces the first line equal to `from` (and keeps the rest of the file).
Lines With(Lines lines, const std::string& from, const Lines& to) {
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i] == from) {
            lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i));
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(i), to.begin(), to.end());
            return lines;
        }
    }
    ADD_FAILURE() << "no line " << from;
    return lines;
}

Lines Without(Lines lines, const Lines& gone) {
    std::erase_if(lines, [&](const std::string& l) {
        return std::find(gone.begin(), gone.end(), l) != gone.end();
    });
    return lines;
}

const Lines kGood = {
    "; a product of the line",
    "[VID/PID]",
    "VID=0123",
    "PID=4567",
    "[USB MANUFACTURE STRING]",
    "Acme Corp",
    "[USB PRODUCT STRING]",
    "Acme Stick",
    "[SCSI MANUFACTURE STRING]",
    "ACME",
    "[SCSI PRODUCT STRING]",
    "Flash Disk",
    "[PARTITION STATUS]",
    "ParNum=1",
    "1st=1",
    "2nd=0",
    "[APPLICATION MODE]",
    "ApMode=1",
    "[DISK LABEL]",
    "UFDISK",
};

ProductConfig GoodConfig() {
    return ProductConfig{
        .ScsiManufactureString = "ACME",
        .ScsiProductString = "Flash Disk",
        .Vid = "0123",
        .Pid = "4567",
        .UsbManufactureString = "Acme Corp",
        .UsbProductString = "Acme Stick",
        .FirstShare = 1,
        .SecondShare = 0,
        .ApMode = 1,
        .DiskLabel = "UFDISK",
    };
}

const QString kReadFailed = "Open product.ini failed";
const QString kBadPartitionNumber = "Error Partition Number";

struct IniCase {
    std::string name;
    std::optional<std::string> bytes; // nullopt: no file at all
    int16_t result;
    std::function<void(ProductConfig&)> expect; // changes to GoodConfig()
    std::vector<QString> messages;
};

void PrintTo(const IniCase& c, std::ostream* os) {
    *os << c.name;
}

void Nothing(ProductConfig&) {}
void Empty(ProductConfig& c) {
    c = ProductConfig{};
}

std::string Crlf(const Lines& lines) {
    return Join(lines, "\r\n");
}

// A failing line comes last, so that every field the good file sets is set.
std::string Failing(const std::string& lines) {
    return Crlf(kGood) + lines;
}

std::vector<IniCase> Cases() {
    return {
        {"Good", Crlf(kGood), kConfigGood, Nothing, {}},
        {"CrOnlyAndNoEndOnTheLastLine", Join(kGood, "\r", false), kConfigGood, Nothing, {}},
        {"NoPartitionSection",
         Crlf(Without(kGood, {"[PARTITION STATUS]", "ParNum=1", "1st=1", "2nd=0"})),
         kConfigSharesWrong,
         [](ProductConfig& c) { c.FirstShare = 0; },
         {}},
        {"SharesPointThreeAndPointSeven",
         Crlf(With(With(kGood, "1st=1", {"1st=0.3"}), "2nd=0", {"2nd=0.7"})),
         kConfigGood,
         [](ProductConfig& c) {
             c.FirstShare = 0.3;
             c.SecondShare = 0.7;
         },
         {}},
        {"SharesOutsideZeroToOne",
         Crlf(With(With(kGood, "1st=1", {"1st=1.5"}), "2nd=0", {"2nd=-0.5"})),
         kConfigGood,
         [](ProductConfig& c) {
             c.FirstShare = 1.5;
             c.SecondShare = -0.5;
         },
         {}},
        {"ShareNoNumber",
         Failing("[PARTITION STATUS]\r\n2nd=zero"),
         kConfigUnreadable,
         Nothing,
         {kReadFailed}},
        {"LfOnlyIsOneLine",
         Join(Without(kGood, {"; a product of the line"}), "\n"),
         kConfigSharesWrong,
         Empty,
         {}},
        {"ParNumThree",
         Failing("[PARTITION STATUS]\r\nParNum=3\r\n"),
         kConfigUnreadable,
         Nothing,
         {kBadPartitionNumber, kReadFailed}},
        {"ParNumSevenCharacters",
         Failing("[PARTITION STATUS]\r\nParNum="),
         kConfigUnreadable,
         Nothing,
         {kReadFailed}},
        {"ApModeOverflowsInt16",
         Failing("[APPLICATION MODE]\r\nApMode=40000"),
         kConfigUnreadable,
         Nothing,
         {kReadFailed}},
        {"EmptyLinesInsideSections",
         Crlf(With(With(kGood, "PID=4567", {"PID=4567", ""}), "Acme Stick", {"Acme Stick", ""})),
         kConfigGood,
         [](ProductConfig& c) {
             c.Pid.clear();
             c.UsbProductString.clear();
         },
         {}},
        // "UFDISK" then counts for [APPLICATION MODE], where it means nothing.
        {"HeaderInOtherCase",
         Crlf(With(kGood, "[DISK LABEL]", {"[Disk Label]"})),
         kConfigGood,
         [](ProductConfig& c) { c.DiskLabel.clear(); },
         {}},
        {"HeaderWithTrailingBlank",
         Crlf(With(kGood, "[SCSI PRODUCT STRING]", {"[SCSI PRODUCT STRING] "})),
         kConfigGood,
         [](ProductConfig& c) {
             c.ScsiManufactureString = "Flash Disk";
             c.ScsiProductString.clear();
         },
         {}},
        {"MissingFile", std::nullopt, kConfigUnreadable, Empty, {kReadFailed}},
        {"EmptyFile", "", kConfigUnreadable, Empty, {kReadFailed}},
        {"LabelInWindows1252",
         Crlf(With(kGood, "UFDISK", {"M\xDCLLER \x80"})),
         kConfigGood,
         [](ProductConfig& c) { c.DiskLabel = QString::fromUtf8("MÜLLER €"); },
         {}},
        {"VidPidCharactersFiveToEight",
         Crlf(With(With(kGood, "VID=0123", {"VIDx01234567"}), "PID=4567", {"PID=45"})),
         kConfigGood,
         [](ProductConfig& c) { c.Pid = "45"; },
         {}},
        {"ValuesBeforeAnyHeaderIgnoredAndRepeatsOverwrite",
         Crlf(With(With(kGood, "; a product of the line", {"ACME", "VID=9999"}), "UFDISK",
                   {"UFDISK", "[VID/PID]", "VID=ABCD"})),
         kConfigGood,
         [](ProductConfig& c) { c.Vid = "ABCD"; },
         {}},
        {"ApModeHalfToEven",
         Crlf(With(kGood, "ApMode=1", {"ApMode=2.5"})),
         kConfigGood,
         [](ProductConfig& c) { c.ApMode = 2; },
         {}},
    };
}

class ProductIniTest : public ::testing::TestWithParam<IniCase> {};

TEST_P(ProductIniTest, ResultFieldsAndMessages) {
    const IniCase& c = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::filesystem::path file = dir.filePath("Product.ini").toStdString();
    if (c.bytes) {
        std::ofstream(file, std::ios::binary) << *c.bytes;
    }
    testing::ScriptedOperator op;
    ProductConfig config;
    const int16_t result = ReadProductConfig(config, file);

    ProductConfig expected = GoodConfig();
    c.expect(expected);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(config.ScsiManufactureString, expected.ScsiManufactureString);
    EXPECT_EQ(config.ScsiProductString, expected.ScsiProductString);
    EXPECT_EQ(config.Vid, expected.Vid);
    EXPECT_EQ(config.Pid, expected.Pid);
    EXPECT_EQ(config.UsbManufactureString, expected.UsbManufactureString);
    EXPECT_EQ(config.UsbProductString, expected.UsbProductString);
    EXPECT_EQ(config.FirstShare, expected.FirstShare);
    EXPECT_EQ(config.SecondShare, expected.SecondShare);
    EXPECT_EQ(config.ApMode, expected.ApMode);
    EXPECT_EQ(config.DiskLabel, expected.DiskLabel);
    EXPECT_EQ(op.Texts(), c.messages);
    for (const auto& request : op.seen) {
        EXPECT_EQ(request.style, kStyleStop) << request.text.toStdString();
        EXPECT_EQ(request.title, std::optional<QString>("UFD Manufacture Program"));
    }
}

INSTANTIATE_TEST_SUITE_P(Files, ProductIniTest, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return info.param.name; });

TEST(ProductIni, FieldsKeepWhatTheFileGaveBeforeAFailure) {
    // Start-up ends the program on a failure, but nothing set before the
    // bad line is undone.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::filesystem::path file = dir.filePath("Product.ini").toStdString();
    std::ofstream(file, std::ios::binary)
        << "[DISK LABEL]\r\nFIRST\r\n[PARTITION STATUS]\r\n1st=?\r\n[DISK LABEL]\r\nSECOND\r\n";
    testing::ScriptedOperator op;
    ProductConfig config;
    EXPECT_EQ(ReadProductConfig(config, file), kConfigUnreadable);
    EXPECT_EQ(config.DiskLabel, "FIRST");
}

// ApMode and the drive's capacity line share this reading of a number.
TEST(LeadingNumber, NumberAtTheStartWithAPoint) {
    const std::pair<const char*, std::optional<double>> cases[] = {
        {"4096000", 4096000},
        {" \t-12.5 MB", -12.5},
        {"+3.", 3},
        {"0.03e2", 3},
        {"7e", 7},
        {"2d2", 200},
        {".5x", 0.5},
        {"abc", 0},
        {"", 0},
        {"-", 0},
        {"1e-400", 0},
        {"1e400", std::nullopt},
        {"4,5", 4},
    };
    for (const auto& [text, value] : cases) {
        EXPECT_EQ(LeadingNumber(text), value) << text;
    }
}

} // namespace
} // namespace ufd
