#include "base/runtime_dir.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ufd {

namespace {

std::string Refused(const std::filesystem::path& dir, const std::string& why) {
    return "Runtime directory " + dir.string() + " refused: " + why;
}

} // namespace

PrivateDirectory CheckPrivateDirectory(const std::filesystem::path& dir) {
    PrivateDirectory result{dir, {}};
    struct stat info {};
    if (::lstat(dir.c_str(), &info) != 0) {
        if (errno != ENOENT || (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) ||
            ::lstat(dir.c_str(), &info) != 0) {
            result.refusal =
                Refused(dir, std::string("cannot be made (") + std::strerror(errno) + ")");
            return result;
        }
    }
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
    if (S_ISLNK(info.st_mode)) {
        result.refusal = Refused(dir, "it is a symbolic link");
    } else if (!S_ISDIR(info.st_mode)) {
        result.refusal = Refused(dir, "it is not a directory");
    } else if (info.st_uid != ::geteuid()) {
        result.refusal = Refused(dir, "it belongs to user " + std::to_string(info.st_uid) +
                                          ", not to user " + std::to_string(::geteuid()));
    } else if ((info.st_mode & 077) != 0) {
        result.refusal = Refused(dir, std::string("other users may use it (mode ") + mode + ")");
    }
    return result;
}

PrivateDirectory RuntimeDirectory() {
    if (const char* run = std::getenv("XDG_RUNTIME_DIR"); run != nullptr && *run == '/') {
        return CheckPrivateDirectory(std::filesystem::path(run) / "quorlink");
    }
    return CheckPrivateDirectory(std::filesystem::path("/tmp") /
                                 ("quorlink-" + std::to_string(::getuid())));
}

UniqueFd CreateNewFile(const std::filesystem::path& file, unsigned mode) {
    return UniqueFd(::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                           static_cast<mode_t>(mode)));
}

} // namespace ufd
