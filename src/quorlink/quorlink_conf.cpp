#include "quorlink_conf.h"

#include <QRegularExpression>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>
#include <unistd.h>

namespace quorlink {
namespace {

constexpr int kLastDriveIndex = 16;
// SG_IO takes milliseconds in an unsigned int; a day is more than any
// command needs and far from overflowing it.
constexpr long long kMaxTimeoutSeconds = 24 * 60 * 60;
constexpr long long kMaxKeep = 99;
// A few kilobytes say all a line needs; anything far larger is not this file,
// and QSettings would hold all of it in memory.
constexpr uintmax_t kMaxFileBytes = 1 << 20;
// Of a key or value in a message: a binary file would fill it with noise.
constexpr qsizetype kMaxShown = 80;

// What a message shows of the file: printable ASCII, as every good key and
// value is, and not too long.
std::string shown(QString text) {
    for (QChar& c : text) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7E) {
            c = QLatin1Char('?');
        }
    }
    if (text.size() > kMaxShown) {
        text = text.left(kMaxShown) + QStringLiteral("...");
    }
    return text.toStdString();
}

// Thrown inside the reader only, caught in loadQuorlinkConf.
struct Bad {
    std::string text;
};

class Reader {
public:
    Reader(const std::filesystem::path& file, QSettings& ini) : file_(file), ini_(ini) {}

    // The value of one key as written: a comma makes QSettings hand back a
    // list, which is joined again so messages show what the file says.
    QString raw(const QString& key) const {
        const QVariant v = ini_.value(key);
        return v.toStringList().join(QLatin1Char(',')).trimmed();
    }

    [[noreturn]] void bad(const QString& key, const std::string& why) const {
        const qsizetype slash = key.indexOf(QLatin1Char('/'));
        const QString named = slash < 0 ? key
                                        : QLatin1Char('[') + key.left(slash) + QLatin1Char(']') +
                                              QLatin1Char(' ') + key.mid(slash + 1);
        throw Bad{file_.string() + ": " + shown(named) + "=" + shown(raw(key)) + ": " + why};
    }

    long long number(const QString& key, long long low, long long high,
                     const std::string& what) const {
        bool ok = false;
        const long long v = raw(key).toLongLong(&ok, 10);
        if (!ok || v < low || v > high) {
            bad(key, what);
        }
        return v;
    }

    std::chrono::milliseconds seconds(const QString& key) const {
        return std::chrono::seconds(number(key, 1, kMaxTimeoutSeconds,
                                           "not a whole number of seconds from 1 to " +
                                               std::to_string(kMaxTimeoutSeconds)));
    }

    std::vector<UsbId> allowList(const QString& key) const {
        static const QRegularExpression pair(QStringLiteral("^([0-9A-Fa-f]{4}):([0-9A-Fa-f]{4})$"));
        std::vector<UsbId> ids;
        const QStringList items =
            raw(key).split(QRegularExpression(QStringLiteral("[,\\s]+")), Qt::SkipEmptyParts);
        for (const QString& item : items) {
            const auto m = pair.match(item);
            if (!m.hasMatch()) {
                // Appended, not "x" + string: GCC 12 at -O2 warns falsely on that form.
                bad(key, std::string("\"")
                             .append(shown(item))
                             .append("\" is not VID:PID (four hex digits each, like 058f:6387)"));
            }
            ids.push_back({static_cast<uint16_t>(m.captured(1).toUInt(nullptr, 16)),
                           static_cast<uint16_t>(m.captured(2).toUInt(nullptr, 16))});
        }
        return ids;
    }

    // "offset:width[:be|le]"
    VendorField field(const QString& key) const {
        static const QRegularExpression form(QStringLiteral("^(\\d{1,2}):(\\d)(?::(be|le))?$"));
        const auto m = form.match(raw(key));
        const std::string what = "not offset:width[:be|le] with width 0, 1, 2 or 4";
        if (!m.hasMatch()) {
            bad(key, what);
        }
        VendorField f;
        f.offset = static_cast<uint8_t>(m.captured(1).toUInt());
        f.width = static_cast<uint8_t>(m.captured(2).toUInt());
        f.bigEndian = m.captured(3) != QStringLiteral("le");
        if (f.width != 0 && f.width != 1 && f.width != 2 && f.width != 4) {
            bad(key, what);
        }
        return f;
    }

private:
    std::filesystem::path file_;
    QSettings& ini_;
};

const QRegularExpression& portPathForm() {
    // bus-port[.port...], as sysfs names a USB device: numbers from 1, no
    // leading zero, so one port has one spelling and cannot take two indexes.
    static const QRegularExpression form(QStringLiteral("^[1-9]\\d*-[1-9]\\d*(\\.[1-9]\\d*)*$"));
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

void readVendorBlock(const Reader& r, QSettings& ini, VendorLayout& layout) {
    const QString section = QStringLiteral("VendorBlock/");
    if (ini.contains(section + "Opcode")) {
        layout.opcode = static_cast<uint8_t>(
            r.number(section + "Opcode", 0, 255, "not an operation code from 0 to 255"));
    }
    if (ini.contains(section + "Length")) {
        layout.length = static_cast<uint8_t>(
            r.number(section + "Length", 6, 16, "not a block length from 6 to 16"));
    }
    for (const NamedField& f : kVendorFields) {
        if (ini.contains(section + f.key)) {
            layout.*f.member = r.field(section + f.key);
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
        const QString key = section + f.key;
        const bool written = ini.contains(key);
        if (v.offset + v.width > layout.length) {
            if (written) {
                r.bad(key, "does not fit a block of Length=" + std::to_string(layout.length));
            }
            r.bad(section + "Length", std::string("too short for ") + f.key + " at byte " +
                                          std::to_string(v.offset + v.width - 1));
        }
        for (int i = v.offset; i < v.offset + v.width; ++i) {
            const char* other = owner[static_cast<size_t>(i)];
            if (other != nullptr) {
                const std::string where = " at byte " + std::to_string(i);
                if (written) {
                    r.bad(key, std::string("overlaps ") + other + where);
                }
                r.bad(section + other, std::string("overlaps ") + f.key + where);
            }
            owner[static_cast<size_t>(i)] = f.key;
        }
    }
}

void readPorts(const Reader& r, QSettings& ini, std::map<int, std::string>& ports) {
    std::map<QString, QString> seen; // port path -> its key
    for (const QString& key : ini.allKeys()) {
        if (!key.startsWith(QStringLiteral("Ports/"))) {
            continue;
        }
        const QString name = key.mid(6);
        bool ok = false;
        const int index = name.toInt(&ok, 10);
        if (!ok || index < 0 || index > kLastDriveIndex || name != QString::number(index)) {
            r.bad(key, "not a drive index from 0 to 16");
        }
        const QString path = r.raw(key);
        if (!portPathForm().match(path).hasMatch()) {
            r.bad(key, "not a USB port path (bus-port.port..., like 1-2.3)");
        }
        if (const auto it = seen.find(path); it != seen.end()) {
            r.bad(key, "the same port as " + it->second.mid(6).toStdString());
        }
        seen[path] = key;
        ports[index] = path.toStdString();
    }
}

void checkKnownKeys(const Reader& r, QSettings& ini) {
    static const std::set<QString> known = [] {
        std::set<QString> k{"Drives/Allow",    "Timeouts/Quick",     "Timeouts/Transfer",
                            "Timeouts/Vendor", "Timeouts/Ready",     "Trace/MaxBytes",
                            "Trace/Keep",      "VendorBlock/Opcode", "VendorBlock/Length"};
        for (const NamedField& f : kVendorFields) {
            k.insert(QStringLiteral("VendorBlock/") + f.key);
        }
        return k;
    }();
    for (const QString& key : ini.allKeys()) {
        if (key.startsWith(QStringLiteral("Ports/")) || known.contains(key)) {
            continue;
        }
        const QString section = key.section(QLatin1Char('/'), 0, 0);
        const bool knownSection =
            section == QStringLiteral("Drives") || section == QStringLiteral("Timeouts") ||
            section == QStringLiteral("Trace") || section == QStringLiteral("VendorBlock");
        r.bad(key, !key.contains(QLatin1Char('/')) ? "outside any section"
                   : knownSection                  ? "unknown key"
                                                   : "unknown section");
    }
}

QuorlinkConf read(const std::filesystem::path& file) {
    QuorlinkConf conf;
    conf.file = file;
    QSettings ini(QString::fromStdString(file.string()), QSettings::IniFormat);
    if (ini.status() != QSettings::NoError) {
        throw Bad{
            file.string() + ": " +
            (ini.status() == QSettings::AccessError ? "cannot be read" : "is not an INI file")};
    }
    const Reader r(file, ini);
    checkKnownKeys(r, ini);
    conf.allow = r.allowList(QStringLiteral("Drives/Allow"));
    readPorts(r, ini, conf.ports);
    const std::pair<const char*, std::chrono::milliseconds Timeouts::*> timeouts[] = {
        {"Timeouts/Quick", &Timeouts::quick},
        {"Timeouts/Transfer", &Timeouts::transfer},
        {"Timeouts/Vendor", &Timeouts::vendor},
        {"Timeouts/Ready", &Timeouts::ready},
    };
    for (const auto& [key, member] : timeouts) {
        if (ini.contains(key)) {
            conf.timeouts.*member = r.seconds(key);
        }
    }
    if (ini.contains("Trace/MaxBytes")) {
        conf.trace.maxBytes = static_cast<uint64_t>(r.number(
            "Trace/MaxBytes", 4096, 1LL << 40, "not a size in bytes from 4096 to 1099511627776"));
    }
    if (ini.contains("Trace/Keep")) {
        conf.trace.keep = static_cast<int>(
            r.number("Trace/Keep", 0, kMaxKeep, "not a count of old files from 0 to 99"));
    }
    readVendorBlock(r, ini, conf.vendorBlock);
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
    std::error_code ec;
    const auto status = std::filesystem::status(file, ec);
    if (status.type() == std::filesystem::file_type::not_found) {
        return load;
    }
    load.conf.found = true;
    if (ec || !std::filesystem::is_regular_file(status)) {
        load.error = file.string() + ": not a readable file";
        return load;
    }
    // QSettings would read an unreadable file as an empty one: no silent
    // defaults.
    if (::access(file.c_str(), R_OK) != 0) {
        load.error = file.string() + ": cannot be read: " + std::strerror(errno);
        return load;
    }
    if (const uintmax_t size = std::filesystem::file_size(file, ec); ec || size > kMaxFileBytes) {
        load.error = file.string() + ": larger than " + std::to_string(kMaxFileBytes) +
                     " bytes, not a quorlink.conf";
        return load;
    }
    try {
        load.conf = read(file);
        load.conf.found = true;
    } catch (const Bad& b) {
        // The defaults, and nothing allowed: an unusable file never lets a
        // drive through.
        load.error = b.text;
    }
    return load;
}

} // namespace quorlink
