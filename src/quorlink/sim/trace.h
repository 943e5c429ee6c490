// The simulator's trace: one JSON line per API call, appended.
#pragma once

#include "../executor.h"

#include <filesystem>

namespace quorlink::sim {

class TraceWriter {
public:
    explicit TraceWriter(const std::filesystem::path& file);
    ~TraceWriter();
    TraceWriter(const TraceWriter&) = delete;
    TraceWriter& operator=(const TraceWriter&) = delete;

    // {"fn":..,"drive":..,"args":[..],"status":..} plus, for fnQuorbus_Write,
    // "first", "count" and "data" (lower-case hex), and "reason" on failure.
    void write(const CallRecord& call);

private:
    int fd_ = -1;
};

std::string traceLine(const CallRecord& call);

} // namespace quorlink::sim
