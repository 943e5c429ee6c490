// The one reader of the settings files the line writes by hand (station.conf,
// quorlink.conf): small and strict, with no Qt, so the transport library and
// the station read INI the same way and say what is wrong the same way:
// "file: [Section] Key: "value": why".
//
// A line is blank, a comment (first character ';' or '#'), "[Section]" or
// "Key=Value", which may end in a comment (';' or '#' after a blank); spaces
// around names and values go, and one pair of double quotes around a whole
// value goes (a value that holds " ;" is quoted). A key given twice counts once, as last
// written. Anything else is refused with its line number, as is a file that
// is not a regular file, holds control characters or exceeds kMaxIniBytes.
#pragma once

// The refusals are marked (context "Refusals") so a reader with a language
// can show them translated.
#include "base/translate_mark.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace ufd {

// A few kilobytes say all a line needs; anything far larger is not one of
// these files, and is refused before it is read.
inline constexpr uintmax_t kMaxIniBytes = 1 << 20;

struct IniEntry {
    std::string section; // empty: the key stands before any [Section]
    std::string key;
    std::string value;
    int line = 0;
};

class IniFile {
public:
    IniFile() = default;
    IniFile(std::filesystem::path file, std::vector<IniEntry> entries);

    const std::filesystem::path& file() const { return file_; }
    // Every key, its last value, in the order keys first appear.
    const std::vector<IniEntry>& entries() const { return entries_; }
    // The key's entry, or nullptr when the file does not give it.
    const IniEntry* find(std::string_view section, std::string_view key) const;
    // Every key of one section, for sections whose key names are free
    // ([Ports]: drive index -> port path).
    std::vector<const IniEntry*> section(std::string_view name) const;

    // "file: [Section] Key: "value": why", showing only printable ASCII of
    // what the file holds, so a binary file cannot fill a message with noise.
    std::string error(const IniEntry& entry, std::string_view why) const;

private:
    std::filesystem::path file_;
    std::vector<IniEntry> entries_;
};

// Why a whole file was refused, in parts, for a reader that words it in its
// own language: `why` is a marked English text whose "%1" stands for
// `detail`; a line number, when there is one, goes before it as
// kIniLineRefusal words it.
struct IniRefusal {
    int line = 0; // 0: the file as a whole
    const char* why = "";
    std::string detail;
};

inline constexpr const char* kIniLineRefusal = QT_TRANSLATE_NOOP("Refusals", "line %1: %2");

struct IniRead {
    enum class Result { Read, Absent, Refused };
    Result result = Result::Absent;
    IniFile ini;        // Read: what the file says
    std::string error;  // Refused: "file: why", in English
    IniRefusal refusal; // Refused: the same, in parts
};

// The same message for an entry of a file already read: a value only a
// later step can judge (a database URL) is refused in the same words.
std::string IniError(const std::filesystem::path& file, const IniEntry& entry,
                     std::string_view why);

// Reads one file; never blocks on a FIFO nor reads a device without end.
IniRead ReadIniFile(const std::filesystem::path& file);
// The same rules over text already in memory (file names the messages).
IniRead ParseIni(const std::filesystem::path& file, std::string_view text);

} // namespace ufd
