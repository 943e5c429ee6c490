#include "config/reply_files.h"

#include "config/ansi.h"

#include <QByteArray>

#include <algorithm>
#include <fstream>
#include <system_error>

namespace ufd {

namespace {

// Deleting a reply that is not there is not an error: the next call of the
// library must find no stale answer, and that is all that matters.
// A directory in the reply's place is left alone.
void RemoveQuietly(const std::filesystem::path& file) {
    std::error_code ignored;
    if (std::filesystem::is_directory(std::filesystem::symlink_status(file, ignored))) {
        return;
    }
    std::filesystem::remove(file, ignored);
}

} // namespace

ReplyFiles::ReplyFiles(std::filesystem::path textFile, std::filesystem::path binaryFile)
    : textFile_(std::move(textFile)), binaryFile_(std::move(binaryFile)) {}

void ReplyFiles::ReadReplyLine(int16_t selector) {
    QString& target = selector == kDeviceLineSelector ? DeviceLine : CapacityText;
    const std::filesystem::path file = TextFile();
    std::ifstream in(file, std::ios::binary);
    if (in) {
        QByteArray line;
        bool any = false;
        char c = 0;
        while (in.get(c)) {
            any = true;
            if (c == '\r' || c == '\n') {
                break;
            }
            line.append(c);
        }
        // An empty file has no first line: the read fails and the target
        // keeps what it had.
        if (any) {
            target = FromAnsi(line);
        }
    }
    in.close();
    RemoveQuietly(file);
}

void ReplyFiles::ReadReplyBlock() {
    if (ReplyBuffer.size() < kReplyBlockSize) {
        ReplyBuffer.resize(kReplyBufferSize, 0);
    }
    std::fill_n(ReplyBuffer.begin(), kReplyBlockSize, uint8_t{0});
    const std::filesystem::path file = BinaryFile();
    std::ifstream in(file, std::ios::binary);
    if (in) {
        in.read(reinterpret_cast<char*>(ReplyBuffer.data()),
                static_cast<std::streamsize>(kReplyBlockSize));
        // A short file leaves the rest of the block at 0; a failed read may
        // have stored part of it, which is what the file held.
    }
    in.close();
    RemoveQuietly(file);
}

} // namespace ufd
