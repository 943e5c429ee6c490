#include "results_server.h"

#include "page_language.h"
#include "results_api.h"

#include <QFile>
#include <QPointer>
#include <QUrl>

namespace ufd {

namespace {

constexpr const char* kChartJsDir = "/usr/share/javascript/chart.js/";
constexpr const char* kJson = "application/json; charset=utf-8";

QByteArray Resource(const char* name) {
    QFile f(QStringLiteral(":/web/") + QLatin1String(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Every path the server answers.
struct Route {
    enum class Kind { Page, File, ChartJs, Api };
    const char* path;
    Kind kind;
    const char* file = nullptr; // Page and File: the page's file built into the program
    const char* type = nullptr; // Page, File and ChartJs
    ApiRoute api = ApiRoute::Runs;
};

const Route kRoutes[] = {
    {"/", Route::Kind::Page, "page.html", "text/html; charset=utf-8"},
    {"/page.js", Route::Kind::File, "page.js", "text/javascript; charset=utf-8"},
    {"/page.css", Route::Kind::File, "page.css", "text/css; charset=utf-8"},
    {"/chart.js", Route::Kind::ChartJs, nullptr, "text/javascript; charset=utf-8"},
    {"/api/yield", Route::Kind::Api, nullptr, nullptr, ApiRoute::Yield},
    {"/api/pareto", Route::Kind::Api, nullptr, nullptr, ApiRoute::Pareto},
    {"/api/runs", Route::Kind::Api, nullptr, nullptr, ApiRoute::Runs},
    {"/api/drives", Route::Kind::Api, nullptr, nullptr, ApiRoute::Drives},
};

const Route* Find(const QString& path) {
    for (const Route& r : kRoutes) {
        if (path == QLatin1String(r.path)) {
            return &r;
        }
    }
    return nullptr;
}

// Data is never markup: scripts only from here, and no guessing of types.
HttpResponse Page(int status, const QByteArray& type, const QByteArray& body) {
    HttpResponse r{status, type, body, {}, false};
    r.headers = {{"Content-Security-Policy",
                  "default-src 'self'; script-src 'self'; object-src 'none'; base-uri 'none'; "
                  "frame-ancestors 'none'"},
                 {"X-Content-Type-Options", "nosniff"},
                 {"Cache-Control", "no-store"}};
    return r;
}

HttpResponse JsonAnswer(const ApiReply& reply) {
    return Page(reply.status, kJson, reply.json);
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

ResultsServer::ResultsServer(const DatabaseTarget& target, QByteArray chartJs,
                             HttpServerLimits limits)
    : figures_(target, true), records_(target, false), chartJs_(std::move(chartJs)),
      http_(limits, [this](HttpConnection* c, const HttpRequest& r) { Handle(c, r); }) {}

bool ResultsServer::LoadIndex(QString* error) {
    return figures_.LoadIndex(error);
}

quint16 ResultsServer::Listen(const QHostAddress& address, quint16 port, AccessRules rules) {
    const quint16 bound = http_.Listen(address, port);
    rules_ = std::move(rules);
    rules_.port = bound;
    return bound;
}

void ResultsServer::Handle(HttpConnection* connection, const HttpRequest& request) {
    if (std::optional<HttpResponse> refusal = CheckAccess(rules_, request)) {
        connection->Respond(*refusal);
        return;
    }
    if (request.method != "GET" && request.method != "HEAD") {
        HttpResponse r = JsonAnswer(ApiFailure(ApiError::BadRequest, "only GET is answered"));
        r.status = 405;
        r.headers.append(qMakePair(QByteArray("Allow"), QByteArray("GET, HEAD")));
        connection->Respond(r);
        return;
    }
    const QUrl url = QUrl::fromEncoded(request.target, QUrl::StrictMode);
    if (!request.target.startsWith('/') || !url.isValid()) {
        connection->Respond(JsonAnswer(ApiFailure(ApiError::BadRequest, "malformed path")));
        return;
    }
    const Route* route = Find(url.path());
    if (route == nullptr) {
        connection->Respond(Page(404, kJson, R"({"error":"no such page"})"));
        return;
    }
    switch (route->kind) {
    case Route::Kind::Page: {
        const QTranslator* language =
            languages_.Choose(QUrlQuery(url).queryItemValue(QStringLiteral("lang")),
                              request.Header("accept-language"));
        connection->Respond(
            Page(200, route->type, TranslatedPage(Resource(route->file), language)));
        return;
    }
    case Route::Kind::File:
        connection->Respond(Page(200, route->type, Resource(route->file)));
        return;
    case Route::Kind::ChartJs:
        connection->Respond(chartJs_.isEmpty()
                                ? Page(404, "text/plain; charset=utf-8",
                                       "Chart.js is not installed (Debian package libjs-chart.js)")
                                : Page(200, route->type, chartJs_));
        return;
    case Route::Kind::Api:
        break;
    }
    ApiReply refusal;
    const std::optional<ApiCall> call = ParseApiCall(route->api, QUrlQuery(url), &refusal);
    if (!call) {
        connection->Respond(JsonAnswer(refusal));
        return;
    }
    const bool figures = call->route == ApiRoute::Yield || call->route == ApiRoute::Pareto;
    QPointer<HttpConnection> guard(connection);
    (figures ? figures_ : records_).Run(*call, this, [guard](const ApiReply& reply) {
        if (guard) {
            guard->Respond(JsonAnswer(reply));
        }
    });
}

} // namespace ufd
