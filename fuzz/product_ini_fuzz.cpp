// Product.ini's reader on any bytes: an answer, never a crash or a hang.
#include "config/product_config.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ufd::ProductConfig config;
    ufd::ParseProductIni(
        config, QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    return 0;
}
