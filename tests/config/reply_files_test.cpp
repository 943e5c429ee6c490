#include "config/ansi.h"
#include "config/reply_files.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <numeric>

namespace ufd {
namespace {

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
