#include "flash_model.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace quorlink::sim {

FlashModel::FlashModel(FlashProfile profile) : profile_(std::move(profile)) {
    std::sort(profile_.badSectors.begin(), profile_.badSectors.end());
    profile_.badSectors.erase(std::unique(profile_.badSectors.begin(), profile_.badSectors.end()),
                              profile_.badSectors.end());
}

uint64_t FlashModel::physical(uint64_t lba) const {
    return profile_.flashSectors == 0 ? lba : lba % profile_.flashSectors;
}

template <typename Io> bool FlashModel::eachRun(uint64_t lba, uint64_t count, Io io) const {
    uint64_t done = 0;
    while (done < count) {
        const uint64_t phys = physical(lba + done);
        uint64_t run = count - done;
        if (profile_.flashSectors != 0) {
            run = std::min(run, profile_.flashSectors - phys);
        }
        if (!io(phys * kSectorBytes, done * kSectorBytes, run * kSectorBytes)) {
            return false;
        }
        done += run;
    }
    return true;
}

bool FlashModel::write(BlockStore& store, uint64_t lba, std::span<const uint8_t> data) const {
    return eachRun(
        lba, data.size() / kSectorBytes, [&](uint64_t at, uint64_t from, uint64_t bytes) {
            auto run = data.subspan(from, bytes);
            const uint64_t first = at / kSectorBytes;
            auto it =
                std::lower_bound(profile_.badSectors.begin(), profile_.badSectors.end(), first);
            if (it == profile_.badSectors.end() || *it >= first + bytes / kSectorBytes) {
                return store.writeAt(at, run);
            }
            // A bad sector keeps the inverse of what it was given: never what was
            // written, and never a block of zeros that could pass for an erased one.
            std::vector<uint8_t> spoiled(run.begin(), run.end());
            for (; it != profile_.badSectors.end() && *it < first + bytes / kSectorBytes; ++it) {
                const auto sector =
                    std::span(spoiled).subspan((*it - first) * kSectorBytes, kSectorBytes);
                std::transform(sector.begin(), sector.end(), sector.begin(),
                               [](uint8_t b) { return static_cast<uint8_t>(~b); });
            }
            return store.writeAt(at, spoiled);
        });
}

bool FlashModel::read(BlockStore& store, uint64_t lba, std::span<uint8_t> data) const {
    return eachRun(lba, data.size() / kSectorBytes,
                   [&](uint64_t at, uint64_t from, uint64_t bytes) {
                       return store.readAt(at, data.subspan(from, bytes));
                   });
}

std::chrono::microseconds FlashModel::transferTime(bool write, uint64_t bytes) const {
    const double mbps = write ? profile_.writeMBps : profile_.readMBps;
    if (mbps <= 0) {
        return std::chrono::microseconds(0);
    }
    return std::chrono::microseconds(
        static_cast<int64_t>(std::llround(static_cast<double>(bytes) / mbps)));
}

} // namespace quorlink::sim
