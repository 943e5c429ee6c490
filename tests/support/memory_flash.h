// A sparse in-memory flash for the flash model: only sectors written take
// room, the rest read as zeros.
#pragma once

#include "flash_model.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <unordered_map>

namespace ufd::test {

class MemoryFlash final : public quorlink::sim::BlockStore {
public:
    bool readSectors(uint64_t first, std::span<uint8_t> data) override {
        for (size_t k = 0; k < data.size() / 512; ++k) {
            const auto it = sectors.find(first + k);
            const uint8_t* from = it == sectors.end() ? kZeros.data() : it->second.data();
            std::copy_n(from, 512, data.begin() + static_cast<ptrdiff_t>(k * 512));
        }
        ++reads;
        return true;
    }
    bool writeSectors(uint64_t first, std::span<const uint8_t> data) override {
        for (size_t k = 0; k < data.size() / 512; ++k) {
            const auto from = data.begin() + static_cast<ptrdiff_t>(k * 512);
            // A sector of zeros takes no room, as a hole in an image.
            if (std::all_of(from, from + 512, [](uint8_t b) { return b == 0; })) {
                sectors.erase(first + k);
            } else {
                std::copy_n(from, 512, sectors[first + k].begin());
            }
        }
        ++writes;
        return true;
    }
    bool AllZero() const {
        return std::all_of(sectors.begin(), sectors.end(), [](const auto& s) {
            return std::all_of(s.second.begin(), s.second.end(), [](uint8_t b) { return b == 0; });
        });
    }

    std::unordered_map<uint64_t, std::array<uint8_t, 512>> sectors;
    uint64_t reads = 0, writes = 0;

private:
    static constexpr std::array<uint8_t, 512> kZeros{};
};

} // namespace ufd::test
