// The product the station builds, read once from Product.ini at start-up.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <filesystem>

namespace ufd {

struct ProductConfig {
    QString ScsiManufactureString;
    QString ScsiProductString;
    QString Vid;
    QString Pid;
    QString UsbManufactureString;
    QString UsbProductString;
    double FirstShare = 0;
    double SecondShare = 0;
    int16_t ApMode = 0;
    QString DiskLabel;
};

// Results of ReadProductConfig.
inline constexpr int16_t kConfigSharesWrong = 0;
inline constexpr int16_t kConfigUnreadable = 1;
inline constexpr int16_t kConfigGood = 2;

// Reads <ProgramDirectory()>Product.ini into config (fields keep the last
// value the file gave them). Shows its own message boxes on failure.
int16_t ReadProductConfig(ProductConfig& config);
// The same with an explicit path (tests, tools). Anything but a regular
// file of at most kMaxProductIniBytes is "Open product.ini failed" at once.
int16_t ReadProductConfig(ProductConfig& config, const std::filesystem::path& file);

inline constexpr qint64 kMaxProductIniBytes = 1024 * 1024;

// The file's bytes read into config, without any message box: what
// ReadProductConfig then shows (and what the fuzzer drives).
enum class ProductIniParse { Good, SharesWrong, Unreadable, PartitionNumberOutOfRange };
ProductIniParse ParseProductIni(ProductConfig& config, const QByteArray& bytes);

} // namespace ufd
