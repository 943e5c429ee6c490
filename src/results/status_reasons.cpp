#include "results/status_reasons.h"

#include <algorithm>
#include <array>

namespace ufd {

namespace {

// A failing vendor command leaves its own code; the station's codes take
// numbers the controller never uses. 0xE0..0xE5 belong to the media test.
constexpr std::array kReasons{
    StatusReason{0x10, "a unit of chip 0 rejected: its unit list is too long"},
    StatusReason{0x75, "controller information not read"},
    StatusReason{0x81, "configuration write command failed"},
    StatusReason{0x82, "configuration block not read back"},
    StatusReason{0x93, "chip list not read, or without its end mark"},
    StatusReason{0x94, "unit list not read during the chip scan"},
    StatusReason{0x95, "a unit's format command failed"},
    StatusReason{0x96, "closing vendor command failed"},
    StatusReason{0x98, "unit list entry not scanned"},
    StatusReason{0x99, "boundary block refused"},
    StatusReason{0x9A, "capacity not read, or capacity 0"},
    StatusReason{0x9B, "format finish block refused"},
    StatusReason{0x9F, "mode block not read"},
    StatusReason{0xE0, "flash smaller than reported (fake capacity)"},
    StatusReason{0xE1, "sectors do not keep written data"},
    StatusReason{0xE2, "write speed below the floor"},
    StatusReason{0xE3, "read speed below the floor"},
    StatusReason{0xE4, "media test read or write failed"},
    StatusReason{0xE5, "write protected (switch on)"},
    StatusReason{0xF0, "master boot record not written"},
    StatusReason{0xF1, "boot sector not written"},
    StatusReason{0xF2, "FAT copy not written"},
    StatusReason{0xF3, "root directory not written"},
    StatusReason{0xF4, "identity read back differs from the one written"},
    StatusReason{0xF5, "not write protected"},
    StatusReason{0xF6, "identity write refused by the controller"},
    StatusReason{0xF7, "identity incomplete: a Product.ini text is empty"},
    StatusReason{0xF8, "area too large or too small for its file system"},
    StatusReason{0xF9, "identity does not fit the configuration block"},
    StatusReason{0xFA, "exFAT allocation bitmap or up-case table not written"},
    StatusReason{0xFE, "missing handle: no drive to talk to"},
    StatusReason{0xFF, "read or write failed: extended boot record"},
};

static_assert(std::ranges::is_sorted(kReasons, {}, &StatusReason::status));

} // namespace

std::span<const StatusReason> StatusReasons() {
    return kReasons;
}

QString StatusReasonText(int status) {
    if (status == 0) {
        return {};
    }
    const auto* it = std::ranges::lower_bound(kReasons, status, {}, &StatusReason::status);
    if (it != kReasons.end() && it->status == status) {
        return QString::fromUtf8(it->reason);
    }
    return QStringLiteral("unknown status %1")
        .arg(QString::number(static_cast<unsigned>(status), 16).toUpper().rightJustified(2, u'0'));
}

} // namespace ufd
