// The trace of API calls, the same for both backends: one JSON line per call,
// appended.
#pragma once

#include "executor.h"

#include <filesystem>
#include <string>

namespace quorlink {

// {"fn":..,"drive":..,"args":[..],"status":..} plus, for fnQuorbus_Write,
// "first", "count" and "data" (lower-case hex), "reason" on failure (or on a
// release that could not flush), and the wall-clock "time" (UTC).
std::string traceLine(const CallRecord& call);

// $XDG_STATE_HOME/quorlink/trace.jsonl, else ~/.local/state/quorlink/...,
// else beside the reply files.
std::filesystem::path defaultTraceFile();

class TraceWriter {
public:
    TraceWriter(const std::filesystem::path& file, bool failuresOnly);
    ~TraceWriter();
    TraceWriter(const TraceWriter&) = delete;
    TraceWriter& operator=(const TraceWriter&) = delete;

    void write(const CallRecord& call);

private:
    int fd_ = -1;
    bool failuresOnly_;
};

} // namespace quorlink
