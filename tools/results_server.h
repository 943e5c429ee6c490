// ufd-results serve: the supervisor's page and the JSON behind it, over the
// results database opened read-only. One route table names every path; the
// page's files are answered on the event loop, the queries on two workers of
// their own (the figures with their index, the runs and drives), so a slow
// query never keeps another client waiting for the page.
#pragma once

#include "http_access.h"
#include "http_server.h"
#include "page_language.h"
#include "results/database_target.h"
#include "results_worker.h"

#include <QByteArray>
#include <QObject>

namespace ufd {

// Where Debian's libjs-chart.js keeps Chart.js; the first file found is served.
QString FindChartJs();

class ResultsServer : public QObject {
public:
    // chartJs: the script's bytes; empty when it is missing (the page then
    // says so and shows its tables alone).
    ResultsServer(const DatabaseTarget& target, QByteArray chartJs, HttpServerLimits limits = {});
    // Reads the records into the figures' index (seconds for a million);
    // false with the reason when the database cannot be read yet: the first
    // request for the figures then tries again.
    bool LoadIndex(QString* error);
    // The port bound, 0 when it cannot listen. rules' port is set to it.
    quint16 Listen(const QHostAddress& address, quint16 port, AccessRules rules);
    QString ListenError() const { return http_.ListenError(); }

private:
    void Handle(HttpConnection* connection, const HttpRequest& request);

    ResultsWorker figures_, records_;
    QByteArray chartJs_;
    AccessRules rules_;
    PageLanguages languages_;
    HttpServer http_;
};

} // namespace ufd
