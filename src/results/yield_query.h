// The line's figures (figures.h), aggregated by the database: first-pass and
// final yield per product, station, socket, hour, day, lot or operator; the
// failure Pareto. Every query is parameterised and bounded.
#pragma once

#include "results/figures.h"
#include "results/record_reader.h"

#include <QString>

#include <optional>
#include <vector>

namespace ufd {

class YieldQueries : public Figures {
public:
    explicit YieldQueries(RecordReader& reader);

    std::optional<std::vector<YieldRow>> Yield(YieldBy by, const RecordFilter& filter,
                                               QString* error) override;
    std::optional<std::vector<ParetoRow>> Pareto(const RecordFilter& filter,
                                                 QString* error) override;
    // Changes when a record comes in: the newest start and the number of
    // records since a day before these queries were made (both from the
    // start-time index, so cheap; a fixed start, so time passing changes
    // nothing). A record stored late with an older start (a journal's
    // replay) leaves it as it was.
    std::optional<QString> ChangeStamp(QString* error);
    const QString& StampSince() const { return stampSince_; }
    RecordReader& Reader() const { return db_; }

private:
    RecordReader& db_;
    QString stampSince_;
};

} // namespace ufd
