#include "trace.h"

#include "base/runtime_dir.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorlink {
namespace {

std::string utcNow() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
    std::tm utc{};
    char text[40] = "";
    if (gmtime_r(&seconds, &utc) != nullptr) {
        const size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
        std::snprintf(text + n, sizeof text - n, ".%03dZ", static_cast<int>(ms.count()));
    }
    return text;
}

} // namespace

std::string traceLine(const CallRecord& call) {
    nlohmann::ordered_json j;
    j["fn"] = call.function;
    j["drive"] = call.driveIndex;
    auto args = nlohmann::ordered_json::array();
    for (const auto& [name, value] : call.arguments) {
        args.push_back(value);
    }
    j["args"] = args;
    j["status"] = call.status;
    if (call.function == "fnQuorbus_Write" && call.arguments.size() >= 3) {
        j["first"] = call.arguments[2].second;
        j["count"] = call.arguments[1].second;
        static const char* digits = "0123456789abcdef";
        std::string hex;
        hex.reserve(call.writeData.size() * 2);
        for (uint8_t b : call.writeData) {
            hex.push_back(digits[b >> 4]);
            hex.push_back(digits[b & 15]);
        }
        j["data"] = hex;
    }
    if (!call.reason.empty()) {
        j["reason"] = call.reason;
    }
    j["time"] = utcNow();
    // A reason may carry a path that is not UTF-8: replaced, never thrown.
    return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

std::filesystem::path defaultTraceFile() {
    if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && *state == '/') {
        return std::filesystem::path(state) / "quorlink" / "trace.jsonl";
    }
    if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/') {
        return std::filesystem::path(home) / ".local" / "state" / "quorlink" / "trace.jsonl";
    }
    // No home: the private runtime directory (nowhere, if it was refused).
    const ufd::PrivateDirectory run = ufd::RuntimeDirectory();
    return run.ok() ? run.path / "trace.jsonl" : std::filesystem::path();
}

TraceWriter::TraceWriter(const std::filesystem::path& file, bool failuresOnly,
                         std::optional<TraceLimits> limits)
    : file_(file), failuresOnly_(failuresOnly), limits_(limits) {
    if (file.empty()) {
        return;
    }
    std::error_code ec;
    std::filesystem::create_directories(file.parent_path(), ec);
    openFile();
}

TraceWriter::~TraceWriter() {
    closeFile();
}

void TraceWriter::openFile() {
    closeFile();
    // Never through a link planted at the name, never into a FIFO.
    fd_.reset(::open(file_.c_str(),
                     O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644));
    struct stat info {};
    if (fd_ && (::fstat(fd_.get(), &info) != 0 || !S_ISREG(info.st_mode))) {
        closeFile();
    }
}

void TraceWriter::closeFile() {
    fd_.reset();
}

void TraceWriter::rotateIfFull() {
    struct stat mine {};
    if (!limits_ || !fd_ || ::fstat(fd_.get(), &mine) != 0 ||
        static_cast<uint64_t>(mine.st_size) < limits_->maxBytes) {
        return;
    }
    // Only a full file is ever rotated, so a writer whose file went to .1
    // under it lands here too, and finds the name on another file.
    if (::flock(fd_.get(), LOCK_EX) != 0) {
        return;
    }
    struct stat live {};
    const bool stillLive = ::stat(file_.c_str(), &live) == 0 && live.st_ino == mine.st_ino &&
                           live.st_dev == mine.st_dev;
    if (stillLive) {
        const std::string base = file_.string() + ".";
        if (limits_->keep <= 0) {
            ::unlink(file_.c_str());
        } else {
            for (int i = limits_->keep - 1; i >= 1; --i) {
                ::rename((base + std::to_string(i)).c_str(),
                         (base + std::to_string(i + 1)).c_str());
            }
            ::rename(file_.c_str(), (base + "1").c_str());
        }
    }
    ::flock(fd_.get(), LOCK_UN);
    openFile();
}

void TraceWriter::write(const CallRecord& call) {
    // Discovery asks every index; an empty one is no failure worth keeping.
    // A call that succeeded with a reason (a release whose flush failed) is kept.
    if (!fd_ || (failuresOnly_ &&
                 ((call.status != 0 && call.reason.empty()) || call.reason == "no drive"))) {
        return;
    }
    // One write per line: O_APPEND keeps lines whole across processes, and a
    // trace that cannot be written never changes what the call answered.
    const std::string line = traceLine(call);
    rotateIfFull();
    if (!fd_) {
        return;
    }
    size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(fd_.get(), line.data() + done, line.size() - done);
        if (n <= 0) {
            return;
        }
        done += static_cast<size_t>(n);
    }
}

} // namespace quorlink
