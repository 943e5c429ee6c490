#include "quorlink_conf.h"

#include <cstdlib>

namespace quorlink {

std::filesystem::path quorlinkConfPath() {
    const char* env = std::getenv("QUORLINK_CONF");
    if (env != nullptr && *env != '\0') {
        return env;
    }
    return "/etc/quorlink/quorlink.conf";
}

// Placeholder until the reader lands: the defaults, nothing allowed.
ConfLoad loadQuorlinkConf(const std::filesystem::path& file) {
    ConfLoad load;
    load.conf.file = file;
    return load;
}

} // namespace quorlink
