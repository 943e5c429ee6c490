// Reading a whole file a user names, with a bound: a FIFO would hang the
// reader, a device or a huge file would eat its memory.
#pragma once

#include <QByteArray>

#include <filesystem>
#include <optional>

namespace ufd {

// The whole file, if it is a regular file of at most `cap` bytes; nothing
// otherwise (missing, unreadable, a FIFO, a device, too large). Opened
// without blocking, so even a FIFO is refused at once.
std::optional<QByteArray> ReadBoundedFile(const std::filesystem::path& file, qint64 cap);

} // namespace ufd
