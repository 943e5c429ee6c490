// A file replaced whole or not at all, for the small state and reply files
// other processes read while they are being written.
#pragma once

#include "base/unique_fd.h"

#include <cstddef>
#include <string>

namespace ufd {

// Writes every byte of `data` to `fd` (a new temp file the caller opened at
// `tmp`), on disk first when `durable`, closes it and renames it over
// `target`. Returns 0, or the errno of the first step that failed; then the
// temp file is gone and `target` untouched. A short write that makes no
// progress counts as a full disk.
int CommitWholeFile(UniqueFd fd, const std::string& tmp, const std::string& target,
                    const void* data, size_t size, bool durable = false);

} // namespace ufd
