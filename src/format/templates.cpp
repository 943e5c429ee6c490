// The master boot record and FAT16 boot sector images every formatted drive
// starts from. Both boot-code areas are left zero: the drives are data media
// and are never booted, so a loader would only be bytes nobody runs.
#include "format/sector_layout.h"
#include "format/volume.h"

#include <algorithm>
#include <cstring>

namespace ufd {

namespace {

void PutLe16(Sector& s, size_t offset, uint16_t v) {
    s[offset] = static_cast<uint8_t>(v);
    s[offset + 1] = static_cast<uint8_t>(v >> 8);
}

void PutLe32(Sector& s, size_t offset, uint32_t v) {
    for (size_t i = 0; i < 4; ++i) {
        s[offset + i] = static_cast<uint8_t>(v >> (8 * i));
    }
}

void PutText(Sector& s, size_t offset, const char* text, size_t length) {
    std::memcpy(s.data() + offset, text, length);
}

void PutSignature(Sector& s) {
    s[layout::kSignature] = 0x55;
    s[layout::kSignature + 1] = 0xAA;
}

} // namespace

void BuildSectorTemplates(StationContext& ctx) {
    using namespace layout;

    Sector& mbr = ctx.MbrTemplate;
    mbr.fill(0);
    // The same disk signature on every drive.
    PutLe32(mbr, kDiskSignature, 0x672AB94Du);
    PutSignature(mbr);

    Sector& b = ctx.Fat16BootTemplate;
    b.fill(0);
    b[boot::kJump] = 0xEB;
    b[boot::kJump + 1] = 0x3C;
    b[boot::kJump + 2] = 0x90;
    PutText(b, boot::kOemName, "MSDOS5.0", 8);
    PutLe16(b, boot::kBytesPerSector, 512);
    b[boot::kSectorsPerCluster] = 2;
    PutLe16(b, boot::kReservedSectors, 1);
    b[boot::kFatCount] = 2;
    PutLe16(b, boot::kRootEntries, 512);
    PutLe16(b, boot::kTotalSectors16, 0);
    b[boot::kMedia] = 0xF8;
    PutLe16(b, boot::kSectorsPerFat, 255);
    // Track geometry and hidden sectors stay at these values although the
    // partitions start 32 sectors after their table; the drives have always
    // shipped that way.
    PutLe16(b, boot::kSectorsPerTrack, 63);
    PutLe16(b, boot::kHeads, 255);
    PutLe32(b, boot::kHiddenSectors, 63);
    PutLe32(b, boot::kTotalSectors32, 131040);
    b[boot::kDriveNumber] = 0x80;
    b[boot::kReserved] = 0;
    b[boot::kExtendedSignature] = 0x29;
    PutLe32(b, boot::kVolumeSerial, 0x80938F05u); // the same on every drive
    PutText(b, boot::kVolumeLabel, "NO NAME    ", 11);
    PutText(b, boot::kFileSystemType, "FAT16   ", 8);
    PutSignature(b);
}

} // namespace ufd
