#include "format/large_area.h"
#include "format/large_layout.h"

#include <cstddef>
#include <cstdint>

namespace ufd {

namespace {

// The standard up-case table maps every UTF-16 unit to itself except the
// runs below: count units from first, every step-th one, each moved by
// delta. Kept as runs rather than 5,836 bytes so it can be read.
struct CaseRun {
    uint16_t first;
    uint16_t count;
    int16_t delta;
    uint8_t step;
};

// clang-format off
constexpr CaseRun kCaseRuns[] = {
    {0x0061, 26, -32, 1},
    {0x00E0, 23, -32, 1},
    {0x00F8, 7, -32, 1},
    {0x00FF, 1, 121, 2},
    {0x0101, 24, -1, 2},
    {0x0133, 3, -1, 2},
    {0x013A, 8, -1, 2},
    {0x014B, 23, -1, 2},
    {0x017A, 3, -1, 2},
    {0x0180, 1, 195, 2},
    {0x0183, 2, -1, 2},
    {0x0188, 1, -1, 2},
    {0x018C, 1, -1, 2},
    {0x0192, 1, -1, 2},
    {0x0195, 1, 97, 2},
    {0x0199, 1, -1, 2},
    {0x019A, 1, 163, 2},
    {0x019E, 1, 130, 2},
    {0x01A1, 3, -1, 2},
    {0x01A8, 1, -1, 2},
    {0x01AD, 1, -1, 2},
    {0x01B0, 1, -1, 2},
    {0x01B4, 2, -1, 2},
    {0x01B9, 1, -1, 2},
    {0x01BD, 1, -1, 2},
    {0x01BF, 1, 56, 2},
    {0x01C6, 1, -2, 2},
    {0x01C9, 1, -2, 2},
    {0x01CC, 1, -2, 2},
    {0x01CE, 8, -1, 2},
    {0x01DD, 1, -79, 2},
    {0x01DF, 9, -1, 2},
    {0x01F3, 1, -2, 2},
    {0x01F5, 1, -1, 2},
    {0x01F9, 20, -1, 2},
    {0x0223, 9, -1, 2},
    {0x023A, 1, 10795, 2},
    {0x023C, 1, -1, 2},
    {0x023E, 1, 10792, 2},
    {0x0242, 1, -1, 2},
    {0x0247, 5, -1, 2},
    {0x0253, 1, -210, 2},
    {0x0254, 1, -206, 2},
    {0x0256, 2, -205, 1},
    {0x0259, 1, -202, 2},
    {0x025B, 1, -203, 2},
    {0x0260, 1, -205, 2},
    {0x0263, 1, -207, 2},
    {0x0268, 1, -209, 2},
    {0x0269, 1, -211, 2},
    {0x026B, 1, 10743, 2},
    {0x026F, 1, -211, 2},
    {0x0272, 1, -213, 2},
    {0x0275, 1, -214, 2},
    {0x027D, 1, 10727, 2},
    {0x0280, 1, -218, 2},
    {0x0283, 1, -218, 2},
    {0x0288, 1, -218, 2},
    {0x0289, 1, -69, 2},
    {0x028A, 2, -217, 1},
    {0x028C, 1, -71, 2},
    {0x0292, 1, -219, 2},
    {0x037B, 3, 130, 1},
    {0x03AC, 1, -38, 2},
    {0x03AD, 3, -37, 1},
    {0x03B1, 17, -32, 1},
    {0x03C2, 1, -31, 2},
    {0x03C3, 9, -32, 1},
    {0x03CC, 1, -64, 2},
    {0x03CD, 2, -63, 1},
    {0x03D9, 12, -1, 2},
    {0x03F2, 1, 7, 2},
    {0x03F8, 1, -1, 2},
    {0x03FB, 1, -1, 2},
    {0x0430, 32, -32, 1},
    {0x0450, 16, -80, 1},
    {0x0461, 17, -1, 2},
    {0x048B, 27, -1, 2},
    {0x04C2, 7, -1, 2},
    {0x04CF, 1, -15, 2},
    {0x04D1, 34, -1, 2},
    {0x0561, 38, -48, 1},
    {0x1D7D, 1, 3814, 2},
    {0x1E01, 75, -1, 2},
    {0x1EA1, 45, -1, 2},
    {0x1F00, 8, 8, 1},
    {0x1F10, 6, 8, 1},
    {0x1F20, 8, 8, 1},
    {0x1F30, 8, 8, 1},
    {0x1F40, 6, 8, 1},
    {0x1F51, 4, 8, 2},
    {0x1F60, 8, 8, 1},
    {0x1F70, 2, 74, 1},
    {0x1F72, 4, 86, 1},
    {0x1F76, 2, 100, 1},
    {0x1F78, 2, 128, 1},
    {0x1F7A, 2, 112, 1},
    {0x1F7C, 2, 126, 1},
    {0x1F80, 8, 8, 1},
    {0x1F90, 8, 8, 1},
    {0x1FA0, 8, 8, 1},
    {0x1FB0, 2, 8, 1},
    {0x1FB3, 1, 9, 2},
    {0x1FCC, 1, -9, 2},
    {0x1FD0, 2, 8, 1},
    {0x1FE0, 2, 8, 1},
    {0x1FE5, 1, 7, 2},
    {0x1FFC, 1, -9, 2},
    {0x214E, 1, -28, 2},
    {0x2170, 16, -16, 1},
    {0x2184, 1, -1, 2},
    {0x24D0, 26, -26, 1},
    {0x2C30, 47, -48, 1},
    {0x2C61, 1, -1, 2},
    {0x2C68, 3, -1, 2},
    {0x2C76, 1, -1, 2},
    {0x2C81, 50, -1, 2},
    {0x2D00, 38, -7264, 1},
    {0xFF41, 26, -32, 1}
};
// clang-format on

// Stretches of identity the stored table compresses as FF FF, count.
struct IdentityRun {
    uint16_t first;
    uint16_t count;
};
constexpr IdentityRun kCompressed[] = {
    {0x0587, 6134}, {0x2185, 843}, {0x24EA, 1862}, {0x2D26, 53787}};

std::array<uint8_t, 5836> Build() {
    static uint16_t map[0x10000];
    for (uint32_t c = 0; c < 0x10000; ++c) {
        map[c] = static_cast<uint16_t>(c);
    }
    for (const CaseRun& r : kCaseRuns) {
        for (uint32_t k = 0; k < r.count; ++k) {
            const uint32_t c = r.first + k * r.step;
            map[c] = static_cast<uint16_t>(static_cast<int32_t>(c) + r.delta);
        }
    }
    std::array<uint8_t, 5836> out{};
    size_t at = 0;
    auto put = [&](uint16_t v) {
        if (at + 2 <= out.size()) {
            out[at] = static_cast<uint8_t>(v);
            out[at + 1] = static_cast<uint8_t>(v >> 8);
        }
        at += 2;
    };
    const IdentityRun* next = std::begin(kCompressed);
    for (uint32_t c = 0; c < 0x10000;) {
        if (next != std::end(kCompressed) && c == next->first) {
            put(0xFFFF);
            put(next->count);
            c += next->count;
            ++next;
            continue;
        }
        put(map[c]);
        ++c;
    }
    return out;
}

// The rotate-and-add checksum exFAT uses for its tables.
uint32_t Accumulate(uint32_t sum, uint8_t byte) {
    return ((sum & 1) != 0 ? 0x80000000u : 0u) + (sum >> 1) + byte;
}

} // namespace

const std::array<uint8_t, 5836>& UpcaseTable() {
    static const std::array<uint8_t, 5836> table = Build();
    return table;
}

uint32_t UpcaseChecksum() {
    uint32_t sum = 0;
    for (const uint8_t b : UpcaseTable()) {
        sum = Accumulate(sum, b);
    }
    return sum;
}

uint32_t ExfatBootChecksum(const uint8_t* region) {
    uint32_t sum = 0;
    using namespace layout::exfat;
    for (size_t i = 0; i < size_t{kChecksumSector} * kSectorSize; ++i) {
        // Volume flags and percent in use change while mounted.
        if (i == kVolumeFlags || i == kVolumeFlags + 1 || i == kPercentInUse) {
            continue;
        }
        sum = Accumulate(sum, region[i]);
    }
    return sum;
}

} // namespace ufd
