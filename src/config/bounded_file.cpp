#include "config/bounded_file.h"

#include "base/regular_file.h"

namespace ufd {

std::optional<QByteArray> ReadBoundedFile(const std::filesystem::path& file, qint64 cap) {
    const RegularFileRead read = ReadRegularFile(file, cap < 0 ? 0 : static_cast<uintmax_t>(cap));
    if (read.result != RegularFileRead::Result::Read) {
        return std::nullopt;
    }
    return QByteArray(read.bytes.data(), static_cast<qsizetype>(read.bytes.size()));
}

} // namespace ufd
