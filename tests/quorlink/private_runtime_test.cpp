// Private runtime files through libquorlink.so: a runtime directory another
// user could have made is refused (naming it), and what a killed process
// left is cleared. Per-thread reply files: threads_test.
#include "platform/runtime_dir.h"

#include <quorlink/quorlink.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// 1 when this thread has reply files to be given.
uint16_t replyPaths() {
    std::array<char, 4096> t{}, b{};
    return quorlink_reply_paths(t.data(), t.size(), b.data(), b.size());
}

class PrivateRuntime : public testing::Test {
protected:
    static void SetUpTestSuite() {
        char tmpl[] = "/tmp/quorlink-private-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        fs::copy_file(FAST_RACK, dir_ / "rack.json");
        setenv("QUORLINK_RACK", (dir_ / "rack.json").c_str(), 1);
        setenv("QUORLINK_STATE_DIR", (dir_ / "state").c_str(), 1);
        setenv("QUORLINK_TRACE", (dir_ / "trace.jsonl").c_str(), 1);
    }
    static void TearDownTestSuite() {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    void SetUp() override {
        unsetenv("QUORLINK_REPLY_DIR");
        unsetenv("XDG_RUNTIME_DIR");
    }
    // A fresh directory standing in for /tmp: anyone may make entries.
    static fs::path SharedTmp(const char* name) {
        const fs::path p = dir_ / name;
        fs::create_directories(p);
        ::chmod(p.c_str(), 01777);
        ::chmod(dir_.c_str(), 0755);
        return p;
    }
    static inline fs::path dir_;
};

TEST_F(PrivateRuntime, WhatAKilledProcessLeftIsClearedAndALiveOnesKept) {
    const fs::path base = dir_ / "leftovers";
    fs::create_directories(base);
    const pid_t child = fork();
    if (child == 0) {
        _exit(0);
    }
    waitpid(child, nullptr, 0);
    const fs::path dead = base / (std::to_string(child) + "-0");
    const fs::path alive = base / (std::to_string(getppid()) + "-0");
    const fs::path other = base / "notes";
    for (const fs::path& d : {dead, alive, other}) {
        fs::create_directories(d);
        std::ofstream(d / "quorlink.txt") << "old";
    }
    setenv("QUORLINK_REPLY_DIR", base.c_str(), 1);
    ASSERT_EQ(replyPaths(), 1);
    EXPECT_FALSE(fs::exists(dead));
    EXPECT_TRUE(fs::exists(alive));
    EXPECT_TRUE(fs::exists(other));
}

// Runtime directories that are not ours alone: every one is refused with a
// message naming it, and nothing is written through it.
TEST_F(PrivateRuntime, RuntimeDirectoryAnotherUserCouldHaveMadeIsRefused) {
    const fs::path run = SharedTmp("run-refused");
    const fs::path victim = dir_ / "victim";
    std::ofstream(victim) << "root only";
    struct Case {
        const char* name;
        void (*make)(const fs::path& dir, const fs::path& victim);
    };
    const Case cases[] = {
        {"symlink",
         [](const fs::path& d, const fs::path& v) {
             fs::create_directories(d.string() + ".real");
             ::chmod((d.string() + ".real").c_str(), 0700);
             fs::create_directory_symlink(d.string() + ".real", d);
             fs::create_symlink(v, d.string() + ".real/quorlink.txt");
         }},
        {"a file", [](const fs::path& d, const fs::path&) { std::ofstream(d) << "x"; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path xdg = run / c.name;
        fs::create_directories(xdg);
        c.make(xdg / "quorlink", victim);
        setenv("XDG_RUNTIME_DIR", xdg.c_str(), 1);
        const ufd::PrivateDirectory checked = ufd::RuntimeDirectory();
        EXPECT_NE(checked.refusal.find((xdg / "quorlink").string()), std::string::npos)
            << checked.refusal;
        EXPECT_EQ(replyPaths(), 0);
        EXPECT_EQ(fnQuorbus_GetDiskHandle(1), 0);
        const std::string trace = readFile(dir_ / "trace.jsonl");
        EXPECT_NE(trace.rfind((xdg / "quorlink").string() + " refused"), std::string::npos);
        EXPECT_EQ(readFile(victim), "root only");
    }
}

// The attack as it happens: another local user makes the runtime directory
// first and plants links and FIFOs where replies go.
TEST_F(PrivateRuntime, ForeignOwnedRuntimeDirectoryPlantedByAnotherUserIsRefused) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to act as a second local user (uid 65534)";
    }
    const fs::path xdg = SharedTmp("run-foreign");
    const fs::path victim = dir_ / "root-only";
    std::ofstream(victim) << "root only";
    ::chmod(victim.c_str(), 0600);
    const pid_t us = getpid();
    const pid_t attacker = fork();
    if (attacker == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) {
            _exit(2);
        }
        const fs::path d = xdg / "quorlink";
        std::error_code ec;
        fs::create_directory(d, ec);
        ::chmod(d.c_str(), 0777);
        for (const std::string& name :
             {std::string("quorlink.txt"), "quorlink.txt.tmp." + std::to_string(us),
              std::to_string(us) + "-0"}) {
            fs::create_symlink(victim, d / name, ec);
        }
        ::mkfifo((d / "quorlink.bin").c_str(), 0666);
        _exit(ec ? 3 : 0);
    }
    int status = 0;
    waitpid(attacker, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the attacker could not plant";
    setenv("XDG_RUNTIME_DIR", xdg.c_str(), 1);
    EXPECT_NE(ufd::RuntimeDirectory().refusal.find("belongs to user 65534"), std::string::npos);
    EXPECT_EQ(replyPaths(), 0);
    EXPECT_EQ(fnQuorbus_GetDiskHandle(1), 0);
    EXPECT_EQ(fnQuorbus_ModeSense(1), 0);
    EXPECT_EQ(readFile(victim), "root only");
}

} // namespace
