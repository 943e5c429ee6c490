// The reply files: where they are and how a reply lands in them.
#pragma once

#include "command.h"

#include <filesystem>
#include <span>
#include <string>

namespace quorlink {

struct ReplyPaths {
    std::filesystem::path text;
    std::filesystem::path binary;
};

// $QUORLINK_REPLY_DIR, else $XDG_RUNTIME_DIR/quorlink, else /tmp/quorlink-<uid>;
// the directory is created (0700) when missing.
ReplyPaths replyPaths();

// Removes a stale reply so that a call without an answer leaves no file.
void removeReply(const std::filesystem::path& file);
// Writes the reply atomically (temp file + rename), shaped as the executor
// said: Missing writes nothing, Short only the first bytes.
void writeReply(const std::filesystem::path& file, std::span<const uint8_t> bytes,
                const Outcome& outcome);
void writeTextReply(const std::filesystem::path& file, const std::string& line,
                    const Outcome& outcome);

} // namespace quorlink
