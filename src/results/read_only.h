// The results database opened for reading only, as ufd-results and its page
// use it: no file, table or schema is ever created or changed, so it reads
// beside a station's write transaction, and a PostgreSQL role that may only
// SELECT is enough.
#pragma once

#include "results/database_target.h"

#include <QString>

namespace ufd {

// Opens target under the Qt SQL connection name connection, read-only. A
// SQLite file that is not there is an error, never an empty new database;
// one that is not a regular file (a FIFO) is refused before SQLite waits on it.
bool OpenReadOnly(const DatabaseTarget& target, const QString& connection, QString* error);

} // namespace ufd
