// What the station reads from files and how it waits: Product.ini as the line
// reads it, the library's reply files, the Windows-1252 page, the wait and the
// program directory, with and without a Qt application object (see main).
#include "support/test_common.h"

#include "config/ansi.h"
#include "config/leading_number.h"
#include "config/product_config.h"
#include "config/program_directory.h"
#include "config/reply_files.h"
#include "config/wait_seconds.h"
#include "platform/clock.h"
#include "platform/message_box.h"

#include <QCoreApplication>
#include <QLocale>
#include <QTemporaryDir>
#include <QTimer>

#include <numeric>

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
const std::string kNoFields = "scsi /, vid , pid , usb /, shares 0/0, mode 0, label ";
const std::string kShares = "[PARTITION STATUS]|ParNum=1|1st=1|2nd=0";
const std::string kReadFailed = "Open product.ini failed";

// The good file's fields with one part changed.
std::string Changed(const std::string& from, const std::string& to) {
    return std::string(kGoodFields).replace(kGoodFields.find(from), from.size(), to);
}

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
    return QByteArray::fromStdString(text).replace('|', end).toStdString();
}

// Reads `file` as Product.ini: the result, the fields and the boxes shown,
// each the program's stop box or said otherwise.
std::tuple<int, std::string, std::string> ReadIni(const fs::path& file) {
    std::string boxes;
    SetMessageBoxHandler([&boxes](const MessageBoxRequest& r) {
        const bool stop = r.style == kStyleStop && r.title == QString("UFD Manufacture Program");
        boxes += std::string(boxes.empty() ? "" : " | ") + (stop ? "" : "not a stop box: ") +
                 r.text.toStdString();
        return kAnswerOk;
    });
    ProductConfig c;
    const int result = ReadProductConfig(c, file);
    SetMessageBoxHandler({});
    const auto share = [](double s) {
        return QString::number(s, 'g', QLocale::FloatingPointShortest);
    };
    return {result,
            QString("scsi %1/%2, vid %3, pid %4, usb %5/%6, shares %7/%8, mode %9, label %10")
                .arg(c.ScsiManufactureString, c.ScsiProductString, c.Vid, c.Pid,
                     c.UsbManufactureString, c.UsbProductString, share(c.FirstShare),
                     share(c.SecondShare), QString::number(c.ApMode), c.DiskLabel)
                .toStdString(),
            boxes};
}

struct IniCase {
    const char* name;
    std::string bytes;
    int result;
    std::string fields, boxes;
    bool comma = false; // read by a user who writes "0,3"
};

// A failing line comes last, so that every field the good file sets is set.
TEST(ProductIni, ResultFieldsAndBoxes) {
    const int G = kConfigGood, U = kConfigUnreadable, W = kConfigSharesWrong;
    const std::string fail = kReadFailed, shares = "[PARTITION STATUS]|";
    // clang-format off
    const IniCase cases[] = {
        {"CrOnlyAndNoEndOnTheLastLine", File("", "", "\r").erase(kGood.size() - 1), G, kGoodFields, ""},
        {"SharesOutsideZeroToOne", File(kShares, shares + "1st=1.5|2nd=-0.5"), G, Changed("shares 1/0", "shares 1.5/-0.5"), ""},
        {"LfOnlyIsOneLine", File("; a product of the line", "", "\n"), W, kNoFields, ""},
        {"ParNumThree", File() + "[PARTITION STATUS]\r\nParNum=3\r\n", U, kGoodFields, "Error Partition Number | " + fail},
        {"ParNumSevenCharacters", File() + "[PARTITION STATUS]\r\nParNum=", U, kGoodFields, fail},
        {"ApModeOverflowsInt16", File() + "[APPLICATION MODE]\r\nApMode=40000", U, kGoodFields, fail},
        {"EmptyLineInsideASection", File("PID=4567", "PID=4567|"), G, Changed("pid 4567", "pid "), ""},
        // Other case or a trailing blank: the lines after count for the
        // section before ([APPLICATION MODE] takes only ApMode).
        {"HeaderInOtherCase", File("[DISK LABEL]", "[Disk Label]"), G, Changed("label UFDISK", "label "), ""},
        {"HeaderWithATrailingBlank", File("[SCSI PRODUCT STRING]", "[SCSI PRODUCT STRING] "), G, Changed("scsi ACME/Flash Disk", "scsi Flash Disk/"), ""},
        {"EmptyFile", "", U, kNoFields, fail},
        {"Windows1252VidPidAndRepeats",
         File("UFDISK", "UFDISK|[APPLICATION MODE]|ApMode=2.5|[VID/PID]|VIDx01234567|PID=45|[DISK LABEL]|M\xDCLLER \x80"), G,
         "scsi ACME/Flash Disk, vid 0123, pid 45, usb Acme Corp/Acme Stick, shares 1/0, mode 2, label MÜLLER €", ""},
        {"ValuesBeforeAnyHeaderAreIgnored", File("; a product of the line", "ACME|VID=9999"), G, kGoodFields, ""},
        // Reading stops at a failure and keeps what was read.
        {"StopsAtAFailure", "[DISK LABEL]\r\nM\xDCLLER\r\n[PARTITION STATUS]\r\n1st=?\r\n[DISK LABEL]\r\nSECOND\r\n",
         U, kNoFields + "MÜLLER", fail},
        // ApMode always reads "." as the decimal point.
        {"SharesWithTheDecimalComma", File(kShares, shares + "1st=0,3|2nd=0,7") + "[APPLICATION MODE]\r\nApMode=2.5\r\n",
         G, Changed("shares 1/0, mode 1", "shares 0.3/0.7, mode 2"), "", true},
        {"APointIsNoDecimalPoint", File(kShares, shares + "1st=0.5|2nd=0.5"),
         U, Changed("shares 1/0, mode 1, label UFDISK", "shares 0/0, mode 0, label "), fail, true},
    };
    // clang-format on
    const bool comma = std::string_view(UFD_TEST_LOCALE) != "C";
    ASSERT_EQ(QLocale::system().decimalPoint(), comma ? "," : ".");
    for (const IniCase& c : cases) {
        if (c.comma != comma) {
            continue;
        }
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const fs::path file = dir.filePath("Product.ini").toStdString();
        std::ofstream(file, std::ios::binary) << c.bytes;
        EXPECT_EQ(ReadIni(file), std::tuple(c.result, c.fields, c.boxes));
    }
}

// ApMode and the drive's capacity line share this reading of a number.
TEST(LeadingNumber, NumberAtTheStartWithAPoint) {
    // clang-format off
    const std::pair<const char*, std::optional<double>> cases[] = {
        {"4096000", 4096000}, {" \t-12.5 MB", -12.5}, {"+3.", 3}, {"0.03e2", 3}, {"2d2", 200},
        {".5x", 0.5}, {"abc", 0}, {"1e-400", 0}, {"4,5", 4}, {"1e400", std::nullopt}};
    // clang-format on
    for (const auto& [text, value] : cases) {
        EXPECT_EQ(LeadingNumber(text), value) << text;
    }
}

// The first line goes to the selector's text, the other text stays, and the
// file is gone; an empty or missing file keeps both.
TEST(ReplyFiles, LineIntoTheSelectedTextBlockIntoTheBufferFileGone) {
    QTemporaryDir dir;
    ReplyFiles replies{dir.filePath("quorlink.txt").toStdString(),
                       dir.filePath("quorlink.bin").toStdString()};
    // clang-format off
    const int16_t D = kDeviceLineSelector;
    const std::tuple<int16_t, std::optional<std::string>, std::string> cases[] = {
        {D, "", "old|old"},
        {D, "7813119", "7813119|old"},
        {D, "7813119\nsecond\n", "7813119|old"},
        {D, "7813119\rsecond", "7813119|old"},
        {D, "\r\nsecond", "|old"},
        {D, "ger\xE4t \x80\x9F", "gerät €Ÿ|old"},
        {5, std::nullopt, "old|old"},
        {999, "15633407\r\n", "old|15633407"}};
    // clang-format on
    for (const auto& [selector, bytes, texts] : cases) {
        if (bytes) {
            std::ofstream(replies.TextFile(), std::ios::binary) << *bytes;
        }
        replies.DeviceLine = replies.CapacityText = "old";
        replies.ReadReplyLine(selector);
        EXPECT_EQ((replies.DeviceLine + "|" + replies.CapacityText).toStdString(), texts);
        EXPECT_FALSE(fs::exists(replies.TextFile())) << texts;
    }
    // The block is the file's bytes, then zeros, and the rest untouched.
    for (const int size : {-1, 0, 100, 511, 1500}) { // -1: no file
        const QByteArray bytes =
            QByteArray("1234567").repeated(size / 7 + 1).left(std::max(size, 0));
        if (size >= 0) {
            std::ofstream(replies.BinaryFile(), std::ios::binary) << bytes.toStdString();
        }
        std::fill(replies.ReplyBuffer.begin(), replies.ReplyBuffer.end(), 0xCD);
        replies.ReadReplyBlock();
        const QByteArray want = bytes.left(kReplyBlockSize).leftJustified(kReplyBlockSize, '\0') +
                                QByteArray(kReplyBufferSize - kReplyBlockSize, '\xCD');
        EXPECT_EQ(replies.ReplyBuffer, std::vector<uint8_t>(want.begin(), want.end())) << size;
        EXPECT_FALSE(fs::exists(replies.BinaryFile()));
    }
}

TEST(Ansi, EveryByteDecodesAsWindows1252AndEncodesBack) {
    // Code points published for the page from byte 0x80; the other bytes are
    // their own code points.
    const std::u16string high = u"€\u0081‚ƒ„…†‡ˆ‰Š‹Œ\u008DŽ\u008F\u0090‘’“”•–—˜™š›œ\u009DžŸ";
    QByteArray all(256, 0);
    std::iota(all.begin(), all.end(), char(0));
    const QString page =
        QString::fromLatin1(all).replace(0x80, 32, QString::fromStdU16String(high));
    EXPECT_EQ(FromAnsi(all), page);
    EXPECT_EQ(ToAnsi(page), all);
}

// Readings given one by one (reading past them throws); the pump only counts.
struct Scripted final : Clock, EventPump {
    float SecondsSinceMidnight() override { return readings.at(reads++); }
    void ProcessPending() override {}
    void WaitForEvents(int ms) override { waits.push_back(ms); }
    std::vector<float> readings;
    size_t reads = 0;
    std::vector<int> waits;
};

// Each pump wait asks for the time left less one step of the clock's reading
// (1 ms, or the float's own step), rounded down, at least 1 ms.
TEST(WaitSeconds, ReturnsAtTheFirstReadingPastTheWait) {
    // Seconds, the clock's readings (the start first; the last one ends the
    // wait) and the pump's waits.
    // clang-format off
    const std::tuple<float, std::vector<float>, std::vector<int>> cases[] = {
        {0.f, {100.f, 100.f, 100.f, 100.001f}, {1, 1}},         // zero returns once the clock moved
        {0.001f, {86000.f, 86000.f, 86000.0078125f}, {1}},      // single precision steps
        {0.1f, {1000.f, 1000.f, 1000.099f, 1000.101f}, {99, 1}}, // never sleeps past the deadline
        {0.1f, {86399.95f, 86399.99f, 0.02f, 0.06f}, {53, 21}}, // midnight or a clock set back adds a day
        {-1.f, {10.f, 10.f}, {}},                               // a negative wait is no wait
        {NAN, {10.f, 10.f, 10.5f}, {1}}};                       // so is not a number
    // clang-format on
    for (const auto& [seconds, readings, waits] : cases) {
        Scripted s;
        s.readings = readings;
        ASSERT_NO_THROW(WaitSeconds(seconds, s, s)) << readings[0];
        EXPECT_EQ(std::pair(s.reads, s.waits), std::pair(readings.size(), waits)) << readings[0];
    }
}

// A timer, an event posted before and one posted from another thread while
// the wait is blocked: each runs once during the wait.
TEST(WaitSecondsWithQt, TimersAndPostedEventsRunDuringTheWait) {
    QObject receiver;
    int ran = 0;
    const auto post = [&] { QTimer::singleShot(0, &receiver, [&] { ++ran; }); }; // posts an event
    QTimer::singleShot(20, [&] { ++ran; });
    post();
    std::thread poster([&] { std::this_thread::sleep_for(50ms), post(); });
    WaitSeconds(0.3f);
    poster.join();
    EXPECT_EQ(ran, 3);
}

TEST(ProgramDirectory, ExactlyOneTrailingSeparator) {
    // clang-format off
    const std::pair<QString, QString> cases[] = {{"/", "/"}, {"/opt/station", "/opt/station/"},
        {"/opt/station/", "/opt/station/"}, {"/opt/station///", "/opt/station/"}, {"//", "/"}};
    // clang-format on
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(WithTrailingSeparator(in), out) << in.toStdString();
    }
}

// The tools' view of the same services: the program directory from the
// running executable, boxes answered with the default button.
TEST(NoApplication, ProgramDirectoryAndBoxes) {
    if (QCoreApplication::instance() != nullptr) {
        GTEST_SKIP() << "runs alone, as ctest runs it: main makes no application for it";
    }
    EXPECT_EQ(ProgramDirectory().toStdString(),
              fs::read_symlink("/proc/self/exe").parent_path().string() + "/");
    EXPECT_EQ(std::vector({ShowMessageBox("Open product.ini failed", kStyleStop),
                           ShowMessageBox("No items checked", kStyleExclamation, QString("t")),
                           ShowMessageBox("Clear?", kStyleYesNoInfo)}),
              std::vector({kAnswerOk, kAnswerOk, kAnswerNo}));
}

} // namespace
} // namespace ufd

int main(int argc, char** argv) {
    // Numbers in Product.ini follow the user's format; each program pins its
    // locale so "0.3" means the same on every machine.
    qputenv("LC_ALL", UFD_TEST_LOCALE);
    testing::InitGoogleTest(&argc, argv);
    std::optional<QCoreApplication> app;
    if (!std::string_view(GTEST_FLAG_GET(filter)).starts_with("NoApplication.")) {
        app.emplace(argc, argv);
    }
    return RUN_ALL_TESTS();
}
