#include "reply_writer.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace quorlink {
namespace {

std::filesystem::path replyDirectory() {
    if (const char* dir = std::getenv("QUORLINK_REPLY_DIR"); dir != nullptr && *dir != '\0') {
        return dir;
    }
    if (const char* run = std::getenv("XDG_RUNTIME_DIR"); run != nullptr && *run != '\0') {
        return std::filesystem::path(run) / "quorlink";
    }
    return std::filesystem::path("/tmp") / ("quorlink-" + std::to_string(getuid()));
}

void writeAtomically(const std::filesystem::path& file, const uint8_t* data, size_t size) {
    const std::string tmp = file.string() + ".tmp." + std::to_string(getpid());
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        return;
    }
    size_t done = 0;
    bool ok = true;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0) {
            ok = false;
            break;
        }
        done += static_cast<size_t>(n);
    }
    ok = (::close(fd) == 0) && ok;
    if (!ok || std::rename(tmp.c_str(), file.c_str()) != 0) {
        ::unlink(tmp.c_str());
    }
}

} // namespace

ReplyPaths replyPaths() {
    const auto dir = replyDirectory();
    std::error_code ec;
    if (!std::filesystem::exists(dir, ec)) {
        std::filesystem::create_directories(dir, ec);
        ::chmod(dir.c_str(), 0700);
    }
    return {dir / "quorlink.txt", dir / "quorlink.bin"};
}

void removeReply(const std::filesystem::path& file) {
    ::unlink(file.c_str());
}

void writeReply(const std::filesystem::path& file, std::span<const uint8_t> bytes,
                const Outcome& outcome) {
    switch (outcome.reply) {
    case ReplyShape::Missing:
        return;
    case ReplyShape::Short:
        bytes = bytes.first(std::min(bytes.size(), outcome.shortLength));
        break;
    case ReplyShape::Full:
        break;
    }
    writeAtomically(file, bytes.data(), bytes.size());
}

void writeTextReply(const std::filesystem::path& file, const std::string& line,
                    const Outcome& outcome) {
    const std::string text = line + "\r\n";
    writeReply(file, std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()),
               outcome);
}

} // namespace quorlink
