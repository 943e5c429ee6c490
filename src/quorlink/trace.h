// The trace of API calls, the same for both backends: one JSON line per call,
// appended.
#pragma once

#include "base/unique_fd.h"
#include "executor.h"

#include <filesystem>
#include <optional>
#include <string>

namespace quorlink {

// {"fn":..,"drive":..,"args":[..],"status":..} plus, for fnQuorbus_Write,
// "first", "count" and "data" (lower-case hex), "reason" on failure (or on a
// release that could not flush), and the wall-clock "time" (UTC).
std::string traceLine(const CallRecord& call);

// $XDG_STATE_HOME/quorlink/trace.jsonl, else ~/.local/state/quorlink/...,
// else beside the reply files.
std::filesystem::path defaultTraceFile();

// Past limits->maxBytes the live file becomes FILE.1 (FILE.1 becomes .2, ...
// up to limits->keep, the oldest dropped) and a fresh one is begun. Several
// processes may append to one trace: whoever rotates holds the live file's
// lock, and a writer whose file was rotated under it moves to the new one.
// No limits: the file only grows.
class TraceWriter {
public:
    TraceWriter(const std::filesystem::path& file, bool failuresOnly,
                std::optional<TraceLimits> limits = std::nullopt);
    ~TraceWriter();
    TraceWriter(const TraceWriter&) = delete;
    TraceWriter& operator=(const TraceWriter&) = delete;

    void write(const CallRecord& call);

private:
    void openFile();
    void closeFile();
    void rotateIfFull();

    std::filesystem::path file_;
    ufd::UniqueFd fd_;
    bool failuresOnly_;
    std::optional<TraceLimits> limits_;
};

} // namespace quorlink
