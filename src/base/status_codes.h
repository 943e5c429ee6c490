// Every Status code a slot can end a run with: its number, the name the
// procedures know it by, and its reason in words. The controller's vendor
// commands keep their own code as their failure code; the station's codes take
// numbers the controller never uses (0xE0..0xE5 belong to the media test).
// The window, --batch, ufd-results, the exports and docs/codes.md all take
// their words from this one table; the device and volume procedures take
// their numbers from it by name (StatusNumber).
#pragma once

#include "base/translate_mark.h"

#include <array>
#include <cstdint>
#include <string_view>

// The reasons are marked (context "StatusReasons") so the window can show
// them translated.

namespace ufd {

// The translation context of the reasons' marks below.
inline constexpr const char* kStatusReasonContext = "StatusReasons";

struct StatusCode {
    int16_t number;
    std::string_view name;
    std::string_view reason;
};

// In ascending order of number, the order the tools and docs list them in.
inline constexpr std::array kStatusCodes{
    StatusCode{
        0x10, "UnitRejected",
        QT_TRANSLATE_NOOP("StatusReasons", "a unit of chip 0 rejected: its unit list is too long")},
    StatusCode{0x75, "VendorInformation",
               QT_TRANSLATE_NOOP("StatusReasons", "controller information not read")},
    StatusCode{0x81, "VendorWriteConfig",
               QT_TRANSLATE_NOOP("StatusReasons", "configuration write command failed")},
    StatusCode{0x82, "VendorReadConfig",
               QT_TRANSLATE_NOOP("StatusReasons", "configuration block not read back")},
    StatusCode{0x93, "VendorChipList",
               QT_TRANSLATE_NOOP("StatusReasons", "chip list not read, or without its end mark")},
    StatusCode{0x94, "VendorScanUnit",
               QT_TRANSLATE_NOOP("StatusReasons", "unit list not read during the chip scan")},
    StatusCode{0x95, "VendorFormatUnit",
               QT_TRANSLATE_NOOP("StatusReasons", "a unit's format command failed")},
    StatusCode{0x96, "VendorClose",
               QT_TRANSLATE_NOOP("StatusReasons", "closing vendor command failed")},
    StatusCode{0x98, "VendorScanEntry",
               QT_TRANSLATE_NOOP("StatusReasons", "unit list entry not scanned")},
    StatusCode{0x99, "VendorBoundary",
               QT_TRANSLATE_NOOP("StatusReasons", "boundary block refused")},
    StatusCode{0x9A, "NoCapacity",
               QT_TRANSLATE_NOOP("StatusReasons", "capacity not read, or capacity 0")},
    StatusCode{0x9B, "VendorFinish",
               QT_TRANSLATE_NOOP("StatusReasons", "format finish block refused")},
    StatusCode{0x9F, "VendorModeBlock", QT_TRANSLATE_NOOP("StatusReasons", "mode block not read")},
    StatusCode{0xE0, "FakeCapacity",
               QT_TRANSLATE_NOOP("StatusReasons", "flash smaller than reported (fake capacity)")},
    StatusCode{0xE1, "ReadBackFailed",
               QT_TRANSLATE_NOOP("StatusReasons", "sectors do not keep written data")},
    StatusCode{0xE2, "SlowWrite",
               QT_TRANSLATE_NOOP("StatusReasons", "write speed below the floor")},
    StatusCode{0xE3, "SlowRead", QT_TRANSLATE_NOOP("StatusReasons", "read speed below the floor")},
    StatusCode{0xE4, "MediaIoFailed",
               QT_TRANSLATE_NOOP("StatusReasons", "media test read or write failed")},
    StatusCode{0xE5, "WriteProtected",
               QT_TRANSLATE_NOOP("StatusReasons", "write protected (switch on)")},
    StatusCode{0xF0, "MasterBootRecordFailed",
               QT_TRANSLATE_NOOP("StatusReasons", "master boot record not written")},
    StatusCode{0xF1, "BootSectorFailed",
               QT_TRANSLATE_NOOP("StatusReasons", "boot sector not written")},
    StatusCode{0xF2, "FatCopyFailed", QT_TRANSLATE_NOOP("StatusReasons", "FAT copy not written")},
    StatusCode{0xF3, "RootDirectoryFailed",
               QT_TRANSLATE_NOOP("StatusReasons", "root directory not written")},
    StatusCode{
        0xF4, "IdentityMismatch",
        QT_TRANSLATE_NOOP("StatusReasons", "identity read back differs from the one written")},
    StatusCode{0xF5, "NotWriteProtected",
               QT_TRANSLATE_NOOP("StatusReasons", "not write protected")},
    StatusCode{0xF6, "ConfigWriteRefused",
               QT_TRANSLATE_NOOP("StatusReasons", "identity write refused by the controller")},
    StatusCode{
        0xF7, "IdentityIncomplete",
        QT_TRANSLATE_NOOP("StatusReasons", "identity incomplete: a Product.ini text is empty")},
    StatusCode{
        0xF8, "AreaDoesNotFit",
        QT_TRANSLATE_NOOP("StatusReasons", "area too large or too small for its file system")},
    StatusCode{0xF9, "IdentityDoesNotFit",
               QT_TRANSLATE_NOOP("StatusReasons", "identity does not fit the configuration block")},
    StatusCode{
        0xFA, "BitmapOrUpcaseFailed",
        QT_TRANSLATE_NOOP("StatusReasons", "exFAT allocation bitmap or up-case table not written")},
    StatusCode{0xFE, "MissingHandle",
               QT_TRANSLATE_NOOP("StatusReasons", "missing handle: no drive to talk to")},
    StatusCode{0xFF, "ExtendedBootRecordFailed",
               QT_TRANSLATE_NOOP("StatusReasons", "read or write failed: extended boot record")},
};

// The number of the code called name. A name the table does not hold stops
// the build: a procedure cannot leave a code without words.
consteval int16_t StatusNumber(std::string_view name) {
    for (const StatusCode& code : kStatusCodes) {
        if (code.name == name) {
            return code.number;
        }
    }
    throw "no status code of that name";
}

// The table's row for number, or nullptr for a code it does not hold.
constexpr const StatusCode* FindStatusCode(int number) {
    for (const StatusCode& code : kStatusCodes) {
        if (code.number == number) {
            return &code;
        }
    }
    return nullptr;
}

} // namespace ufd
