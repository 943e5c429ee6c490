#include "config/reply_files.h"

#include <quorlink/quorlink.h>

#include <array>

namespace ufd {

namespace {

std::filesystem::path ReplyPath(bool binary) {
    std::array<char, 4096> text{};
    std::array<char, 4096> bin{};
    if (quorlink_reply_paths(text.data(), text.size(), bin.data(), bin.size()) == 0) {
        return {}; // no path: every read finds "no reply", as for a missing file
    }
    return binary ? std::filesystem::path(bin.data()) : std::filesystem::path(text.data());
}

} // namespace

ReplyFiles::ReplyFiles() : perThread_(true) {}

std::filesystem::path ReplyFiles::TextFile() const {
    return perThread_ ? ReplyPath(false) : textFile_;
}

std::filesystem::path ReplyFiles::BinaryFile() const {
    return perThread_ ? ReplyPath(true) : binaryFile_;
}

} // namespace ufd
