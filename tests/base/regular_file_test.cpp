// The one bounded reader of a regular file, on everything a person can name
// in place of one, and the descriptor owner it and the writers rely on.
#include "base/regular_file.h"
#include "base/unique_fd.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

#include <fcntl.h>
#include <sys/stat.h>

namespace ufd {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using test::writeFile;

bool IsOpen(int fd) {
    return ::fcntl(fd, F_GETFD) != -1;
}

TEST(RegularFile, ReadsWhatIsThereAndRefusesWhatIsNot) {
    using Result = RegularFileRead::Result;
    constexpr uintmax_t kCap = 16;
    TempDir dir;
    // clang-format off
    const std::tuple<const char*, std::function<void(const fs::path&)>, Result, std::string> cases[] = {
        {"absent", [](const fs::path&) {}, Result::Absent, ""},
        {"empty", [&](const fs::path& f) { writeFile(f, ""); }, Result::Read, ""},
        {"bytes with NUL", [&](const fs::path& f) { writeFile(f, std::string("a\0b\n", 4)); },
         Result::Read, std::string("a\0b\n", 4)},
        {"exactly the bound", [&](const fs::path& f) { writeFile(f, std::string(kCap, 'x')); },
         Result::Read, std::string(kCap, 'x')},
        {"a directory", [](const fs::path& f) { fs::create_directory(f); }, Result::NotRegular, ""},
        // Neither waited on (no writer ever comes) nor read without end.
        {"a FIFO", [](const fs::path& f) { ASSERT_EQ(::mkfifo(f.c_str(), 0600), 0); }, Result::NotRegular, ""},
        {"a link to /dev/zero", [](const fs::path& f) { fs::create_symlink("/dev/zero", f); },
         Result::NotRegular, ""},
        {"a link to a regular file", [&](const fs::path& f) { writeFile(dir.path / "target", "kept");
                                                            fs::create_symlink(dir.path / "target", f); },
         Result::Read, "kept"},
        {"a dangling link", [](const fs::path& f) { fs::create_symlink("nowhere", f); }, Result::Absent, ""},
        {"below a file", [&](const fs::path& f) { writeFile(f.parent_path(), "x"); },
         Result::Unreadable, ""},
    };
    // clang-format on
    int n = 0;
    for (const auto& [name, arrange, result, bytes] : cases) {
        SCOPED_TRACE(name);
        const fs::path file = std::string(name) == "below a file" ? dir.path / "plain" / "x"
                                                                  : dir.path / std::to_string(n++);
        arrange(file);
        const RegularFileRead read = ReadRegularFile(file, kCap);
        EXPECT_EQ(read.result, result);
        EXPECT_EQ(read.bytes, bytes);
        EXPECT_EQ(read.error != 0, result == Result::Unreadable) << read.error;
    }
}

TEST(UniqueFd, OneOwnerClosesOnce) {
    int raw[2];
    ASSERT_EQ(::pipe(raw), 0);
    {
        UniqueFd a(raw[0]);
        UniqueFd b(std::move(a)); // moved: a no longer closes it
        EXPECT_FALSE(a);
        UniqueFd c(raw[1]);
        b = std::move(c); // the old descriptor of b is closed, c's kept
        EXPECT_FALSE(IsOpen(raw[0]));
        EXPECT_TRUE(IsOpen(raw[1]));
        const int given = b.release();
        EXPECT_EQ(given, raw[1]);
        EXPECT_FALSE(b);
    }
    EXPECT_TRUE(IsOpen(raw[1])) << "released, so not closed";
    UniqueFd d(raw[1]);
    EXPECT_EQ(d.close(), 0);
    EXPECT_FALSE(IsOpen(raw[1]));
    EXPECT_EQ(d.close(), 0) << "closing nothing twice";
}

} // namespace
} // namespace ufd
