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

// DATA PROTECT (key 7), ASC 0x27: the medium is write-protected.
constexpr uint32_t kWriteProtectedSense = 0x072700;

} // namespace

MediaIo::MediaIo(Transport& transport, int32_t handle, bool shareHub)
    : transport_(transport), handle_(handle),
      chunk_(std::min<uint32_t>(kMediaChunkSectors,
                                static_cast<uint32_t>(std::max(transport.MaxTransfer(handle), 1)))),
      gate_(shareHub ? HubGate::For(transport.Identity(handle).Hub.toStdString()) : nullptr) {}

template <typename Move> bool MediaIo::Transfer(Move move) {
    const bool wait = gate_ != nullptr && !timing_;
    if (wait) {
        gate_->EnterShared();
    }
    const bool ok = move() != 0;
    if (wait) {
        gate_->LeaveShared();
    }
    writeProtected_ = !ok && (transport_.LastSense(handle_) & 0xFFFF00) == kWriteProtectedSense;
    return ok;
}

bool MediaIo::WriteSectors(uint64_t first, std::span<const uint8_t> data) {
    return Fits(first, data.size()) && Transfer([&] {
               return transport_.Write(handle_,
                                       static_cast<int32_t>(data.size() / kPatternSectorBytes),
                                       static_cast<int32_t>(first), data.data());
           });
}

bool MediaIo::ReadSectors(uint64_t first, std::span<uint8_t> data) {
    return Fits(first, data.size()) && Transfer([&] {
               return transport_.ReadData(handle_,
                                          static_cast<int32_t>(data.size() / kPatternSectorBytes),
                                          static_cast<int32_t>(first), data.data());
           });
}

void MediaIo::BeginTimed() {
    if (gate_ != nullptr && !timing_) {
        gate_->EnterAlone();
    }
    timing_ = true;
}

void MediaIo::EndTimed() {
    if (gate_ != nullptr && timing_) {
        gate_->LeaveAlone();
    }
    timing_ = false;
}

} // namespace ufd
