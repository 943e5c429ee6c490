// The JSON behind the supervisor's page: /api/yield, /api/pareto, /api/runs
// and /api/drives. A request is checked first (ParseApiCall, on the server's
// event loop, no database needed) and then run (RunApiCall, on a worker with
// its own connection). A parameter that is unknown, repeated or malformed is
// a 400 with the reason in "error"; records that cannot be read a 503.
#pragma once

#include "results/yield_index.h"
#include "results/yield_query.h"

#include <QByteArray>
#include <QUrlQuery>

#include <optional>

namespace ufd {

enum class ApiRoute { Yield, Pareto, Runs, Drives };

// Why an answer is not the figures: the request's fault, or the records'.
enum class ApiError { BadRequest, Unavailable };

struct ApiReply {
    int status = 200;
    QByteArray json;
};

ApiReply ApiFailure(ApiError error, const QString& reason);

// One checked request.
struct ApiCall {
    ApiRoute route = ApiRoute::Runs;
    RecordFilter filter;
    YieldBy by = YieldBy::Day;
    int limit = 0;
    QString serial;
};

// nullopt: the request is refused, *refusal holds the 400.
std::optional<ApiCall> ParseApiCall(ApiRoute route, const QUrlQuery& query, ApiReply* refusal);

// The refusal of a call the records' columns cannot answer (a grouping by a
// column an older station's records lack: 400), or the 503 of records that
// cannot be opened; nullopt when the call may run. RunApiCall asks it first.
std::optional<ApiReply> RefuseForColumns(RecordReader& db, const ApiCall& call);

// index: when given, /api/yield and /api/pareto are answered from it
// instead of the database.
ApiReply RunApiCall(RecordReader& db, YieldQueries& queries, const ApiCall& call,
                    YieldIndex* index = nullptr);

} // namespace ufd
