// Reading a whole file a person names or the station keeps, with a bound: a
// FIFO would hang the reader, a device or a huge file would eat its memory.
// The one reader of station.conf, quorlink.conf, Product.ini and the journal.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace ufd {

struct RegularFileRead {
    enum class Result {
        Read,       // bytes holds the whole file
        Absent,     // no such file
        NotRegular, // a directory, a FIFO, a device, a socket
        TooLarge,   // more than the bound (said by its size, or found while read)
        Unreadable, // open or read failed: error holds errno
    };
    Result result = Result::Absent;
    std::string bytes;
    int error = 0;
};

// Opened without blocking, so even a FIFO is refused at once; read to its end,
// not to the size it had when opened, and refused as soon as it passes cap.
RegularFileRead ReadRegularFile(const std::filesystem::path& file, uintmax_t cap);

} // namespace ufd
