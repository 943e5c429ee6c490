// The readers and libquorlink must agree on where replies are.
#include "config/reply_files.h"

#include <quorlink/quorlink.h>

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <fstream>

namespace ufd {
namespace {

TEST(DefaultReplyPaths, AreTheLibrarysPaths) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_EQ(::setenv("QUORLINK_REPLY_DIR", dir.path().toLocal8Bit().constData(), 1), 0);
    std::array<char, 4096> text{};
    std::array<char, 4096> bin{};
    ASSERT_EQ(quorlink_reply_paths(text.data(), text.size(), bin.data(), bin.size()), 1);

    ReplyFiles replies;
    EXPECT_EQ(replies.TextFile(), std::filesystem::path(text.data()));
    EXPECT_EQ(replies.BinaryFile(), std::filesystem::path(bin.data()));
    EXPECT_EQ(replies.TextFile().parent_path(), std::filesystem::path(dir.path().toStdString()));
    EXPECT_EQ(replies.TextFile().filename(), "quorlink.txt");
    EXPECT_EQ(replies.BinaryFile().filename(), "quorlink.bin");

    std::ofstream(replies.TextFile(), std::ios::binary) << "USBSTOR\r\n";
    replies.ReadReplyLine(kDeviceLineSelector);
    EXPECT_EQ(replies.DeviceLine, "USBSTOR");
}

} // namespace
} // namespace ufd
