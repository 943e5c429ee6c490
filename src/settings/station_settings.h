// station.conf: the station's own settings beyond the product. Product.ini
// describes the product and is never extended; everything the Linux line
// adds is switched here, and every default keeps the original behaviour.
#pragma once

#include "settings/translate.h"

#include <QString>

#include <map>
#include <optional>

namespace ufd {

// The file system of an area above 4,096,000 sectors.
enum class LargeFileSystem { Auto, Fat32, Exfat };

inline constexpr int kMinWindowRows = 7;
inline constexpr int kMaxWindowRows = 16;
inline constexpr int kMaxSocketIndex = 16; // drive indexes 0..16

struct StationSettings {
    LargeFileSystem LargeFs = LargeFileSystem::Auto; // [Volume] LargeFileSystem
    bool Parallel = false;                           // [Run] Parallel
    bool OperatorLot = false;                        // [Window] OperatorLot: the two fields shown
    int WindowRows = kMinWindowRows;                 // [Window] Rows
    bool RowPerSocket = false;       // [Window] RowPerSocket: a row per socket, not per slot
    bool VerdictColours = false;     // [Window] VerdictColours: the verdict green or red
    bool KeepReport = false;         // [Window] KeepReport: the report stands until Clear
    bool RequireOperatorLot = false; // [Records] RequireOperatorLot: no run without both
    bool OperatorLotPerRun = false; // [Records] OperatorLotPerRun: --batch never takes the window's
    QString Language; // [Window] Language: empty = the locale's; "en" = the English texts
    std::map<int, QString> Sockets; // [Sockets]: drive index -> the socket's row label
    QString Database;               // [Results] Database: empty = the default SQLite file
    QString StationId;              // [Results] StationId: empty = the host name
    QString DropFolder; // [Records] DropFolder: one result file per run for the MES; empty = none
    QString Source;     // the file these came from; empty when none was found
    // [Serve] KeyFile: the access key ufd-results serve asks for on an
    // address other than loopback; empty = none (such an address then needs
    // --open).
    QString ServeKeyFile;

    // [MediaTest]: the flash behind the controller, tested inside Format.
    // All off (the defaults) sends the drive not one command more.
    bool MediaProbe = false;  // [MediaTest] Probe: the sectors the flash really keeps
    bool MediaVerify = false; // [MediaTest] Verify: the run's own writes read back
    int MediaSurface = 0;     // [MediaTest] Surface: percent of the drive written and read
    double MinWriteMBps = 0;  // [MediaTest] MinWriteMBps: 0 = no floor
    double MinReadMBps = 0;   // [MediaTest] MinReadMBps: 0 = no floor

    // [Scan]: a barcode scanner typing as a keyboard. A badge fills the
    // operator's field, a lot card the lot's, the start code presses Start.
    bool ScanEnabled = false;   // [Scan] Enabled
    QString ScanOperatorPrefix; // [Scan] OperatorPrefix: empty = no badges
    QString ScanLotPrefix;      // [Scan] LotPrefix: empty = no lot cards
    QString ScanStartCode;      // [Scan] StartCode: empty = none
    int ScanKeyGapMs = 30;      // [Scan] KeyGapMs: the longest pause between a scan's keys
};

inline constexpr int kMinScanKeyGapMs = 5;
inline constexpr int kMaxScanKeyGapMs = 100;

inline constexpr int kMaxSurfacePercent = 100;

// The languages the station ships: English, its own texts, and translations.
inline constexpr const char* kStationLanguages[] = {"en", "zh_CN"};

// Where station.conf is looked up: $UFD_STATION_CONF, else station.conf in
// the program directory, else /etc/ufd-station/station.conf. The first that
// names something wins; an empty answer means no file (all defaults).
QString FindStationConf(const QString& programDirectory);

struct SettingsResult {
    StationSettings settings;
    std::optional<QString> error; // names the file, the key and the value
};

// Reads one station.conf. An absent file gives the defaults, except a file
// named by $UFD_STATION_CONF, which the engineer meant to be there.
SettingsResult ReadStationSettings(const QString& file, bool mustExist = false,
                                   const Translate& tr = English);

// The refusal of a value that only a later step can judge, in the words of
// every other bad value: "file: [Section] Key: "value": why".
QString SettingError(const QString& file, const QString& section, const QString& key,
                     const QString& value, const QString& why);

// FindStationConf + ReadStationSettings; tr puts the refusal's reason into the
// language it is shown in.
SettingsResult LoadStationSettings(const QString& programDirectory, const Translate& tr = English);

} // namespace ufd
