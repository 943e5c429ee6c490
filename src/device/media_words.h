// What a failed media test says beside its code, in words an operator acts
// on: the real size of a fake, the measured figure against the floor.
#pragma once

#include "context/disk_slot.h"

#include <QString>

namespace ufd {

// Empty when the slot's Status is not one of the media test's codes.
QString MediaFailureWords(const DiskSlot& slot);

// "256 MB", "2.15 GB": sectors of 512 bytes in units of 10^6 bytes.
QString MediaSizeText(int64_t sectors);

} // namespace ufd
