#pragma once

// --help and --version, answered the same way by every program of the
// station before it opens a display, a rack or a drive. Header-only and free
// of Qt, so the plain tools share it too.

#include <cstdio>
#include <cstring>
#include <optional>

#ifndef UFD_VERSION
#error "UFD_VERSION comes from the build (link the ufd_version target)"
#endif

namespace ufd {

inline constexpr const char* kVersion = UFD_VERSION;

// Prints the usage (--help) or "NAME VERSION" (--version) to stdout when
// either is among the arguments, and gives the exit code; nothing otherwise.
inline std::optional<int> AnswerInfoOption(int argc, char** argv, const char* program,
                                           const char* usage) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(usage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("%s %s\n", program, kVersion);
            return 0;
        }
    }
    return std::nullopt;
}

} // namespace ufd
