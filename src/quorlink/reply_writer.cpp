#include "reply_writer.h"

#include "base/runtime_dir.h"
#include "base/whole_file.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace quorlink {
namespace {

constexpr const char* kText = "quorlink.txt";
constexpr const char* kBinary = "quorlink.bin";

std::atomic<unsigned> nextThread{0};

// One thread's reply directory; removed when the thread ends (the main
// thread's at exit).
struct ThreadReplies {
    unsigned number = nextThread++;
    std::filesystem::path dir;
    pid_t owner = 0;

    ~ThreadReplies() { drop(); }
    void drop() {
        if (dir.empty() || owner != ::getpid()) {
            return;
        }
        for (const char* name : {kText, kBinary}) {
            ::unlink((dir / name).c_str());
        }
        ::rmdir(dir.c_str());
        dir.clear();
    }
};

thread_local ThreadReplies threadReplies;

// "<pid>-<n>" of a process that no longer runs.
bool endedProcessDirectory(const std::string& name) {
    const auto dash = name.find('-');
    if (dash == std::string::npos || dash == 0 || dash + 1 == name.size() ||
        name.find_first_not_of("0123456789-") != std::string::npos ||
        name.find('-', dash + 1) != std::string::npos) {
        return false;
    }
    const long pid = std::strtol(name.c_str(), nullptr, 10);
    return pid > 0 && pid != ::getpid() && ::kill(static_cast<pid_t>(pid), 0) != 0 &&
           errno == ESRCH;
}

// A process ended by a signal leaves its directories behind; the next one
// to use the base clears them, once.
void sweepEnded(const std::filesystem::path& base) {
    static std::mutex mutex;
    static std::set<std::filesystem::path> swept;
    std::lock_guard lock(mutex);
    if (!swept.insert(base).second) {
        return;
    }
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(base, ec)) {
        struct stat info {};
        if (endedProcessDirectory(entry.path().filename().string()) &&
            ::lstat(entry.path().c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
            info.st_uid == ::geteuid()) {
            std::filesystem::remove_all(entry.path(), ec);
        }
    }
}

ufd::PrivateDirectory replyBase() {
    if (const char* dir = std::getenv("QUORLINK_REPLY_DIR"); dir != nullptr && *dir != '\0') {
        // The caller's choice; only the per-thread directory inside must be
        // private.
        std::error_code ec;
        std::filesystem::create_directories(dir, ec);
        if (!std::filesystem::is_directory(dir, ec)) {
            return {dir, std::string("Reply directory ") + dir + " refused: not a directory"};
        }
        return {dir, {}};
    }
    return ufd::RuntimeDirectory();
}

void sayOnce(const std::string& refusal) {
    static std::atomic<bool> said{false};
    if (!said.exchange(true)) {
        std::fprintf(stderr, "quorlink: %s\n", refusal.c_str());
    }
}

// An empty string when the file was written, else why not.
std::string writeAtomically(const std::filesystem::path& file, const uint8_t* data, size_t size) {
    // The directory is private to this thread: a temp file already there is
    // our own leftover from a crash.
    const std::string tmp = file.string() + ".tmp";
    ufd::UniqueFd fd = ufd::CreateNewFile(tmp);
    if (!fd && errno == EEXIST && ::unlink(tmp.c_str()) == 0) {
        fd = ufd::CreateNewFile(tmp);
    }
    if (!fd) {
        return std::string("reply file not written: ") + std::strerror(errno);
    }
    if (const int error = ufd::CommitWholeFile(std::move(fd), tmp, file.string(), data, size);
        error != 0) {
        return std::string("reply file not written: ") + std::strerror(error);
    }
    return {};
}

} // namespace

ReplyPaths replyPaths() {
    const ufd::PrivateDirectory base = replyBase();
    if (!base.ok()) {
        sayOnce(base.refusal);
        return {{}, {}, base.refusal};
    }
    ThreadReplies& mine = threadReplies;
    const auto dir = base.path / (std::to_string(::getpid()) + "-" + std::to_string(mine.number));
    if (mine.dir != dir) {
        mine.drop();
        sweepEnded(base.path);
        mine.dir = dir;
        mine.owner = ::getpid();
    }
    const ufd::PrivateDirectory checked = ufd::CheckPrivateDirectory(dir);
    if (!checked.ok()) {
        sayOnce(checked.refusal);
        return {{}, {}, checked.refusal};
    }
    return {dir / kText, dir / kBinary, {}};
}

void removeReply(const std::filesystem::path& file) {
    if (!file.empty()) {
        ::unlink(file.c_str());
    }
}

std::string writeReply(const std::filesystem::path& file, std::span<const uint8_t> bytes,
                       const Outcome& outcome) {
    if (file.empty()) {
        return "no reply file";
    }
    switch (outcome.reply) {
    case ReplyShape::Missing:
        return {};
    case ReplyShape::Short:
        bytes = bytes.first(std::min(bytes.size(), outcome.shortLength));
        break;
    case ReplyShape::Full:
        break;
    }
    return writeAtomically(file, bytes.data(), bytes.size());
}

std::string writeTextReply(const std::filesystem::path& file, const std::string& line,
                           const Outcome& outcome) {
    const std::string text = line + "\r\n";
    return writeReply(file, std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()),
                      outcome);
}

} // namespace quorlink
