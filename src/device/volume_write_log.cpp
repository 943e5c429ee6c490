#include "device/volume_write_log.h"

#include "device/block_pattern.h"

#include <set>

namespace ufd {

uint64_t SectorHash(const uint8_t* sector) {
    // FNV-1a, 64 bits: a changed byte changes it.
    uint64_t h = 0xCBF2'9CE4'8422'2325ULL;
    for (uint32_t i = 0; i < kPatternSectorBytes; ++i) {
        h = (h ^ sector[i]) * 0x0000'0100'0000'01B3ULL;
    }
    return h;
}

uint16_t VolumeWriteLog::Write(int32_t handle, int32_t sectorCount, int32_t firstSector,
                               const void* data) {
    const uint16_t status = inner_.Write(handle, sectorCount, firstSector, data);
    if (status != 0 && sectorCount > 0 && firstSector >= 0 && data != nullptr) {
        LoggedWrite w;
        w.first = static_cast<uint64_t>(firstSector);
        const auto* bytes = static_cast<const uint8_t*>(data);
        for (int32_t k = 0; k < sectorCount; ++k) {
            w.sectorHashes.push_back(
                SectorHash(bytes + static_cast<size_t>(k) * kPatternSectorBytes));
        }
        writes_.push_back(std::move(w));
    }
    return status;
}

std::vector<LoggedWrite> VolumeWriteLog::LastWrites() const {
    // From the last write back: a sector already seen was written again later.
    std::set<uint64_t> seen;
    std::vector<LoggedWrite> out;
    for (auto w = writes_.rbegin(); w != writes_.rend(); ++w) {
        LoggedWrite run;
        auto flush = [&] {
            if (!run.sectorHashes.empty()) {
                out.push_back(std::move(run));
            }
            run = {};
        };
        for (size_t k = 0; k < w->sectorHashes.size(); ++k) {
            const uint64_t sector = w->first + k;
            if (!seen.insert(sector).second) {
                flush();
                continue;
            }
            if (run.sectorHashes.empty()) {
                run.first = sector;
            }
            run.sectorHashes.push_back(w->sectorHashes[k]);
        }
        flush();
    }
    return {out.rbegin(), out.rend()};
}

} // namespace ufd
