#include "results/socket_map.h"

#include <map>

namespace ufd {

std::vector<SocketRate> SocketMap(const std::vector<YieldRow>& rows) {
    struct Total {
        qint64 units = 0, failed = 0;
    };
    std::map<QString, Total> stations;
    for (const YieldRow& r : rows) {
        stations[r.station].units += r.units;
        stations[r.station].failed += r.units - r.firstPass;
    }
    std::vector<SocketRate> out;
    for (const YieldRow& r : rows) {
        const Total& t = stations[r.station];
        SocketRate s{r.station, r.key, r.units, r.units - r.firstPass};
        s.failureRate = r.units > 0 ? double(s.failed) / double(r.units) : 0;
        s.stationRate = t.units > 0 ? double(t.failed) / double(t.units) : 0;
        const qint64 otherUnits = t.units - r.units;
        s.othersRate = otherUnits > 0 ? double(t.failed - s.failed) / double(otherUnits) : 0;
        s.suspect = otherUnits > 0 && r.units >= kSuspectMinUnits &&
                    s.failureRate >= kSuspectFactor * s.othersRate &&
                    s.failureRate >= s.othersRate + kSuspectMargin;
        out.push_back(s);
    }
    return out;
}

} // namespace ufd
