#include "config/reply_files.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <ostream>

#include <filesystem>
#include <fstream>
#include <string>

namespace ufd {
namespace {

namespace fs = std::filesystem;

class ReplyFilesTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

    fs::path Path(const char* name) const { return dir_.filePath(name).toStdString(); }

    static void Write(const fs::path& file, const std::string& bytes) {
        std::ofstream(file, std::ios::binary) << bytes;
    }

    QTemporaryDir dir_;
    ReplyFiles replies{Path("quorlink.txt"), Path("quorlink.bin")};
};

struct LineCase {
    const char* name;
    std::string bytes;
    QString line;
};

void PrintTo(const LineCase& c, std::ostream* os) {
    *os << c.name;
}

class ReplyLineTest : public ReplyFilesTest, public ::testing::WithParamInterface<LineCase> {};

TEST_P(ReplyLineTest, FirstLineIntoDeviceLineAndFileGone) {
    const LineCase& c = GetParam();
    Write(replies.TextFile(), c.bytes);
    replies.DeviceLine = "stale";
    replies.ReadReplyLine(kDeviceLineSelector);
    EXPECT_EQ(replies.DeviceLine, c.line);
    EXPECT_FALSE(fs::exists(replies.TextFile()));
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ReplyLineTest,
    ::testing::Values(LineCase{"CrLf", "USBSTOR\\DISK&VEN_X\r\nsecond\r\n", "USBSTOR\\DISK&VEN_X"},
                      LineCase{"LfOnly", "7813119\nsecond\n", "7813119"},
                      LineCase{"CrOnly", "7813119\rsecond", "7813119"},
                      LineCase{"NoLineEnd", "7813119", "7813119"},
                      LineCase{"EmptyFirstLine", "\r\nsecond", ""},
                      LineCase{"EmptyFileKeepsTheOldText", "", "stale"},
                      LineCase{"Windows1252", "ger\xE4t \x80\x9F", QString::fromUtf8("gerät €Ÿ")}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ReplyFilesTest, SelectorChoosesTheTargetAndLeavesTheOther) {
    for (const int16_t selector :
         {int16_t{1}, int16_t{0}, int16_t{-1}, int16_t{999}, int16_t{1001}}) {
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
}

TEST_F(ReplyFilesTest, MissingTextFileKeepsBothTexts) {
    replies.DeviceLine = "device";
    replies.CapacityText = "capacity";
    replies.ReadReplyLine(kDeviceLineSelector);
    replies.ReadReplyLine(5);
    EXPECT_EQ(replies.DeviceLine, "device");
    EXPECT_EQ(replies.CapacityText, "capacity");
    EXPECT_FALSE(fs::exists(replies.TextFile()));
}

TEST_F(ReplyFilesTest, SelectorsDoNotShareAFile) {
    // One reply is consumed by exactly one read.
    Write(replies.TextFile(), "first\r\n");
    replies.ReadReplyLine(kDeviceLineSelector);
    replies.CapacityText = "before";
    replies.ReadReplyLine(3);
    EXPECT_EQ(replies.DeviceLine, "first");
    EXPECT_EQ(replies.CapacityText, "before");
}

// Fills the whole buffer with a marker so untouched bytes show.
void Mark(std::vector<uint8_t>& buffer, uint8_t value) {
    std::fill(buffer.begin(), buffer.end(), value);
}

struct BlockCase {
    const char* name;
    std::optional<size_t> fileSize; // nullopt: no file
};

void PrintTo(const BlockCase& c, std::ostream* os) {
    *os << c.name;
}

class ReplyBlockTest : public ReplyFilesTest, public ::testing::WithParamInterface<BlockCase> {};

TEST_P(ReplyBlockTest, FileBytesThenZerosAndTheRestUntouched) {
    const BlockCase& c = GetParam();
    std::string bytes;
    if (c.fileSize) {
        for (size_t i = 0; i < *c.fileSize; ++i) {
            bytes.push_back(static_cast<char>((i % 251) + 1)); // never 0
        }
        Write(replies.BinaryFile(), bytes);
    }
    Mark(replies.ReplyBuffer, 0xCD);
    replies.ReadReplyBlock();
    ASSERT_EQ(replies.ReplyBuffer.size(), kReplyBufferSize);
    for (size_t i = 0; i < kReplyBlockSize; ++i) {
        const uint8_t want = i < bytes.size() ? static_cast<uint8_t>(bytes[i]) : 0;
        ASSERT_EQ(replies.ReplyBuffer[i], want) << "byte " << i;
    }
    for (size_t i = kReplyBlockSize; i < kReplyBufferSize; ++i) {
        ASSERT_EQ(replies.ReplyBuffer[i], 0xCD) << "byte " << i;
    }
    EXPECT_FALSE(fs::exists(replies.BinaryFile()));
}

INSTANTIATE_TEST_SUITE_P(Sizes, ReplyBlockTest,
                         ::testing::Values(BlockCase{"Missing", std::nullopt},
                                           BlockCase{"Empty", 0}, BlockCase{"Short", 100},
                                           BlockCase{"OneShort", 511}, BlockCase{"Exact", 512},
                                           BlockCase{"Longer", 1500}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ReplyFilesTest, StaleBlockBytesAreClearedByAShortReply) {
    Write(replies.BinaryFile(), std::string(512, '\xFF'));
    replies.ReadReplyBlock();
    Write(replies.BinaryFile(), std::string(10, '\x11'));
    replies.ReadReplyBlock();
    EXPECT_EQ(replies.ReplyBuffer[9], 0x11);
    EXPECT_EQ(replies.ReplyBuffer[10], 0);
    EXPECT_EQ(replies.ReplyBuffer[511], 0);
}

TEST_F(ReplyFilesTest, BlockAndLineFilesAreIndependent) {
    Write(replies.TextFile(), "line\r\n");
    Write(replies.BinaryFile(), "\x01\x02");
    replies.ReadReplyBlock();
    EXPECT_TRUE(fs::exists(replies.TextFile()));
    replies.ReadReplyLine(kDeviceLineSelector);
    EXPECT_EQ(replies.DeviceLine, "line");
    EXPECT_EQ(replies.ReplyBuffer[0], 1);
}

TEST_F(ReplyFilesTest, DirectoryInPlaceOfTheReplyIsNoReply) {
    fs::create_directory(replies.BinaryFile());
    fs::create_directory(replies.TextFile());
    replies.ReplyBuffer[0] = 7;
    replies.DeviceLine = "kept";
    replies.ReadReplyBlock();
    replies.ReadReplyLine(kDeviceLineSelector);
    EXPECT_EQ(replies.ReplyBuffer[0], 0);
    EXPECT_EQ(replies.DeviceLine, "kept");
    EXPECT_TRUE(fs::is_directory(replies.BinaryFile()));
}

TEST_F(ReplyFilesTest, ShrunkBufferIsRestoredBeforeFilling) {
    replies.ReplyBuffer.resize(3);
    Write(replies.BinaryFile(), std::string(512, '\x22'));
    replies.ReadReplyBlock();
    ASSERT_GE(replies.ReplyBuffer.size(), kReplyBlockSize);
    EXPECT_EQ(replies.ReplyBuffer[511], 0x22);
}

} // namespace
} // namespace ufd
