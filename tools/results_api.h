// The JSON behind the supervisor's page: /api/yield, /api/pareto, /api/runs
// and /api/drives, each a function of its query parameters. A parameter that
// is unknown, repeated or malformed is a 400 with the reason in "error".
#pragma once

#include "results/yield_index.h"
#include "results/yield_query.h"

#include <QByteArray>
#include <QUrlQuery>

#include <optional>

namespace ufd {

struct ApiReply {
    int status = 200;
    QByteArray json;
};

// nullopt: path is not an API path. index: when given, /api/yield and
// /api/pareto are answered from it instead of the database.
std::optional<ApiReply> AnswerApi(YieldQueries& queries, const QString& path,
                                  const QUrlQuery& query, YieldIndex* index = nullptr);

} // namespace ufd
