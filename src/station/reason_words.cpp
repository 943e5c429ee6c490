#include "station/reason_words.h"

#include "results/status_reasons.h"

#include <QCoreApplication>

namespace ufd {

namespace {

// For lupdate: the table's words, marked where lupdate looks. A test holds
// them to the table.
constexpr const char* kMarked[] = {
    QT_TRANSLATE_NOOP("StatusReasons", "a unit of chip 0 rejected: its unit list is too long"),
    QT_TRANSLATE_NOOP("StatusReasons", "controller information not read"),
    QT_TRANSLATE_NOOP("StatusReasons", "configuration write command failed"),
    QT_TRANSLATE_NOOP("StatusReasons", "configuration block not read back"),
    QT_TRANSLATE_NOOP("StatusReasons", "chip list not read, or without its end mark"),
    QT_TRANSLATE_NOOP("StatusReasons", "unit list not read during the chip scan"),
    QT_TRANSLATE_NOOP("StatusReasons", "a unit's format command failed"),
    QT_TRANSLATE_NOOP("StatusReasons", "closing vendor command failed"),
    QT_TRANSLATE_NOOP("StatusReasons", "unit list entry not scanned"),
    QT_TRANSLATE_NOOP("StatusReasons", "boundary block refused"),
    QT_TRANSLATE_NOOP("StatusReasons", "capacity not read, or capacity 0"),
    QT_TRANSLATE_NOOP("StatusReasons", "format finish block refused"),
    QT_TRANSLATE_NOOP("StatusReasons", "mode block not read"),
    QT_TRANSLATE_NOOP("StatusReasons", "flash smaller than reported (fake capacity)"),
    QT_TRANSLATE_NOOP("StatusReasons", "sectors do not keep written data"),
    QT_TRANSLATE_NOOP("StatusReasons", "write speed below the floor"),
    QT_TRANSLATE_NOOP("StatusReasons", "read speed below the floor"),
    QT_TRANSLATE_NOOP("StatusReasons", "media test read or write failed"),
    QT_TRANSLATE_NOOP("StatusReasons", "write protected (switch on)"),
    QT_TRANSLATE_NOOP("StatusReasons", "master boot record not written"),
    QT_TRANSLATE_NOOP("StatusReasons", "boot sector not written"),
    QT_TRANSLATE_NOOP("StatusReasons", "FAT copy not written"),
    QT_TRANSLATE_NOOP("StatusReasons", "root directory not written"),
    QT_TRANSLATE_NOOP("StatusReasons", "identity read back differs from the one written"),
    QT_TRANSLATE_NOOP("StatusReasons", "not write protected"),
    QT_TRANSLATE_NOOP("StatusReasons", "identity write refused by the controller"),
    QT_TRANSLATE_NOOP("StatusReasons", "identity incomplete: a Product.ini text is empty"),
    QT_TRANSLATE_NOOP("StatusReasons", "area too large or too small for its file system"),
    QT_TRANSLATE_NOOP("StatusReasons", "identity does not fit the configuration block"),
    QT_TRANSLATE_NOOP("StatusReasons", "exFAT allocation bitmap or up-case table not written"),
    QT_TRANSLATE_NOOP("StatusReasons", "missing handle: no drive to talk to"),
    QT_TRANSLATE_NOOP("StatusReasons", "read or write failed: extended boot record"),
};

} // namespace

QString TrStatusReason(int status) {
    return QCoreApplication::translate(kReasonContext,
                                       StatusReasonText(status).toUtf8().constData());
}

std::span<const char* const> MarkedReasons() {
    return kMarked;
}

} // namespace ufd
