// The volume label of Product.ini as the large file systems store it.
#pragma once

#include <QString>

#include <array>
#include <cstdint>

namespace ufd {

// The first eleven characters in the ANSI code page, blank-padded; a
// character without a single-byte code keeps its blank, as in the FAT16 root.
std::array<uint8_t, 11> LabelAnsiBytes(const QString& label);

// True when the label is blanks only: FAT32 then says "NO NAME" and exFAT
// has no label entry.
bool LabelIsBlank(const std::array<uint8_t, 11>& bytes);

} // namespace ufd
