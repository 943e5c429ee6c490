#pragma once

#include <QString>

namespace ufd {

// The directory the program was started from, with exactly one trailing "/".
QString ProgramDirectory();
// The rule itself, for a given directory ("/" stays "/").
QString WithTrailingSeparator(const QString& directory);

} // namespace ufd
