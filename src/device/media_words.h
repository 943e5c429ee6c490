// What a failed media test says beside its code, in words an operator acts
// on: the real size of a fake, the measured figure against the floor.
#pragma once

#include "context/disk_slot.h"

#include <QString>

namespace ufd {

// A translation of one of the texts marked in media_words.cpp (context
// "MediaWords"); none: the English texts.
using MediaWordsTr = QString (*)(const char* english);

// Empty when status is not one of the media test's codes.
QString MediaFailureWords(int status, const MediaFindings& media, MediaWordsTr tr = nullptr);
inline QString MediaFailureWords(const DiskSlot& slot) {
    return MediaFailureWords(slot.Status, slot.Media);
}

// "256 MB", "2.15 GB": sectors of 512 bytes in units of 10^6 bytes.
QString MediaSizeText(int64_t sectors);

} // namespace ufd
