// The two reply files the transport library leaves behind, and the
// program-wide buffers their readers fill. These readers are the only code
// that touches the files.
#pragma once

#include <QString>

#include <cstdint>
#include <filesystem>
#include <vector>

namespace ufd {

// ReadReplyLine's selector of the device line. Any other selector means the
// capacity line: the capacity step passes ReadCapacity's status on as it is,
// and the library's statuses (0 and 1) never equal this one.
inline constexpr int16_t kDeviceLineSelector = 1000;
inline constexpr size_t kReplyBufferSize = 65536;
inline constexpr size_t kReplyBlockSize = 512;

class ReplyFiles {
public:
    // The paths libquorlink writes to for the calling thread
    // (quorlink_reply_paths), asked at every read, so a worker thread reads
    // its own replies.
    ReplyFiles();
    ReplyFiles(std::filesystem::path textFile, std::filesystem::path binaryFile);

    // First line of the text reply into DeviceLine (kDeviceLineSelector) or
    // CapacityText (any other selector); the file is deleted. No file: the
    // target keeps its value.
    void ReadReplyLine(int16_t selector);
    // First 512 bytes of the binary reply into ReplyBuffer[0..511], missing
    // bytes 0; the file is deleted.
    void ReadReplyBlock();

    std::filesystem::path TextFile() const;
    std::filesystem::path BinaryFile() const;

    QString DeviceLine;
    QString CapacityText;
    std::vector<uint8_t> ReplyBuffer = std::vector<uint8_t>(kReplyBufferSize, 0);

private:
    std::filesystem::path textFile_;
    std::filesystem::path binaryFile_;
    bool perThread_ = false;
};

} // namespace ufd
