// Each socket's first-pass failure rate beside its station's, and the rule
// that calls a socket suspect: a worn socket fails far more often than the
// other sockets of its own station, which saw the same drives and product.
#pragma once

#include "results/yield_query.h"

#include <vector>

namespace ufd {

// A socket is suspect when it has at least kSuspectMinUnits first passes and
// its failure rate is both at least kSuspectFactor times and at least
// kSuspectMargin above the rate of the other sockets of its station together.
inline constexpr qint64 kSuspectMinUnits = 5;
inline constexpr double kSuspectFactor = 2.0;
inline constexpr double kSuspectMargin = 0.20;

struct SocketRate {
    QString station, socket;
    qint64 units = 0, failed = 0;
    double failureRate = 0; // failed / units
    double stationRate = 0; // the station's rate, all its sockets
    double othersRate = 0;  // the rate of the station's other sockets
    bool suspect = false;
};

// rows: YieldQueries::Yield(YieldBy::Socket, ...); the result keeps their order.
std::vector<SocketRate> SocketMap(const std::vector<YieldRow>& rows);

} // namespace ufd
