// A directory of the test's own, made with mkdtemp and gone with everything
// in it, and the whole-file reads and writes the tests make there. Standard
// library only, so the tests of code without Qt can use it too.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include <stdlib.h>

namespace ufd::test {

namespace fs = std::filesystem;

inline fs::path writeFile(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
    return file;
}

inline std::string readFile(const fs::path& file) {
    return std::string(std::istreambuf_iterator<char>(std::ifstream(file).rdbuf()), {});
}

struct TempDir {
    fs::path path = [] {
        std::string tmpl = fs::temp_directory_path() / "ufd-test-XXXXXX";
        return ::mkdtemp(tmpl.data()) ? tmpl : throw std::runtime_error("mkdtemp failed");
    }();
    int files = 0;
    TempDir() = default;
    TempDir(const TempDir&) = delete;
    ~TempDir() { fs::remove_all(path); }
    // A new name each time, so each file of a table stays to be looked at.
    fs::path write(const std::string& text) {
        return writeFile(path / (std::to_string(++files) + ".conf"), text);
    }
};

} // namespace ufd::test
