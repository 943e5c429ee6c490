#include "results/read_only_database.h"

#include "results/read_only.h"

#include <QSqlRecord>
#include <QUuid>

namespace ufd {

ReadOnlyDatabase::ReadOnlyDatabase(DatabaseTarget target)
    : target_(std::move(target)),
      connection_(QStringLiteral("ufd-read-") + QUuid::createUuid().toString(QUuid::Id128)) {}

ReadOnlyDatabase::~ReadOnlyDatabase() {
    Drop();
}

void ReadOnlyDatabase::Drop() {
    if (QSqlDatabase::contains(connection_)) {
        {
            QSqlDatabase db = QSqlDatabase::database(connection_, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(connection_);
    }
    columns_.clear();
}

bool ReadOnlyDatabase::Open(QString* error) {
    if (!columns_.isEmpty() && Database().isOpen()) {
        return true;
    }
    Drop();
    if (!OpenReadOnly(target_, connection_, error)) {
        Drop();
        return false;
    }
    const QSqlRecord table = Database().record(QStringLiteral("drive_records"));
    for (int i = 0; i < table.count(); ++i) {
        columns_ << table.fieldName(i);
    }
    if (!columns_.contains(QStringLiteral("serial"))) {
        *error = QStringLiteral("no table drive_records (no run recorded yet)");
        Drop();
        return false;
    }
    return true;
}

QSqlDatabase ReadOnlyDatabase::Database() const {
    return QSqlDatabase::database(connection_, false);
}

} // namespace ufd
