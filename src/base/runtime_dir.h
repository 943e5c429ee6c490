// Where runtime-private files live (reply files, locks, sockets): in a
// directory nobody else can have made or changed. Plain POSIX, no Qt, so the
// transport library shares it with the station and the monitor.
#pragma once

#include "base/unique_fd.h"

#include <filesystem>
#include <string>

namespace ufd {

struct PrivateDirectory {
    std::filesystem::path path;
    // Why the directory must not be used, naming it; empty when it is fit.
    std::string refusal;
    bool ok() const { return refusal.empty(); }
};

// Creates dir (mode 0700) when it is missing, then checks it: a directory,
// not a symbolic link, owned by this user, closed to everyone else.
PrivateDirectory CheckPrivateDirectory(const std::filesystem::path& dir);

// $XDG_RUNTIME_DIR/quorlink, else /tmp/quorlink-<uid>; checked at every call,
// since another user may have made the /tmp one before us.
PrivateDirectory RuntimeDirectory();

// Opens a new file for writing: never follows a link and never opens a file
// that is already there (a planted FIFO, a link to somebody's file). Holds
// nothing, with errno set, on failure.
UniqueFd CreateNewFile(const std::filesystem::path& file, unsigned mode = 0600);

} // namespace ufd
