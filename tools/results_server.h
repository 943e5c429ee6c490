// ufd-results serve: the supervisor's page and the JSON behind it, over the
// results database opened read-only. Qt's HTTP server answers on the event
// loop, so idle connections cost a socket each and never hold up a request.
#pragma once

#include "results/record_reader.h"
#include "results/yield_index.h"
#include "results/yield_query.h"

#include <QAbstractHttpServer>
#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>

namespace ufd {

// Where Debian's libjs-chart.js keeps Chart.js; the first file found is served.
QString FindChartJs();

class ResultsServer : public QAbstractHttpServer {
public:
    // chartJs: the script's bytes; empty when it is missing (the page then
    // says so and shows its tables alone).
    ResultsServer(DatabaseTarget target, QByteArray chartJs);
    // Reads the records into the figures' index (seconds for a million);
    // false with the reason when the database cannot be read yet: the first
    // request for the figures then tries again.
    bool LoadIndex(QString* error);

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    struct Reply {
        int status = 200;
        QByteArray type;
        QByteArray body;
    };
    Reply Answer(const QHttpServerRequest& request);
    // The figures come from the index, refreshed when the records' change
    // stamp moves; the database's own figures (seconds over a million
    // records) only where the index cannot answer. An answer is kept while
    // the records it came from stay the same, for at most a minute.
    struct KeptAnswer {
        QString stamp;
        QElapsedTimer age;
        int status = 200;
        QByteArray json;
    };

    RecordReader db_;
    YieldQueries queries_;
    YieldIndex index_;
    QByteArray chartJs_;
    QHash<QString, KeptAnswer> kept_;
};

} // namespace ufd
