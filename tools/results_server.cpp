#include "results_server.h"

#include "results_api.h"

#include <QFile>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QHttpServerResponse>
#include <QTcpSocket>

namespace ufd {

namespace {

constexpr const char* kChartJsDir = "/usr/share/javascript/chart.js/";
constexpr const char* kJson = "application/json; charset=utf-8";
constexpr qint64 kKeepMs = 60000;
constexpr qsizetype kMaxKept = 64;

QByteArray Resource(const QString& name) {
    QFile f(QStringLiteral(":/web/") + name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

QString FindChartJs() {
    for (const char* name : {"chart.umd.js", "chart.min.js", "chart.js"}) {
        const QString path = QLatin1String(kChartJsDir) + QLatin1String(name);
        if (QFile::exists(path)) {
            return path;
        }
    }
    return {};
}

ResultsServer::ResultsServer(DatabaseTarget target, QByteArray chartJs)
    : db_(std::move(target)), queries_(db_), index_(db_, queries_.StampSince()),
      chartJs_(std::move(chartJs)) {}

bool ResultsServer::LoadIndex(QString* error) {
    const std::optional<QString> stamp = queries_.ChangeStamp(error);
    return stamp && index_.Refresh(*stamp, error);
}

ResultsServer::Reply ResultsServer::Answer(const QHttpServerRequest& request) {
    if (request.method() != QHttpServerRequest::Method::Get) {
        return {405, kJson, R"({"error":"only GET is answered"})"};
    }
    const QString path = request.url().path();
    if (path == QStringLiteral("/api/yield") || path == QStringLiteral("/api/pareto")) {
        QString error;
        std::optional<QString> stamp = queries_.ChangeStamp(&error);
        const bool indexed = stamp && index_.Refresh(*stamp, &error) && index_.Usable();
        if (indexed) {
            stamp = QStringLiteral("index %1").arg(index_.Generation());
        }
        const QString key = path + u'?' + request.query().toString(QUrl::FullyEncoded);
        const auto it = kept_.constFind(key);
        if (stamp && it != kept_.cend() && it->stamp == *stamp && it->age.elapsed() < kKeepMs) {
            return {it->status, kJson, it->json};
        }
        const auto api = AnswerApi(queries_, path, request.query(), indexed ? &index_ : nullptr);
        if (stamp && api->status == 200) {
            if (kept_.size() >= kMaxKept) {
                kept_.clear();
            }
            KeptAnswer& k = kept_[key];
            k = {*stamp, {}, api->status, api->json};
            k.age.start();
        }
        return {api->status, kJson, api->json};
    }
    if (const auto api = AnswerApi(queries_, path, request.query())) {
        return {api->status, kJson, api->json};
    }
    if (path == QStringLiteral("/")) {
        return {200, "text/html; charset=utf-8", Resource(QStringLiteral("page.html"))};
    }
    if (path == QStringLiteral("/page.js") || path == QStringLiteral("/page.css")) {
        return {200,
                path.endsWith(QStringLiteral(".js")) ? "text/javascript; charset=utf-8"
                                                     : "text/css; charset=utf-8",
                Resource(path.mid(1))};
    }
    if (path == QStringLiteral("/chart.js")) {
        if (chartJs_.isEmpty()) {
            return {404, "text/plain; charset=utf-8",
                    "Chart.js is not installed (Debian package libjs-chart.js)"};
        }
        return {200, "text/javascript; charset=utf-8", chartJs_};
    }
    return {404, kJson, R"({"error":"no such page"})"};
}

bool ResultsServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) {
    const Reply reply = Answer(request);
    QHttpServerResponse response(reply.type, reply.body,
                                 static_cast<QHttpServerResponse::StatusCode>(reply.status));
    // Data is never markup: scripts only from here, and no guessing of types.
    response.setHeader("Content-Security-Policy",
                       "default-src 'self'; script-src 'self'; object-src 'none'; "
                       "base-uri 'none'; frame-ancestors 'none'");
    response.setHeader("X-Content-Type-Options", "nosniff");
    response.setHeader("Cache-Control", "no-store");
    response.write(makeResponder(request, socket));
    return true;
}

void ResultsServer::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) {
    makeResponder(request, socket).write(QHttpServerResponder::StatusCode::NotFound);
}

} // namespace ufd
