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
    // Why no reply can be written (the directory failed its check); empty
    // when the paths are fit for use.
    std::string refusal;
};

// The calling thread's own reply files, so that neither two processes nor
// two workers of one process ever read each other's replies:
// <base>/<pid>-<n>/quorlink.txt and .bin, n counting the threads that asked.
// Base: $QUORLINK_REPLY_DIR, else the private runtime directory. The
// thread's directory is made 0700 and checked at every call; it goes away
// with its thread, and those of ended processes with the next process that
// uses the base.
ReplyPaths replyPaths();

// Removes a stale reply so that a call without an answer leaves no file.
void removeReply(const std::filesystem::path& file);
// Writes the reply atomically (new temp file + rename), shaped as the
// executor said: Missing writes nothing, Short only the first bytes. An
// empty string when the reply is as shaped, else why it could not be
// written (a full disk, a file size limit): the call must then fail, or
// its caller would read an old reply or none as this one.
std::string writeReply(const std::filesystem::path& file, std::span<const uint8_t> bytes,
                       const Outcome& outcome);
std::string writeTextReply(const std::filesystem::path& file, const std::string& line,
                           const Outcome& outcome);

} // namespace quorlink
