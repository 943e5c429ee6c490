#include "quorlink_conf.h"

#include "base/ini_file.h"

#include <charconv>
#include <cstdlib>
#include <regex>
#include <set>

namespace quorlink {
namespace {

using ufd::IniEntry;
using ufd::IniFile;

constexpr int kLastDriveIndex = 16;
// SG_IO takes milliseconds in an unsigned int; a day is more than any
// command needs and far from overflowing it.
constexpr long long kMaxTimeoutSeconds = 24 * 60 * 60;
constexpr long long kMaxKeep = 99;

// Thrown inside the reader only, caught in loadQuorlinkConf.
struct Bad {
    std::string text;
};

std::optional<long long> wholeNumber(const std::string& text) {
    long long v = 0;
    const char* end = text.data() + text.size();
    const auto [stop, ec] = std::from_chars(text.data(), end, v);
    if (ec != std::errc() || stop != end || text.empty()) {
        return std::nullopt;
    }
    return v;
}

class Reader {
public:
    explicit Reader(const IniFile& ini) : ini_(ini) {}

    const IniEntry* find(const std::string& section, const std::string& key) const {
        return ini_.find(section, key);
    }

    // A key the file does not give is blamed with an empty value: it is the
    // default that collides with what the file says.
    [[noreturn]] void bad(const std::string& section, const std::string& key,
                          const std::string& why) const {
        const IniEntry* e = find(section, key);
        bad(e != nullptr ? *e : IniEntry{section, key, {}, 0}, why);
    }
    [[noreturn]] void bad(const IniEntry& e, const std::string& why) const {
        throw Bad{ini_.error(e, why)};
    }

    long long number(const IniEntry& e, long long low, long long high,
                     const std::string& what) const {
        const auto v = wholeNumber(e.value);
        if (!v || *v < low || *v > high) {
            bad(e, what);
        }
        return *v;
    }

    std::chrono::milliseconds seconds(const IniEntry& e) const {
        return std::chrono::seconds(number(e, 1, kMaxTimeoutSeconds,
                                           "not a whole number of seconds from 1 to " +
                                               std::to_string(kMaxTimeoutSeconds)));
    }

    std::vector<UsbId> allowList(const IniEntry* e) const {
        static const std::regex pair("^([0-9A-Fa-f]{4}):([0-9A-Fa-f]{4})$");
        static const std::regex separators("[,\\s]+");
        std::vector<UsbId> ids;
        if (e == nullptr) {
            return ids;
        }
        for (std::sregex_token_iterator it(e->value.begin(), e->value.end(), separators, -1), last;
             it != last; ++it) {
            const std::string item = *it;
            std::smatch m;
            if (item.empty()) {
                continue;
            }
            if (!std::regex_match(item, m, pair)) {
                bad(*e, "\"" + item + "\" is not VID:PID (four hex digits each, like 058f:6387)");
            }
            ids.push_back({static_cast<uint16_t>(std::stoul(m[1].str(), nullptr, 16)),
                           static_cast<uint16_t>(std::stoul(m[2].str(), nullptr, 16))});
        }
        return ids;
    }

    // "offset:width[:be|le]"
    VendorField field(const IniEntry& e) const {
        static const std::regex form("^(\\d{1,2}):(\\d)(?::(be|le))?$");
        const std::string what = "not offset:width[:be|le] with width 0, 1, 2 or 4";
        std::smatch m;
        if (!std::regex_match(e.value, m, form)) {
            bad(e, what);
        }
        VendorField f;
        f.offset = static_cast<uint8_t>(std::stoul(m[1].str()));
        f.width = static_cast<uint8_t>(std::stoul(m[2].str()));
        f.bigEndian = m[3].str() != "le";
        if (f.width != 0 && f.width != 1 && f.width != 2 && f.width != 4) {
            bad(e, what);
        }
        return f;
    }

private:
    const IniFile& ini_;
};

const std::regex& portPathForm() {
    // bus-port[.port...], as sysfs names a USB device: numbers from 1, no
    // leading zero, so one port has one spelling and cannot take two indexes.
    static const std::regex form("^[1-9]\\d*-[1-9]\\d*(\\.[1-9]\\d*)*$");
    return form;
}

struct NamedField {
    const char* key;
    VendorField VendorLayout::*member;
};

constexpr NamedField kVendorFields[] = {
    {"Form", &VendorLayout::form},           {"Code", &VendorLayout::code},
    {"Chip", &VendorLayout::chip},           {"Unit", &VendorLayout::unit},
    {"Parameter", &VendorLayout::parameter}, {"Reserved1", &VendorLayout::reserved1},
    {"Reserved2", &VendorLayout::reserved2}, {"DataLength", &VendorLayout::dataLength},
};

void readVendorBlock(const Reader& r, VendorLayout& layout) {
    const std::string section = "VendorBlock";
    if (const IniEntry* e = r.find(section, "Opcode")) {
        layout.opcode =
            static_cast<uint8_t>(r.number(*e, 0, 255, "not an operation code from 0 to 255"));
    }
    if (const IniEntry* e = r.find(section, "Length")) {
        layout.length =
            static_cast<uint8_t>(r.number(*e, 6, 16, "not a block length from 6 to 16"));
    }
    for (const NamedField& f : kVendorFields) {
        if (const IniEntry* e = r.find(section, f.key)) {
            layout.*f.member = r.field(*e);
        }
    }
    // Byte 0 is the operation code; every field must fit the block and have
    // bytes of its own, or the drive would read one value as another.
    std::vector<const char*> owner(layout.length, nullptr);
    owner[0] = "Opcode";
    for (const NamedField& f : kVendorFields) {
        const VendorField& v = layout.*f.member;
        if (v.width == 0) {
            continue;
        }
        // Blame the key the engineer wrote, not a default it collides with.
        const bool written = r.find(section, f.key) != nullptr;
        if (v.offset + v.width > layout.length) {
            if (written) {
                r.bad(section, f.key,
                      "does not fit a block of Length=" + std::to_string(layout.length));
            }
            r.bad(section, "Length",
                  std::string("too short for ") + f.key + " at byte " +
                      std::to_string(v.offset + v.width - 1));
        }
        for (int i = v.offset; i < v.offset + v.width; ++i) {
            const char* other = owner[static_cast<size_t>(i)];
            if (other != nullptr) {
                const std::string where = " at byte " + std::to_string(i);
                if (written) {
                    r.bad(section, f.key, std::string("overlaps ") + other + where);
                }
                r.bad(section, other, std::string("overlaps ") + f.key + where);
            }
            owner[static_cast<size_t>(i)] = f.key;
        }
    }
}

void readPorts(const Reader& r, const IniFile& ini, std::map<int, std::string>& ports) {
    std::map<std::string, std::string> seen; // port path -> its drive index
    for (const IniEntry* e : ini.section("Ports")) {
        const auto index = wholeNumber(e->key);
        if (!index || *index < 0 || *index > kLastDriveIndex || e->key != std::to_string(*index)) {
            r.bad(*e, "not a drive index from 0 to 16");
        }
        if (!std::regex_match(e->value, portPathForm())) {
            r.bad(*e, "not a USB port path (bus-port.port..., like 1-2.3)");
        }
        if (const auto it = seen.find(e->value); it != seen.end()) {
            r.bad(*e, "the same port as " + it->second);
        }
        seen[e->value] = e->key;
        ports[static_cast<int>(*index)] = e->value;
    }
}

void checkKnownKeys(const Reader& r, const IniFile& ini) {
    static const std::set<std::string> known = [] {
        std::set<std::string> k{"Drives/Allow",    "Timeouts/Quick",     "Timeouts/Transfer",
                                "Timeouts/Vendor", "Timeouts/Ready",     "Trace/MaxBytes",
                                "Trace/Keep",      "VendorBlock/Opcode", "VendorBlock/Length"};
        for (const NamedField& f : kVendorFields) {
            k.insert(std::string("VendorBlock/") + f.key);
        }
        return k;
    }();
    static const std::set<std::string> sections{"Drives", "Ports", "Timeouts", "Trace",
                                                "VendorBlock"};
    for (const IniEntry& e : ini.entries()) {
        if (e.section == "Ports" || known.contains(e.section + "/" + e.key)) {
            continue;
        }
        r.bad(e, e.section.empty()              ? "outside any section"
                 : sections.contains(e.section) ? "unknown key"
                                                : "unknown section");
    }
}

QuorlinkConf read(const IniFile& ini) {
    QuorlinkConf conf;
    conf.file = ini.file();
    conf.found = true;
    const Reader r(ini);
    checkKnownKeys(r, ini);
    conf.allow = r.allowList(r.find("Drives", "Allow"));
    readPorts(r, ini, conf.ports);
    const std::pair<const char*, std::chrono::milliseconds Timeouts::*> timeouts[] = {
        {"Quick", &Timeouts::quick},
        {"Transfer", &Timeouts::transfer},
        {"Vendor", &Timeouts::vendor},
        {"Ready", &Timeouts::ready},
    };
    for (const auto& [key, member] : timeouts) {
        if (const IniEntry* e = r.find("Timeouts", key)) {
            conf.timeouts.*member = r.seconds(*e);
        }
    }
    if (const IniEntry* e = r.find("Trace", "MaxBytes")) {
        conf.trace.maxBytes = static_cast<uint64_t>(
            r.number(*e, 4096, 1LL << 40, "not a size in bytes from 4096 to 1099511627776"));
    }
    if (const IniEntry* e = r.find("Trace", "Keep")) {
        conf.trace.keep =
            static_cast<int>(r.number(*e, 0, kMaxKeep, "not a count of old files from 0 to 99"));
    }
    readVendorBlock(r, conf.vendorBlock);
    return conf;
}

} // namespace

std::filesystem::path quorlinkConfPath() {
    const char* env = std::getenv("QUORLINK_CONF");
    if (env != nullptr && *env != '\0') {
        return env;
    }
    return "/etc/quorlink/quorlink.conf";
}

ConfLoad loadQuorlinkConf(const std::filesystem::path& file) {
    ConfLoad load;
    load.conf.file = file;
    const ufd::IniRead ini = ufd::ReadIniFile(file);
    if (ini.result == ufd::IniRead::Result::Absent) {
        return load;
    }
    load.conf.found = true;
    if (ini.result == ufd::IniRead::Result::Refused) {
        load.error = ini.error;
        return load;
    }
    try {
        load.conf = read(ini.ini);
    } catch (const Bad& b) {
        // The defaults, and nothing allowed: an unusable file never lets a
        // drive through.
        load.error = b.text;
    }
    return load;
}

} // namespace quorlink
