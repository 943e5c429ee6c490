// The journal reader on any bytes: an answer, never a crash or a hang; and
// every record it accepts comes back the same from the line a replay or a
// rewrite would write for it, so a journal rewritten after a torn line keeps
// exactly the records it had.
#include "results/journal.h"

#include <QJsonDocument>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const ufd::JournalLines lines = ufd::ParseJournal(
        QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    for (const ufd::DriveRecord& r : lines.records) {
        const QByteArray line = QJsonDocument(ufd::ToJson(r)).toJson(QJsonDocument::Compact);
        const ufd::JournalLines again = ufd::ParseJournal(line);
        if (again.records.size() != 1 || !(again.records.front() == r)) {
            __builtin_trap();
        }
    }
    return 0;
}
