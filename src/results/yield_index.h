// The records' Format runs held in memory for the supervisor's page, so that
// /api/yield and /api/pareto cost a pass over memory instead of a sort of the
// whole table by drive on every new record.
//
// The index is read whole once, then kept up to date from the records whose
// start is at or after the newest start it holds; when the table's count of
// records then differs from its own (a record stored late with an older start
// by a journal's replay, or records removed), it reads everything again. Its
// answers are those of YieldQueries, grouping, filter, order, limits and all.
// Kept up to date in yield_index_feed.cpp; the figures in yield_index.cpp.
#pragma once

#include "results/record_reader.h"
#include "results/unit_table.h"
#include "results/yield_query.h"

#include <QElapsedTimer>
#include <QHash>
#include <QString>

#include <array>
#include <chrono>
#include <limits>
#include <map>
#include <optional>
#include <vector>

namespace ufd {

class YieldIndex : public Figures {
public:
    // recent: the start from which a record stored late is seen at once (as
    // the change stamp counts them, YieldQueries::StampSince); one earlier is
    // seen at the next count of the whole table, every whole.
    YieldIndex(RecordReader& db, QString recent,
               std::chrono::milliseconds whole = std::chrono::minutes(1));

    // Brings the index up to date when stamp (YieldQueries::ChangeStamp)
    // differs from the last one, and counts the whole table when whole has
    // passed since it last did.
    // false: the database could not be read; the index keeps what it held.
    bool Refresh(const QString& stamp, QString* error);
    // False once the records hold what the index cannot answer exactly (a
    // start not in the station's own form, a passed that is neither 0 nor 1):
    // the figures are then the database's own.
    bool Usable() const { return loaded_ && usable_; }
    // Changes whenever the records held change.
    quint64 Generation() const { return generation_; }
    size_t Size() const { return records_.size(); }

    std::optional<std::vector<YieldRow>> Yield(YieldBy by, const RecordFilter& filter,
                                               QString* error) override;
    std::optional<std::vector<ParetoRow>> Pareto(const RecordFilter& filter,
                                                 QString* error) override;

private:
    // One Format run, about 40 bytes: texts as ids into texts_ (0: NULL).
    struct Record {
        qint64 startedMs = 0;
        quint32 unit = 0; // 0: a record whose drive is NULL in SQL
        quint32 station = 0;
        quint32 product = 0; // into products_
        quint32 socket = 0;  // the socket label, else the port
        quint32 lot = 0;
        quint32 op = 0;
        qint32 status = 0;
        qint8 passed = 0; // 0, 1; -1: NULL
        bool statusNull = false;
    };
    struct Product {
        quint32 vidPid = 0; // "VID:PID"
        quint32 usb = 0;    // the USB product string
        quint32 key = 0;    // "VID:PID product", the grouping's key
    };
    struct Fetched {
        std::vector<Record> records;
        qint64 rows = 0; // every record read, Format or not
        qint64 recentRows = 0;
        qint64 rowsAtNewest = 0;
        QString newest;
        qint64 count = 0; // the table's records (whole), or its recent ones
    };

    // The last text met in one field and its id.
    struct TextMemo {
        QString text;
        quint32 id = std::numeric_limits<quint32>::max(); // none yet
    };
    struct RowMemo {
        TextMemo station, vid, pid, usb, socket, port, lot, op;
    };

    bool Load(QString* error);
    std::optional<Fetched> Fetch(const QString& from, bool whole, QString* error);
    // Takes one record read; false once the index cannot answer exactly.
    bool Add(const DriveRecord& d, Fetched& f, RowMemo& memo);
    quint32 Text(const QString& text);
    quint32 Text(const QString& text, TextMemo& memo);
    quint32 ProductOf(quint32 vid, quint32 pid, quint32 usb);
    // Each unit's first and last Format run in the filter: first_, last_.
    bool Select(const RecordFilter& filter, QString* error);
    bool Rank(QString* error);

    RecordReader& db_;
    QString recent_;
    qint64 wholeMs_;
    bool loaded_ = false;
    bool usable_ = true;
    quint64 generation_ = 0;
    QString stamp_;
    QElapsedTimer checked_; // since the last look at the table
    std::vector<Record> records_;
    qint64 rows_ = 0;
    qint64 recentRows_ = 0;
    qint64 rowsAtNewest_ = 0;
    QString newest_;
    std::vector<QString> texts_;
    QHash<QString, quint32> textIds_;
    std::vector<Product> products_;
    std::map<std::array<quint32, 3>, quint32> productIds_; // vid, pid, usb
    UnitTable units_;
    std::vector<int> ranks_; // text id -> place in the database's order
    std::vector<quint32> first_, last_;
};

} // namespace ufd
