// The two things Vasket can tell the station.
#pragma once

#include <QByteArray>

namespace ufd {

enum class NoticeKind {
    In,  // a drive arrived and nothing went: rediscover, keep the handles
    Out, // something went or changed: release every handle, then rediscover
};

// The exact bytes on the channel: "IN" or "OUT", no terminator.
inline QByteArray NoticeText(NoticeKind kind) {
    return kind == NoticeKind::In ? QByteArrayLiteral("IN") : QByteArrayLiteral("OUT");
}

// Two changes that reach the station as one notice. "OUT" covers an arrival
// too (its rediscovery finds the new drive), "IN" never covers a removal
// (the gone drive's handle would stay open), so "OUT" wins.
inline NoticeKind Combine(NoticeKind earlier, NoticeKind later) {
    return earlier == NoticeKind::Out || later == NoticeKind::Out ? NoticeKind::Out
                                                                  : NoticeKind::In;
}

} // namespace ufd
