// The product the station builds, read once from Product.ini at start-up.
#pragma once

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
// The same with an explicit path (tests, tools).
int16_t ReadProductConfig(ProductConfig& config, const std::filesystem::path& file);

} // namespace ufd
