// Racks for the benchmarks: the PC disk of an example rack and `drives`
// copies of its first USB drive, each with an index and serial of its own.
#pragma once

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

inline bool WriteCopiedRack(const QString& to, const char* example, int drives,
                            QChar serialPrefix) {
    QFile in(QStringLiteral(UFD_SOURCE_DIR "/examples/rack/") + QLatin1String(example));
    if (!in.open(QIODevice::ReadOnly)) {
        return false;
    }
    QJsonObject rack = QJsonDocument::fromJson(in.readAll()).object();
    const QJsonArray all = rack.value(QStringLiteral("drives")).toArray();
    QJsonArray out{all.at(0)};
    for (int i = 1; i <= drives; ++i) {
        QJsonObject d = all.at(1).toObject();
        d[QStringLiteral("index")] = i;
        d[QStringLiteral("serial")] =
            QString(serialPrefix) + QStringLiteral("%1").arg(i, 7, 10, QLatin1Char('0'));
        out.append(d);
    }
    rack[QStringLiteral("drives")] = out;
    QFile f(to);
    return f.open(QIODevice::WriteOnly) && f.write(QJsonDocument(rack).toJson()) > 0;
}

// A program directory in `dir`/bin as the package lays it out: the station,
// Vasket and the library beside the example Product.ini. Returns the folder.
inline QString CopyStationProgram(const QString& dir) {
    const QString bin = dir + QStringLiteral("/bin");
    QDir().mkpath(bin);
    for (const char* name : {"ufd-station", "Vasket", "libquorlink.so"}) {
        QFile::copy(QStringLiteral(UFD_BIN_DIR "/") + QString::fromLatin1(name),
                    bin + QLatin1Char('/') + QString::fromLatin1(name));
    }
    QFile::copy(QStringLiteral(UFD_SOURCE_DIR "/examples/Product.ini"),
                bin + QStringLiteral("/Product.ini"));
    return bin;
}
