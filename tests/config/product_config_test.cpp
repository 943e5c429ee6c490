#include "config/product_config.h"

#include "scripted_operator.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <ostream>

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

std::vector<IniCase> Cases() {
    return {
        {"Good", Crlf(kGood), kConfigGood, Nothing, {}},
        {"LastLineWithoutEnd", Join(kGood, "\r\n", false), kConfigGood, Nothing, {}},
        {"CrOnly", Join(kGood, "\r"), kConfigGood, Nothing, {}},
        {"NoPartitionSection",
         Crlf(Without(kGood, {"[PARTITION STATUS]", "ParNum=1", "1st=1", "2nd=0"})),
         kConfigSharesWrong,
         [](ProductConfig& c) {
             c.FirstShare = 0;
             c.SecondShare = 0;
         },
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
        {"SharesShortOfOne",
         Crlf(With(kGood, "1st=1", {"1st=0.5", "2nd=0.4"})),
         kConfigSharesWrong,
         [](ProductConfig& c) {
             c.FirstShare = 0.5;
             c.SecondShare = 0; // the later "2nd=0" line wins
         },
         {}},
        {"ShareWithoutEqualsIsNoNumber",
         Crlf(With(kGood, "1st=1", {"1st"})),
         kConfigUnreadable,
         [](ProductConfig& c) {
             c.FirstShare = 0;
             c.SecondShare = 0;
             c.ApMode = 0;
             c.DiskLabel.clear();
         },
         {kReadFailed}},
        {"ShareInfinityIsNoNumber",
         Crlf(With(kGood, "1st=1", {"1st=inf"})),
         kConfigUnreadable,
         [](ProductConfig& c) {
             c.FirstShare = 0;
             c.ApMode = 0;
             c.DiskLabel.clear();
         },
         {kReadFailed}},
        {"ShareNoNumber",
         Crlf(With(kGood, "2nd=0", {"2nd=zero"})),
         kConfigUnreadable,
         [](ProductConfig& c) {
             c.SecondShare = 0;
             c.ApMode = 0;
             c.DiskLabel.clear();
         },
         {kReadFailed}},
        {"ShareOverflows",
         Crlf(With(kGood, "2nd=0", {"2nd=1e400"})),
         kConfigUnreadable,
         [](ProductConfig& c) {
             c.ApMode = 0;
             c.DiskLabel.clear();
         },
         {kReadFailed}},
        {"LfOnlyIsOneLine",
         Join(Without(kGood, {"; a product of the line"}), "\n"),
         kConfigSharesWrong,
         Empty,
         {}},
        {"ParNumThree",
         Crlf(With(kGood, "ParNum=1", {"ParNum=3"})),
         kConfigUnreadable,
         [](ProductConfig& c) {
             c.FirstShare = 0;
             c.ApMode = 0;
             c.DiskLabel.clear();
         },
         {kBadPartitionNumber, kReadFailed}},
        {"ParNumZero",
         Crlf(With(kGood, "ParNum=1", {"ParNum=0"})),
         kConfigUnreadable,
         [](ProductConfig& c) {
             c.FirstShare = 0;
             c.ApMode = 0;
             c.DiskLabel.clear();
         },
         {kBadPartitionNumber, kReadFailed}},
        {"ParNumTwoAnyCharacterSeven",
         Crlf(With(kGood, "ParNum=1", {"ParNum:2"})),
         kConfigGood,
         Nothing,
         {}},
        {"ParNumSevenCharacters",
         Crlf(With(kGood, "ParNum=1", {"ParNum="})),
         kConfigUnreadable,
         [](ProductConfig& c) {
             c.FirstShare = 0;
             c.ApMode = 0;
             c.DiskLabel.clear();
         },
         {kReadFailed}},
        {"ParNumNoDigit",
         Crlf(With(kGood, "ParNum=1", {"ParNum=x"})),
         kConfigUnreadable,
         [](ProductConfig& c) {
             c.FirstShare = 0;
             c.ApMode = 0;
             c.DiskLabel.clear();
         },
         {kReadFailed}},
        {"EmptyLinesInsideSections",
         Crlf(With(With(kGood, "PID=4567", {"PID=4567", ""}), "Acme Stick", {"Acme Stick", ""})),
         kConfigGood,
         [](ProductConfig& c) {
             c.Pid.clear();
             c.UsbProductString.clear();
         },
         {}},
        {"HeaderInOtherCase",
         Crlf(With(kGood, "[DISK LABEL]", {"[Disk Label]"})),
         kConfigGood,
         // "UFDISK" counts for [APPLICATION MODE], where it means nothing
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
        {"OneEmptyLine", "\r\n", kConfigSharesWrong, Empty, {}},
        {"LabelInWindows1252",
         Crlf(With(kGood, "UFDISK", {"M\xDCLLER \x80"})),
         kConfigGood,
         [](ProductConfig& c) { c.DiskLabel = QString::fromUtf8("MÜLLER €"); },
         {}},
        {"LoneLfStaysInTheLine",
         Crlf(With(kGood, "Acme Stick", {"Acme\nStick"})),
         kConfigGood,
         [](ProductConfig& c) { c.UsbProductString = "Acme\nStick"; },
         {}},
        {"VidPidCharactersFiveToEight",
         Crlf(With(With(kGood, "VID=0123", {"VIDx01234567"}), "PID=4567", {"P=45"})),
         kConfigGood,
         [](ProductConfig& c) {
             c.Vid = "0123";
             c.Pid.clear();
         },
         {}},
        {"VidPidShortLines",
         Crlf(With(With(kGood, "VID=0123", {"VID=01"}), "PID=4567", {"PID"})),
         kConfigGood,
         [](ProductConfig& c) {
             c.Vid = "01";
             c.Pid.clear();
         },
         {}},
        {"ValuesBeforeAnyHeaderIgnored",
         Crlf(With(kGood, "; a product of the line", {"ACME", "VID=9999"})),
         kConfigGood,
         Nothing,
         {}},
        {"RepeatedSectionOverwrites",
         Crlf(With(kGood, "UFDISK", {"UFDISK", "[VID/PID]", "VID=ABCD"})),
         kConfigGood,
         [](ProductConfig& c) { c.Vid = "ABCD"; },
         {}},
        {"ApModeHalfDown",
         Crlf(With(kGood, "ApMode=1", {"ApMode=2.5"})),
         kConfigGood,
         [](ProductConfig& c) { c.ApMode = 2; },
         {}},
        {"ApModeHalfUp",
         Crlf(With(kGood, "ApMode=1", {"ApMode=3.5"})),
         kConfigGood,
         [](ProductConfig& c) { c.ApMode = 4; },
         {}},
        {"ApModeNoNumber",
         Crlf(With(kGood, "ApMode=1", {"ApMode=x"})),
         kConfigGood,
         [](ProductConfig& c) { c.ApMode = 0; },
         {}},
        {"ApModeNegativeHalf",
         Crlf(With(kGood, "ApMode=1", {"ApMode=-2.5"})),
         kConfigGood,
         [](ProductConfig& c) { c.ApMode = -2; },
         {}},
        {"ApModeLeadingNumberOnly",
         Crlf(With(kGood, "ApMode=1", {"ApMode= 4.6abc"})),
         kConfigGood,
         [](ProductConfig& c) { c.ApMode = 5; },
         {}},
        {"ApModeWithoutEquals",
         Crlf(With(kGood, "ApMode=1", {"ApMode"})),
         kConfigGood,
         [](ProductConfig& c) { c.ApMode = 0; },
         {}},
        {"ApModeExponent",
         Crlf(With(kGood, "ApMode=1", {"ApMode=0.03e2"})),
         kConfigGood,
         [](ProductConfig& c) { c.ApMode = 3; },
         {}},
        {"ApModeOverflow",
         Crlf(With(kGood, "ApMode=1", {"ApMode=40000"})),
         kConfigUnreadable,
         [](ProductConfig& c) {
             c.ApMode = 0;
             c.DiskLabel.clear();
         },
         {kReadFailed}},
        {"ApModeKeyOfOtherSection",
         Crlf(With(kGood, "2nd=0", {"2nd=0", "ApMode=3"})),
         kConfigGood,
         Nothing,
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

TEST(ProductIni, DirectoryInPlaceOfTheFileIsUnreadable) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    testing::ScriptedOperator op;
    ProductConfig config;
    EXPECT_EQ(ReadProductConfig(config, dir.path().toStdString()), kConfigUnreadable);
    EXPECT_EQ(op.Texts(), std::vector<QString>{kReadFailed});
}

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

} // namespace
} // namespace ufd
