#include "results/status_reasons.h"

namespace ufd {

// Stand-in until the table of reasons lands: the code in hexadecimal only.
std::span<const StatusReason> StatusReasons() {
    return {};
}

QString StatusReasonText(int status) {
    return status == 0 ? QString()
                       : QStringLiteral("unknown status ") +
                             QStringLiteral("%1").arg(status, 2, 16, QLatin1Char('0')).toUpper();
}

} // namespace ufd
