// The settings files' reader on any bytes, as station.conf and as
// quorlink.conf (one reader, two tables of keys): settings or a message
// naming the file, never a crash or a hang.
#include "memory_file.h"
#include "quorlink_conf.h"
#include "settings/station_settings.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::filesystem::path file = fuzz::MemoryFile(data, size);
    const ufd::SettingsResult station = ufd::ReadStationSettings(QString::fromStdString(file));
    const quorlink::ConfLoad line = quorlink::loadQuorlinkConf(file);
    // Every refusal starts with the file it names.
    if ((station.error && !station.error->startsWith(QString::fromStdString(file))) ||
        (!line.error.empty() && !line.error.starts_with(file.string()))) {
        __builtin_trap();
    }
    return 0;
}
