#include "trace.h"

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <unistd.h>

namespace quorlink::sim {

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
    if (call.status == 0 && !call.reason.empty()) {
        j["reason"] = call.reason;
    }
    return j.dump() + "\n";
}

TraceWriter::TraceWriter(const std::filesystem::path& file) {
    std::error_code ec;
    std::filesystem::create_directories(file.parent_path(), ec);
    fd_ = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}

TraceWriter::~TraceWriter() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void TraceWriter::write(const CallRecord& call) {
    if (fd_ < 0) {
        return;
    }
    // One write per line: O_APPEND keeps lines whole across processes.
    const std::string line = traceLine(call);
    size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(fd_, line.data() + done, line.size() - done);
        if (n <= 0) {
            return;
        }
        done += static_cast<size_t>(n);
    }
}

} // namespace quorlink::sim
