#include "base/ini_file.h"

#include "base/regular_file.h"

#include <cstring>
#include <map>

namespace ufd {

namespace {

// Of a name or value in a message.
constexpr size_t kMaxShown = 80;

std::string Shown(std::string_view text) {
    std::string s(text.substr(0, kMaxShown));
    for (char& c : s) {
        if (c < 0x20 || c > 0x7E) {
            c = '?';
        }
    }
    if (text.size() > kMaxShown) {
        s += "...";
    }
    return s;
}

std::string_view Trimmed(std::string_view s) {
    const size_t first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

// "Key=Value   ; why": a ';' or '#' after a blank starts a comment, as the
// examples and the docs write their settings; inside a quoted value, and
// without a blank before it, it is part of the value.
std::string_view WithoutComment(std::string_view value) {
    size_t from = 1;
    if (const size_t open = value.find_first_not_of(" \t");
        open != std::string_view::npos && value[open] == '"') {
        const size_t close = value.find('"', open + 1);
        from = close == std::string_view::npos ? value.size() : close + 1;
    }
    for (size_t i = from; i < value.size(); ++i) {
        if ((value[i] == ';' || value[i] == '#') && (value[i - 1] == ' ' || value[i - 1] == '\t')) {
            return value.substr(0, i);
        }
    }
    return value;
}

// `text` with its "%<n>" replaced by `value`.
std::string Filled(std::string_view text, char n, std::string_view value) {
    std::string out(text);
    if (const size_t at = out.find(std::string{'%', n}); at != std::string::npos) {
        out.replace(at, 2, value);
    }
    return out;
}

IniRead Refused(const std::filesystem::path& file, IniRefusal refusal) {
    IniRead read;
    read.result = IniRead::Result::Refused;
    std::string why = Filled(refusal.why, '1', refusal.detail);
    if (refusal.line > 0) {
        why = Filled(Filled(kIniLineRefusal, '1', std::to_string(refusal.line)), '2', why);
    }
    read.error = file.string() + ": " + why;
    read.refusal = std::move(refusal);
    return read;
}

IniRefusal TooLarge() {
    return {0, QT_TRANSLATE_NOOP("Refusals", "larger than %1 bytes: not a settings file"),
            std::to_string(kMaxIniBytes)};
}

} // namespace

IniFile::IniFile(std::filesystem::path file, std::vector<IniEntry> entries)
    : file_(std::move(file)), entries_(std::move(entries)) {}

const IniEntry* IniFile::find(std::string_view section, std::string_view key) const {
    for (const IniEntry& e : entries_) {
        if (e.section == section && e.key == key) {
            return &e;
        }
    }
    return nullptr;
}

std::vector<const IniEntry*> IniFile::section(std::string_view name) const {
    std::vector<const IniEntry*> found;
    for (const IniEntry& e : entries_) {
        if (e.section == name) {
            found.push_back(&e);
        }
    }
    return found;
}

std::string IniFile::error(const IniEntry& entry, std::string_view why) const {
    return IniError(file_, entry, why);
}

std::string IniError(const std::filesystem::path& file, const IniEntry& entry,
                     std::string_view why) {
    // Appended piece by piece: GCC 12's -Wrestrict misreads "[" + string&&
    // in an optimised build.
    std::string message = file.string() + ": ";
    if (!entry.section.empty()) {
        message.append("[").append(Shown(entry.section)).append("] ");
    }
    message.append(Shown(entry.key)).append(": \"").append(Shown(entry.value)).append("\": ");
    return message.append(why);
}

IniRead ParseIni(const std::filesystem::path& file, std::string_view text) {
    if (text.size() > kMaxIniBytes) {
        return Refused(file, TooLarge());
    }
    if (text.starts_with("\xEF\xBB\xBF")) {
        text.remove_prefix(3); // a byte-order mark some editors write
    }
    std::vector<IniEntry> entries;
    std::map<std::pair<std::string, std::string>, size_t> seen;
    std::string section;
    int number = 0;
    while (!text.empty()) {
        ++number;
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        const auto bad = [&](const char* why, std::string detail = {}) {
            return Refused(file, {number, why, std::move(detail)});
        };
        for (const char c : line) {
            if ((c >= 0 && c < 0x20 && c != '\t') || c == 0x7F) {
                return bad(QT_TRANSLATE_NOOP("Refusals", "holds a control character (byte %1)"),
                           std::to_string(static_cast<unsigned char>(c)));
            }
        }
        line = Trimmed(line);
        if (line.empty() || line.front() == ';' || line.front() == '#') {
            continue;
        }
        if (line.front() == '[') {
            const std::string_view name =
                line.ends_with(']') ? Trimmed(line.substr(1, line.size() - 2)) : "";
            if (name.empty() || name.find_first_of("[]") != std::string_view::npos) {
                return bad(QT_TRANSLATE_NOOP("Refusals", "not a [Section] line"));
            }
            section = std::string(name);
            continue;
        }
        const size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            return bad(QT_TRANSLATE_NOOP("Refusals",
                                         "neither a comment, a [Section] nor a Key=Value line"));
        }
        const std::string_view key = Trimmed(line.substr(0, equals));
        std::string_view value = Trimmed(WithoutComment(line.substr(equals + 1)));
        if (key.empty()) {
            return bad(QT_TRANSLATE_NOOP("Refusals", "a value without a key"));
        }
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
            value = value.substr(1, value.size() - 2);
        }
        IniEntry entry{section, std::string(key), std::string(value), number};
        const auto [it, added] = seen.try_emplace({entry.section, entry.key}, entries.size());
        if (added) {
            entries.push_back(std::move(entry));
        } else {
            entries[it->second] = std::move(entry);
        }
    }
    IniRead read;
    read.result = IniRead::Result::Read;
    read.ini = IniFile(file, std::move(entries));
    return read;
}

IniRead ReadIniFile(const std::filesystem::path& file) {
    using Result = RegularFileRead::Result;
    const RegularFileRead read = ReadRegularFile(file, kMaxIniBytes);
    switch (read.result) {
    case Result::Read:
        return ParseIni(file, read.bytes);
    case Result::Absent:
        return {};
    case Result::NotRegular:
        return Refused(file, {0, QT_TRANSLATE_NOOP("Refusals", "not a regular file"), {}});
    case Result::TooLarge:
        return Refused(file, TooLarge());
    case Result::Unreadable:
        break;
    }
    return Refused(
        file, {0, QT_TRANSLATE_NOOP("Refusals", "cannot be read: %1"), std::strerror(read.error)});
}

} // namespace ufd
