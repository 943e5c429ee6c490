#include "device/media_io.h"

#include "device/block_pattern.h"

#include <algorithm>
#include <limits>

namespace ufd {

namespace {

// The transport's addresses are int32: a range past them is a failed transfer.
bool Fits(uint64_t first, size_t bytes) {
    constexpr auto kMax = static_cast<uint64_t>(std::numeric_limits<int32_t>::max());
    return bytes % kPatternSectorBytes == 0 && bytes > 0 && first <= kMax &&
           bytes / kPatternSectorBytes <= kMax;
}

} // namespace

MediaIo::MediaIo(Transport& transport, int32_t handle)
    : transport_(transport), handle_(handle),
      chunk_(std::min<uint32_t>(
          kMediaChunkSectors, static_cast<uint32_t>(std::max(transport.MaxTransfer(handle), 1)))) {}

bool MediaIo::WriteSectors(uint64_t first, std::span<const uint8_t> data) {
    return Fits(first, data.size()) &&
           transport_.Write(handle_, static_cast<int32_t>(data.size() / kPatternSectorBytes),
                            static_cast<int32_t>(first), data.data()) != 0;
}

bool MediaIo::ReadSectors(uint64_t first, std::span<uint8_t> data) {
    return Fits(first, data.size()) &&
           transport_.ReadData(handle_, static_cast<int32_t>(data.size() / kPatternSectorBytes),
                               static_cast<int32_t>(first), data.data()) != 0;
}

} // namespace ufd
