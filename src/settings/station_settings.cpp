#include "settings/station_settings.h"

#include "base/ini_file.h"
#include "settings/plain_text.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>

namespace ufd {

namespace {

const QString kEnvName = QStringLiteral("UFD_STATION_CONF");
const QString kSystemFile = QStringLiteral("/etc/ufd-station/station.conf");

std::optional<bool> ParseBool(const QString& v) {
    const QString s = v.trimmed().toLower();
    if (s == QLatin1String("true") || s == QLatin1String("yes") || s == QLatin1String("1") ||
        s == QLatin1String("on")) {
        return true;
    }
    if (s == QLatin1String("false") || s == QLatin1String("no") || s == QLatin1String("0") ||
        s == QLatin1String("off")) {
        return false;
    }
    return std::nullopt;
}

// A speed floor in MB/s: 0 (none) or more, decimals allowed.
std::optional<QString> ReadFloor(const QString& v, double& floor, const Translate& tr) {
    bool ok = false;
    const double n = v.trimmed().toDouble(&ok);
    if (!ok || !(n >= 0) || !std::isfinite(n)) {
        return tr(kRefusalContext,
                  QT_TRANSLATE_NOOP("Refusals", "must be a number of MB/s, 0 or more"));
    }
    floor = n;
    return std::nullopt;
}

std::optional<QString> ReadSwitch(const QString& v, bool& on, const Translate& tr) {
    const auto b = ParseBool(v);
    if (!b) {
        return tr(kRefusalContext, QT_TRANSLATE_NOOP("Refusals", "must be true or false"));
    }
    on = *b;
    return std::nullopt;
}

// A name shown on the window and kept in the records: no control characters.
std::optional<QString> ReadText(const QString& v, QString& text, const Translate& tr) {
    const QString t = v.trimmed();
    if (auto why = PlainTextRefusal(t, tr)) {
        return why;
    }
    text = t;
    return std::nullopt;
}

// One known key: parses its text into the settings, or says what is wrong.
using KeyReader =
    std::function<std::optional<QString>(const QString&, StationSettings&, const Translate&)>;

const std::map<QString, KeyReader>& KnownKeys() {
    static const std::map<QString, KeyReader> keys = {
        {QStringLiteral("Volume/LargeFileSystem"),
         [](const QString& v, StationSettings& s, const Translate& tr) -> std::optional<QString> {
             const QString t = v.trimmed().toLower();
             if (t == QLatin1String("auto")) {
                 s.LargeFs = LargeFileSystem::Auto;
             } else if (t == QLatin1String("fat32")) {
                 s.LargeFs = LargeFileSystem::Fat32;
             } else if (t == QLatin1String("exfat")) {
                 s.LargeFs = LargeFileSystem::Exfat;
             } else {
                 return tr(kRefusalContext,
                           QT_TRANSLATE_NOOP("Refusals", "must be auto, fat32 or exfat"));
             }
             return std::nullopt;
         }},
        {QStringLiteral("Run/Parallel"),
         [](const QString& v, StationSettings& s, const Translate& tr) {
             return ReadSwitch(v, s.Parallel, tr);
         }},
        {QStringLiteral("Window/OperatorLot"),
         [](const QString& v, StationSettings& s, const Translate& tr) {
             return ReadSwitch(v, s.OperatorLot, tr);
         }},
        {QStringLiteral("Window/Rows"),
         [](const QString& v, StationSettings& s, const Translate& tr) -> std::optional<QString> {
             bool ok = false;
             const int n = v.trimmed().toInt(&ok);
             if (!ok || n < kMinWindowRows || n > kMaxWindowRows) {
                 return tr(kRefusalContext,
                           QT_TRANSLATE_NOOP("Refusals", "must be a whole number from %1 to %2"))
                     .arg(kMinWindowRows)
                     .arg(kMaxWindowRows);
             }
             s.WindowRows = n;
             return std::nullopt;
         }},
        {QStringLiteral("Window/RowPerSocket"),
         [](const QString& v, StationSettings& s, const Translate& tr) {
             return ReadSwitch(v, s.RowPerSocket, tr);
         }},
        {QStringLiteral("Window/VerdictColours"),
         [](const QString& v, StationSettings& s, const Translate& tr) {
             return ReadSwitch(v, s.VerdictColours, tr);
         }},
        {QStringLiteral("Window/Language"),
         [](const QString& v, StationSettings& s, const Translate& tr) -> std::optional<QString> {
             QStringList known;
             for (const char* language : kStationLanguages) {
                 known << QString::fromLatin1(language);
             }
             if (!v.trimmed().isEmpty() && !known.contains(v.trimmed())) {
                 return tr(kRefusalContext,
                           QT_TRANSLATE_NOOP("Refusals",
                                             "must be one of %1, or empty for the locale's"))
                     .arg(known.join(QStringLiteral(", ")));
             }
             s.Language = v.trimmed();
             return std::nullopt;
         }},
        {QStringLiteral("Window/KeepReport"),
         [](const QString& v, StationSettings& s, const Translate& tr) {
             return ReadSwitch(v, s.KeepReport, tr);
         }},
        {QStringLiteral("Records/RequireOperatorLot"),
         [](const QString& v, StationSettings& s, const Translate& tr) {
             return ReadSwitch(v, s.RequireOperatorLot, tr);
         }},
        {QStringLiteral("Records/OperatorLotPerRun"),
         [](const QString& v, StationSettings& s, const Translate& tr) {
             return ReadSwitch(v, s.OperatorLotPerRun, tr);
         }},
        {QStringLiteral("Results/Database"),
         [](const QString& v, StationSettings& s, const Translate&) -> std::optional<QString> {
             s.Database = v.trimmed();
             return std::nullopt;
         }},
        {QStringLiteral("Results/StationId"),
         [](const QString& v, StationSettings& s, const Translate& tr) -> std::optional<QString> {
             return ReadText(v, s.StationId, tr);
         }},
        {QStringLiteral("Records/DropFolder"),
         [](const QString& v, StationSettings& s, const Translate& tr) -> std::optional<QString> {
             return ReadText(v, s.DropFolder, tr);
         }},
        {QStringLiteral("Scan/Enabled"),
         [](const QString& v, StationSettings& s, const Translate& tr) {
             return ReadSwitch(v, s.ScanEnabled, tr);
         }},
        {QStringLiteral("Scan/OperatorPrefix"),
         [](const QString& v, StationSettings& s, const Translate& tr) {
             return ReadText(v, s.ScanOperatorPrefix, tr);
         }},
        {QStringLiteral("Scan/LotPrefix"),
         [](const QString& v, StationSettings& s, const Translate& tr) {
             return ReadText(v, s.ScanLotPrefix, tr);
         }},
        {QStringLiteral("Scan/StartCode"),
         [](const QString& v, StationSettings& s, const Translate& tr) {
             return ReadText(v, s.ScanStartCode, tr);
         }},
        {QStringLiteral("Scan/KeyGapMs"),
         [](const QString& v, StationSettings& s, const Translate& tr) -> std::optional<QString> {
             bool ok = false;
             const int n = v.trimmed().toInt(&ok);
             if (!ok || n < kMinScanKeyGapMs || n > kMaxScanKeyGapMs) {
                 return tr(kRefusalContext,
                           QT_TRANSLATE_NOOP(
                               "Refusals", "must be a whole number of milliseconds from %1 to %2"))
                     .arg(kMinScanKeyGapMs)
                     .arg(kMaxScanKeyGapMs);
             }
             s.ScanKeyGapMs = n;
             return std::nullopt;
         }},
        {QStringLiteral("Serve/KeyFile"),
         [](const QString& v, StationSettings& s, const Translate& tr) -> std::optional<QString> {
             const QString path = v.trimmed();
             if (!path.isEmpty() && !path.startsWith(QLatin1Char('/'))) {
                 return tr(kRefusalContext,
                           QT_TRANSLATE_NOOP("Refusals", "must be an absolute path"));
             }
             s.ServeKeyFile = path;
             return std::nullopt;
         }},
        {QStringLiteral("MediaTest/Probe"),
         [](const QString& v, StationSettings& s, const Translate& tr) {
             return ReadSwitch(v, s.MediaProbe, tr);
         }},
        {QStringLiteral("MediaTest/Verify"),
         [](const QString& v, StationSettings& s, const Translate& tr) {
             return ReadSwitch(v, s.MediaVerify, tr);
         }},
        {QStringLiteral("MediaTest/Surface"),
         [](const QString& v, StationSettings& s, const Translate& tr) -> std::optional<QString> {
             bool ok = false;
             const int n = v.trimmed().toInt(&ok);
             if (!ok || n < 0 || n > kMaxSurfacePercent) {
                 return tr(kRefusalContext,
                           QT_TRANSLATE_NOOP("Refusals", "must be a whole percent from 0 to %1"))
                     .arg(kMaxSurfacePercent);
             }
             s.MediaSurface = n;
             return std::nullopt;
         }},
        {QStringLiteral("MediaTest/MinWriteMBps"),
         [](const QString& v, StationSettings& s, const Translate& tr) {
             return ReadFloor(v, s.MinWriteMBps, tr);
         }},
        {QStringLiteral("MediaTest/MinReadMBps"),
         [](const QString& v, StationSettings& s, const Translate& tr) {
             return ReadFloor(v, s.MinReadMBps, tr);
         }},
    };
    return keys;
}

// Sections of free keys: the reader gets the key's name within the section.
using SectionReader = std::function<std::optional<QString>(const QString&, const QString&,
                                                           StationSettings&, const Translate&)>;

const std::map<QString, SectionReader>& KnownSections() {
    static const std::map<QString, SectionReader> sections = {
        {QStringLiteral("Sockets"),
         [](const QString& name, const QString& v, StationSettings& s,
            const Translate& tr) -> std::optional<QString> {
             bool ok = false;
             const int index = name.trimmed().toInt(&ok);
             if (!ok || index < 0 || index > kMaxSocketIndex) {
                 return tr(kRefusalContext,
                           QT_TRANSLATE_NOOP("Refusals",
                                             "is no drive index: the key must be 0 to %1"))
                     .arg(kMaxSocketIndex);
             }
             QString label;
             if (auto why = ReadText(v, label, tr)) {
                 return why;
             }
             if (label.isEmpty()) {
                 return tr(kRefusalContext, QT_TRANSLATE_NOOP("Refusals", "must name the socket"));
             }
             // Records are counted by label: two sockets of one label would merge.
             for (const auto& [other, taken] : s.Sockets) {
                 if (other != index && taken == label) {
                     return tr(kRefusalContext,
                               QT_TRANSLATE_NOOP("Refusals",
                                                 "is socket %1's label already: sockets %1 "
                                                 "and %2 need labels of their own"))
                         .arg(other)
                         .arg(index);
                 }
             }
             s.Sockets[index] = label;
             return std::nullopt;
         }},
    };
    return sections;
}

// A scanner switched on must have a code to read, and no code may begin
// another: the scan could not be told which it is.
std::optional<QString> ScanCodesProblem(const StationSettings& s, const Translate& tr) {
    if (!s.ScanEnabled) {
        return std::nullopt;
    }
    const std::pair<QString, QString> codes[] = {
        {QStringLiteral("OperatorPrefix"), s.ScanOperatorPrefix},
        {QStringLiteral("LotPrefix"), s.ScanLotPrefix},
        {QStringLiteral("StartCode"), s.ScanStartCode}};
    if (std::all_of(std::begin(codes), std::end(codes),
                    [](const auto& c) { return c.second.isEmpty(); })) {
        return tr(kRefusalContext,
                  QT_TRANSLATE_NOOP("Refusals", "needs OperatorPrefix, LotPrefix or StartCode"));
    }
    for (const auto& [key, code] : codes) {
        for (const auto& [other, otherCode] : codes) {
            if (key != other && !code.isEmpty() && !otherCode.isEmpty() &&
                otherCode.startsWith(code)) {
                return tr(kRefusalContext,
                          QT_TRANSLATE_NOOP("Refusals",
                                            "%1 begins %2: a scan could not tell them apart"))
                    .arg(key, other);
            }
        }
    }
    return std::nullopt;
}

} // namespace

QString FindStationConf(const QString& programDirectory) {
    const QString fromEnv = qEnvironmentVariable(qPrintable(kEnvName));
    if (!fromEnv.isEmpty()) {
        return fromEnv;
    }
    const QString beside = programDirectory + QStringLiteral("station.conf");
    if (QFileInfo::exists(beside)) {
        return beside;
    }
    if (QFileInfo::exists(kSystemFile)) {
        return kSystemFile;
    }
    return {};
}

SettingsResult ReadStationSettings(const QString& file, bool mustExist, const Translate& tr) {
    SettingsResult result;
    if (file.isEmpty()) {
        return result;
    }
    const IniRead read = ReadIniFile(QFile::encodeName(file).toStdString());
    if (read.result == IniRead::Result::Absent) {
        if (mustExist) {
            result.error =
                tr(kRefusalContext, QT_TRANSLATE_NOOP("Refusals", "%1: no such file")).arg(file);
        }
        return result;
    }
    if (read.result == IniRead::Result::Refused) {
        const IniRefusal& refused = read.refusal;
        QString why = tr(kRefusalContext, refused.why);
        if (!refused.detail.empty()) {
            why = why.arg(QString::fromLocal8Bit(refused.detail));
        }
        if (refused.line > 0) {
            why = tr(kRefusalContext, kIniLineRefusal).arg(QString::number(refused.line), why);
        }
        result.error = file + QStringLiteral(": ") + why;
        return result;
    }
    result.settings.Source = file;
    const auto refuse = [&](const IniEntry& e, const QString& why) {
        result.error = QString::fromStdString(read.ini.error(e, why.toStdString()));
        return result;
    };
    for (const IniEntry& e : read.ini.entries()) {
        const QString section = QString::fromStdString(e.section);
        const QString value = QString::fromStdString(e.value);
        const auto known =
            KnownKeys().find(section + QLatin1Char('/') + QString::fromStdString(e.key));
        if (known != KnownKeys().end()) {
            if (const auto why = known->second(value, result.settings, tr)) {
                return refuse(e, *why);
            }
            continue;
        }
        if (const auto free = KnownSections().find(section); free != KnownSections().end()) {
            if (const auto why =
                    free->second(QString::fromStdString(e.key), value, result.settings, tr)) {
                return refuse(e, *why);
            }
            continue;
        }
        // A misspelt key would otherwise switch nothing without a word.
        if (e.section.empty()) {
            return refuse(
                e, tr(kRefusalContext, QT_TRANSLATE_NOOP("Refusals", "outside any section")));
        }
        const QString prefix = section + QLatin1Char('/');
        const bool knownSection =
            std::any_of(KnownKeys().begin(), KnownKeys().end(),
                        [&](const auto& k) { return k.first.startsWith(prefix); });
        return refuse(e,
                      knownSection
                          ? tr(kRefusalContext, QT_TRANSLATE_NOOP("Refusals", "unknown key"))
                          : tr(kRefusalContext, QT_TRANSLATE_NOOP("Refusals", "unknown section")));
    }
    if (const auto why = ScanCodesProblem(result.settings, tr)) {
        return refuse(*read.ini.find("Scan", "Enabled"), *why);
    }
    return result;
}

QString SettingError(const QString& file, const QString& section, const QString& key,
                     const QString& value, const QString& why) {
    const IniEntry entry{section.toStdString(), key.toStdString(), value.toStdString(), 0};
    return QString::fromStdString(
        IniError(QFile::encodeName(file).toStdString(), entry, why.toStdString()));
}

SettingsResult LoadStationSettings(const QString& programDirectory, const Translate& tr) {
    const bool named = !qEnvironmentVariableIsEmpty(qPrintable(kEnvName));
    return ReadStationSettings(FindStationConf(programDirectory), named, tr);
}

} // namespace ufd
