// ufd-results yield, history and serve: the line's figures, one drive's runs
// and the supervisor's page, all over the database opened read-only.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace ufd {

// The exit code of command with its arguments; nullopt when command is
// none of these three.
std::optional<int> RunYieldCommand(const QString& command, QStringList args);

} // namespace ufd
