#include "results/status_reasons.h"

#include "base/hex_digits.h"

#include <QCoreApplication>

namespace ufd {

namespace {

QString Text(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

QString StatusReasonText(int status) {
    if (status == 0) {
        return {};
    }
    if (const StatusCode* code = FindStatusCode(status)) {
        return Text(code->reason);
    }
    return QStringLiteral("unknown status ") +
           QString::fromStdString(HexDigits(static_cast<uint32_t>(status), 2));
}

QString TrStatusReason(int status) {
    return QCoreApplication::translate(kStatusReasonContext,
                                       StatusReasonText(status).toUtf8().constData());
}

QString StatusCodeLine(const StatusCode& code) {
    return QStringLiteral("0x%1  %2  %3")
        .arg(QString::fromStdString(HexDigits(static_cast<uint16_t>(code.number), 2)),
             QString::number(code.number).rightJustified(3), Text(code.reason));
}

} // namespace ufd
