// The bounded reader of a regular file (base/regular_file.h) for the readers
// that want Qt's bytes and only whether the file could be read: Product.ini
// and its hash in the run records.
#pragma once

#include <QByteArray>

#include <filesystem>
#include <optional>

namespace ufd {

// The whole file, if it is a regular file of at most `cap` bytes; nothing
// otherwise (missing, unreadable, a FIFO, a device, too large).
std::optional<QByteArray> ReadBoundedFile(const std::filesystem::path& file, qint64 cap);

} // namespace ufd
