// What the station reads from files: Product.ini as the line reads it, the
// library's reply files, the Windows-1252 page.
#include "config/ansi.h"
#include "config/leading_number.h"
#include "config/product_config.h"
#include "config/reply_files.h"

#include "scripted_operator.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <numeric>

#include <sys/stat.h>

namespace ufd {
namespace {

// The good file, one line per entry; "|" marks where each line ends.
const std::string kGood = "; a product of the line|[VID/PID]|VID=0123|PID=4567|"
                          "[USB MANUFACTURE STRING]|Acme Corp|[USB PRODUCT STRING]|Acme Stick|"
                          "[SCSI MANUFACTURE STRING]|ACME|[SCSI PRODUCT STRING]|Flash Disk|"
                          "[PARTITION STATUS]|ParNum=1|1st=1|2nd=0|[APPLICATION MODE]|ApMode=1|"
                          "[DISK LABEL]|UFDISK|";
const std::string kGoodFields = "scsi ACME/Flash Disk, vid 0123, pid 4567, usb Acme Corp/Acme "
                                "Stick, shares 1/0, mode 1, label UFDISK";
// The good file's fields with one part changed.
std::string Changed(const std::string& from, const std::string& to) {
    std::string fields = kGoodFields;
    return fields.replace(fields.find(from), from.size(), to);
}
const std::string kNoFields = "scsi /, vid , pid , usb /, shares 0/0, mode 0, label ";

// kGood with one line replaced by others ("" removes it) and `end` after
// every line.
std::string File(const std::string& from = "", const std::string& to = "",
                 const std::string& end = "\r\n") {
    std::string text = kGood;
    if (!from.empty()) {
        const size_t at = text.find(from + "|");
        EXPECT_NE(at, std::string::npos) << from;
        text.replace(at, from.size() + 1, to.empty() ? "" : to + "|");
    }
    for (size_t at; (at = text.find('|')) != std::string::npos;) {
        text.replace(at, 1, end);
    }
    return text;
}

std::string Fields(const ProductConfig& c) {
    return QString("scsi %1/%2, vid %3, pid %4, usb %5/%6, shares %7/%8, mode %9, label %10")
        .arg(c.ScsiManufactureString, c.ScsiProductString, c.Vid, c.Pid, c.UsbManufactureString,
             c.UsbProductString, QString::number(c.FirstShare), QString::number(c.SecondShare),
             QString::number(c.ApMode))
        .arg(c.DiskLabel)
        .toStdString();
}

const QString kReadFailed = "Open product.ini failed";

struct IniCase {
    std::string name;
    std::optional<std::string> bytes; // nullopt: no file at all
    int16_t result;
    std::string fields;
    std::vector<QString> messages;
};

// Failures name the case, not its bytes.
void PrintTo(const IniCase& c, std::ostream* os) {
    *os << c.name;
}

// A failing line comes last, so that every field the good file sets is set.
std::vector<IniCase> Cases() {
    const std::string shares = "[PARTITION STATUS]|ParNum=1|1st=1|2nd=0";
    std::string crOnly = File("", "", "\r");
    crOnly.pop_back();
    // clang-format off
    return {
        {"Good", File(), kConfigGood, kGoodFields, {}},
        {"CrOnlyAndNoEndOnTheLastLine", crOnly, kConfigGood, kGoodFields, {}},
        {"NoPartitionSection", File(shares, ""), kConfigSharesWrong,
         Changed("shares 1/0", "shares 0/0"), {}},
        {"SharesPointThreeAndPointSeven", File(shares, "[PARTITION STATUS]|1st=0.3|2nd=0.7"),
         kConfigGood, Changed("shares 1/0", "shares 0.3/0.7"), {}},
        {"SharesOutsideZeroToOne", File(shares, "[PARTITION STATUS]|1st=1.5|2nd=-0.5"),
         kConfigGood, Changed("shares 1/0", "shares 1.5/-0.5"), {}},
        {"LfOnlyIsOneLine", File("; a product of the line", "", "\n"), kConfigSharesWrong,
         kNoFields, {}},
        {"ShareNoNumber", File() + "[PARTITION STATUS]\r\n2nd=zero", kConfigUnreadable,
         kGoodFields, {kReadFailed}},
        {"ParNumThree", File() + "[PARTITION STATUS]\r\nParNum=3\r\n", kConfigUnreadable,
         kGoodFields, {"Error Partition Number", kReadFailed}},
        {"ParNumSevenCharacters", File() + "[PARTITION STATUS]\r\nParNum=", kConfigUnreadable,
         kGoodFields, {kReadFailed}},
        {"ApModeOverflowsInt16", File() + "[APPLICATION MODE]\r\nApMode=40000", kConfigUnreadable,
         kGoodFields, {kReadFailed}},
        {"EmptyLinesInsideSections",
         File("PID=4567|[USB MANUFACTURE STRING]|Acme Corp|[USB PRODUCT STRING]|Acme Stick",
              "PID=4567||[USB MANUFACTURE STRING]|Acme Corp|[USB PRODUCT STRING]|Acme Stick|"),
         kConfigGood, Changed("pid 4567, usb Acme Corp/Acme Stick", "pid , usb Acme Corp/"), {}},
        // Other case or a trailing blank: the lines after count for the
        // section before ("OTHER" for [APPLICATION MODE], meaning nothing).
        {"OddHeaders",
         File("[SCSI PRODUCT STRING]|Flash Disk|[PARTITION STATUS]",
              "[SCSI PRODUCT STRING] |Flash Disk|[PARTITION STATUS]") +
             "[APPLICATION MODE]\r\n[Disk Label]\r\nOTHER\r\n",
         kConfigGood, Changed("scsi ACME/Flash Disk", "scsi Flash Disk/"), {}},
        {"MissingFile", std::nullopt, kConfigUnreadable, kNoFields, {kReadFailed}},
        {"EmptyFile", "", kConfigUnreadable, kNoFields, {kReadFailed}},
        {"Windows1252VidPidAndRepeats",
         File("UFDISK", "UFDISK|[APPLICATION MODE]|ApMode=2.5|[VID/PID]|VIDx01234567|PID=45|"
                        "[DISK LABEL]|M\xDCLLER \x80"),
         kConfigGood,
         "scsi ACME/Flash Disk, vid 0123, pid 45, usb Acme Corp/Acme Stick, shares 1/0, mode 2, "
         "label MÜLLER €", {}},
        {"ValuesBeforeAnyHeaderAreIgnored", File("; a product of the line", "ACME|VID=9999"),
         kConfigGood, kGoodFields, {}},
        // Reading stops at a failure and keeps what was read.
        {"StopsAtAFailure", "[DISK LABEL]\r\nM\xDCLLER\r\n[PARTITION STATUS]\r\n1st=?\r\n"
                            "[DISK LABEL]\r\nSECOND\r\n",
         kConfigUnreadable, kNoFields + "MÜLLER", {kReadFailed}},
    };
    // clang-format on
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
    EXPECT_EQ(ReadProductConfig(config, file), c.result);
    EXPECT_EQ(Fields(config), c.fields);
    EXPECT_EQ(op.Texts(), c.messages);
    for (const auto& request : op.seen) {
        EXPECT_EQ(request.style, kStyleStop) << request.text.toStdString();
        EXPECT_EQ(request.title, std::optional<QString>("UFD Manufacture Program"));
    }
}

INSTANTIATE_TEST_SUITE_P(Files, ProductIniTest, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return info.param.name; });

// Not a file to read whole: a FIFO (start-up hung on it), a device without
// end, a good file past the size cap. Each fails at once, as a missing file.
TEST(ProductIniBounds, FifosDevicesAndHugeFilesFailAtOnce) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::filesystem::path fifo = dir.filePath("fifo").toStdString();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::filesystem::path huge = dir.filePath("huge").toStdString();
    std::ofstream(huge, std::ios::binary) << File("", "");
    std::filesystem::resize_file(huge, kMaxProductIniBytes + 1);
    for (const std::filesystem::path& file : {fifo, std::filesystem::path("/dev/zero"), huge}) {
        SCOPED_TRACE(file.string());
        testing::ScriptedOperator op;
        ProductConfig config;
        EXPECT_EQ(ReadProductConfig(config, file), kConfigUnreadable);
        EXPECT_EQ(op.Texts(), std::vector<QString>{kReadFailed});
    }
}

// ApMode and the drive's capacity line share this reading of a number.
TEST(LeadingNumber, NumberAtTheStartWithAPoint) {
    // clang-format off
    const std::pair<const char*, std::optional<double>> cases[] = {
        {"4096000", 4096000}, {" \t-12.5 MB", -12.5}, {"+3.", 3}, {"0.03e2", 3}, {"7e", 7},
        {"2d2", 200}, {".5x", 0.5}, {"abc", 0}, {"", 0}, {"-", 0}, {"1e-400", 0}, {"4,5", 4},
        {"1e400", std::nullopt}};
    // clang-format on
    for (const auto& [text, value] : cases) {
        EXPECT_EQ(LeadingNumber(text), value) << text;
    }
}

namespace fs = std::filesystem;

class ReplyFilesTest : public ::testing::Test {
protected:
    static void Write(const fs::path& file, const std::string& bytes) {
        std::ofstream(file, std::ios::binary) << bytes;
    }

    QTemporaryDir dir_;
    ReplyFiles replies{dir_.filePath("quorlink.txt").toStdString(),
                       dir_.filePath("quorlink.bin").toStdString()};
};

TEST_F(ReplyFilesTest, FirstLineIntoDeviceLineAndTheFileGone) {
    // clang-format off
    const std::pair<std::string, QString> cases[] = {
        {"USBSTOR\\DISK&VEN_X\r\nsecond\r\n", "USBSTOR\\DISK&VEN_X"}, {"7813119\nsecond\n", "7813119"},
        {"7813119\rsecond", "7813119"}, {"7813119", "7813119"}, {"\r\nsecond", ""},
        {"", "stale"}, // an empty file keeps the old text
        {"ger\xE4t \x80\x9F", QString::fromUtf8("gerät €Ÿ")}};
    // clang-format on
    for (const auto& [bytes, line] : cases) {
        Write(replies.TextFile(), bytes);
        replies.DeviceLine = "stale";
        replies.ReadReplyLine(kDeviceLineSelector);
        EXPECT_EQ(replies.DeviceLine, line) << bytes;
        EXPECT_FALSE(fs::exists(replies.TextFile())) << bytes;
    }
}

TEST_F(ReplyFilesTest, SelectorChoosesTheTargetAndLeavesTheOther) {
    for (const int16_t selector : {int16_t{1}, int16_t{0}, int16_t{-1}, int16_t{999}}) {
        replies.DeviceLine = "device";
        replies.CapacityText = "old";
        Write(replies.TextFile(), "15633407\r\n");
        replies.ReadReplyLine(selector);
        EXPECT_EQ(replies.CapacityText, "15633407") << selector;
        EXPECT_EQ(replies.DeviceLine, "device") << selector;
    }
    replies.CapacityText = "capacity";
    Write(replies.TextFile(), "USBSTOR\r\n");
    replies.ReadReplyLine(kDeviceLineSelector);
    EXPECT_EQ(replies.DeviceLine, "USBSTOR");
    EXPECT_EQ(replies.CapacityText, "capacity");
    replies.ReadReplyLine(5); // no file: both texts stay
    EXPECT_EQ(replies.CapacityText, "capacity");
}

TEST_F(ReplyFilesTest, BlockIsTheFileBytesThenZerosAndTheRestUntouched) {
    for (const std::optional<size_t> size : {std::optional<size_t>(), {0}, {100}, {511}, {1500}}) {
        std::string bytes;
        for (size_t i = 0; size && i < *size; ++i) {
            bytes.push_back(static_cast<char>((i % 251) + 1)); // never 0
        }
        if (size) {
            Write(replies.BinaryFile(), bytes);
        }
        std::fill(replies.ReplyBuffer.begin(), replies.ReplyBuffer.end(), 0xCD);
        replies.ReadReplyBlock();
        ASSERT_EQ(replies.ReplyBuffer.size(), kReplyBufferSize);
        for (size_t i = 0; i < kReplyBufferSize; ++i) {
            const uint8_t want = i >= kReplyBlockSize ? 0xCD
                                 : i < bytes.size()   ? static_cast<uint8_t>(bytes[i])
                                                      : 0;
            ASSERT_EQ(replies.ReplyBuffer[i], want) << "byte " << i << " of " << bytes.size();
        }
        EXPECT_FALSE(fs::exists(replies.BinaryFile()));
    }
}

TEST(Ansi, EveryByteDecodesAsWindows1252AndEncodesBack) {
    // Code points published for the page, byte 0x80 first; the rest of the
    // bytes are their own code points.
    const char16_t high[32] = {
        u'€', 0x0081, u'‚',   u'ƒ', u'„',   u'…',   u'†', u'‡',   u'ˆ', u'‰', u'Š',
        u'‹', u'Œ',   0x008D, u'Ž', 0x008F, 0x0090, u'‘', u'’',   u'“', u'”', u'•',
        u'–', u'—',   u'˜',   u'™', u'š',   u'›',   u'œ', 0x009D, u'ž', u'Ÿ',
    };
    QByteArray all(256, 0);
    std::iota(all.begin(), all.end(), char(0));
    const QString text = FromAnsi(all);
    ASSERT_EQ(text.size(), 256);
    for (int b = 0; b < 256; ++b) {
        const char16_t expected = b >= 0x80 && b <= 0x9F ? high[b - 0x80] : char16_t(b);
        EXPECT_EQ(text.at(b).unicode(), expected) << std::hex << b;
        EXPECT_EQ(AnsiCode(text.at(b)), std::optional(static_cast<unsigned char>(b)))
            << std::hex << b;
    }
    EXPECT_EQ(ToAnsi(text), all);
}

} // namespace
} // namespace ufd
