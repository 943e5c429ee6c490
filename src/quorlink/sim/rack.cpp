#include "rack.h"

#include "base/runtime_dir.h"
#include "base/unique_fd.h"
#include "base/whole_file.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <sstream>
#include <sys/file.h>
#include <unistd.h>

namespace quorlink::sim {
namespace {

using json = nlohmann::json;

// Numbers may be written as JSON numbers or as "0x.." text.
int64_t number(const json& v, const std::string& what) {
    if (v.is_number_integer()) {
        return v.get<int64_t>();
    }
    if (v.is_string()) {
        const std::string s = v.get<std::string>();
        char* end = nullptr;
        errno = 0;
        const long long n = std::strtoll(s.c_str(), &end, 0);
        if (!s.empty() && end != nullptr && *end == '\0' && errno == 0) {
            return n;
        }
    }
    throw RackError(what + ": expected a number, got " + v.dump());
}

uint8_t byteValue(const json& v, const std::string& what) {
    const int64_t n = number(v, what);
    if (n < 0 || n > 255) {
        throw RackError(what + ": " + std::to_string(n) + " is not a byte");
    }
    return static_cast<uint8_t>(n);
}

std::pair<int, int> chipUnit(const std::string& key, const std::string& what) {
    const auto colon = key.find(':');
    try {
        if (colon != std::string::npos) {
            return {std::stoi(key.substr(0, colon)), std::stoi(key.substr(colon + 1))};
        }
    } catch (const std::exception&) {
    }
    throw RackError(what + ": key \"" + key + "\" is not \"chip:unit\"");
}

void readUnits(const json& d, const char* name, int& fallback,
               std::map<std::pair<int, int>, int>& counts, const std::string& where) {
    if (!d.contains(name)) {
        return;
    }
    const json& u = d.at(name);
    if (!u.is_object()) {
        throw RackError(where + "." + name + ": expected an object");
    }
    for (const auto& [key, value] : u.items()) {
        const auto n = static_cast<int>(number(value, where + "." + name + "." + key));
        if (key == "default") {
            fallback = n;
        } else {
            counts[chipUnit(key, where + "." + name)] = n;
        }
    }
}

// A key the model does not know is refused with its name: a misspelt key
// would otherwise silently make a drive of the defaults.
void onlyKnownKeys(const json& object, std::initializer_list<const char*> known,
                   const std::string& where) {
    for (const auto& item : object.items()) {
        const std::string& key = item.key();
        if (std::none_of(known.begin(), known.end(), [&](const char* k) { return key == k; })) {
            throw RackError(where + ": unknown key \"" + key + "\"");
        }
    }
}

bool knownOperation(const std::string& name) {
    static const char* ops[] = {"open",     "tur",      "capacity", "mode_sense",  "read", "write",
                                "vendor_r", "vendor_w", "vendor",   "vendor_scan", "reset"};
    return std::find(std::begin(ops), std::end(ops), name) != std::end(ops);
}

Fault readFault(const json& f, const std::string& where) {
    if (!f.is_object()) {
        throw RackError(where + ": expected an object");
    }
    onlyKnownKeys(f, {"op", "code", "sector", "nth", "effect", "length"}, where);
    Fault fault;
    fault.op = f.value("op", "");
    if (!knownOperation(fault.op)) {
        throw RackError(where + ".op: unknown operation \"" + fault.op + "\"");
    }
    if (f.contains("code")) {
        fault.code = static_cast<int>(number(f["code"], where + ".code"));
    }
    if (f.contains("sector")) {
        fault.sector = number(f["sector"], where + ".sector");
    }
    fault.nth = static_cast<int>(f.contains("nth") ? number(f["nth"], where + ".nth") : 0);
    const std::string effect = f.value("effect", "fail");
    if (effect == "fail") {
        fault.effect = Fault::Effect::Fail;
    } else if (effect == "no_reply") {
        fault.effect = Fault::Effect::NoReply;
    } else if (effect == "short_reply") {
        fault.effect = Fault::Effect::ShortReply;
        fault.shortLength = static_cast<size_t>(number(f.value("length", json(0)), where));
    } else {
        throw RackError(where + ".effect: unknown effect \"" + effect + "\"");
    }
    return fault;
}

// "latency_ms": n, or {"default": n, "write": n, "0x95": n, ...}.
void readLatency(const json& d, DriveProfile& p, const std::string& where) {
    if (!d.contains("latency_ms")) {
        return;
    }
    const json& l = d["latency_ms"];
    if (!l.is_object()) {
        p.latencyMs = static_cast<int>(number(l, where));
        return;
    }
    for (const auto& [key, value] : l.items()) {
        const auto ms = static_cast<int>(number(value, where + "." + key));
        if (key == "default") {
            p.latencyMs = ms;
        } else if (knownOperation(key)) {
            p.opLatencyMs[key] = ms;
        } else {
            try {
                p.codeLatencyMs[static_cast<int>(byteValue(json(key), where))] = ms;
            } catch (const RackError&) {
                throw RackError(where + ": \"" + key +
                                "\" is neither an operation nor a vendor code");
            }
        }
    }
}

// A positive rate in MB/s, integer or not.
double rate(const json& v, const std::string& what) {
    if (!v.is_number() || !(v.get<double>() > 0) || !std::isfinite(v.get<double>())) {
        throw RackError(what + ": expected a number of MB/s above 0, got " + v.dump());
    }
    return v.get<double>();
}

// "flash_sectors", "bad_sectors" and "mbps": what the flash behind the
// controller really does, checked against the capacity it reports.
FlashProfile readFlash(const json& d, uint64_t capacity, const std::string& where) {
    FlashProfile f;
    if (d.contains("flash_sectors")) {
        const int64_t n = number(d["flash_sectors"], where + ".flash_sectors");
        if (n <= 0 || static_cast<uint64_t>(n) > capacity) {
            throw RackError(where + ".flash_sectors: " + std::to_string(n) +
                            " is not 1 to the capacity (" + std::to_string(capacity) + ")");
        }
        f.flashSectors = static_cast<uint64_t>(n);
    }
    if (d.contains("bad_sectors")) {
        const json& list = d["bad_sectors"];
        if (!list.is_array()) {
            throw RackError(where + ".bad_sectors: expected a list of sectors");
        }
        for (const auto& s : list) {
            const int64_t n = number(s, where + ".bad_sectors");
            const uint64_t kept = f.flashSectors != 0 ? f.flashSectors : capacity;
            if (n < 0 || static_cast<uint64_t>(n) >= kept) {
                throw RackError(where + ".bad_sectors: sector " + std::to_string(n) +
                                " is not on the flash (" + std::to_string(kept) + " sectors)");
            }
            f.badSectors.push_back(static_cast<uint64_t>(n));
        }
    }
    if (d.contains("fake")) {
        const json& v = d["fake"];
        if (!v.is_string() || !parseFakeKind(v.get<std::string>(), f.fake)) {
            throw RackError(where + ".fake: " + v.dump() +
                            " is not \"wrap\", \"limbo\" or \"chain\"");
        }
    }
    if (d.contains("past_end")) {
        const json& v = d["past_end"];
        if (!v.is_string() || !parsePastEnd(v.get<std::string>(), f.pastEnd)) {
            throw RackError(where + ".past_end: " + v.dump() +
                            " is not \"zeros\", \"ones\", \"stale\" or \"noise\"");
        }
    }
    if (d.contains("cache_sectors")) {
        const int64_t n = number(d["cache_sectors"], where + ".cache_sectors");
        if (n < 0 || static_cast<uint64_t>(n) > kMaxCacheSectors) {
            throw RackError(where + ".cache_sectors: " + std::to_string(n) + " is not 0 to " +
                            std::to_string(kMaxCacheSectors));
        }
        f.cacheSectors = static_cast<uint64_t>(n);
    }
    if (d.contains("hang_after")) {
        const int64_t n = number(d["hang_after"], where + ".hang_after");
        if (n < 0) {
            throw RackError(where + ".hang_after: " + std::to_string(n) + " is not 0 or more");
        }
        f.hangAfter = static_cast<uint64_t>(n);
    }
    if (d.contains("mbps")) {
        const json& m = d["mbps"];
        if (!m.is_object()) {
            throw RackError(where + ".mbps: expected {\"read\": R, \"write\": W}");
        }
        for (const auto& [key, value] : m.items()) {
            if (key == "read") {
                f.readMBps = rate(value, where + ".mbps.read");
            } else if (key == "write") {
                f.writeMBps = rate(value, where + ".mbps.write");
            } else {
                throw RackError(where + ".mbps: \"" + key + "\" is neither read nor write");
            }
        }
    }
    return f;
}

DriveProfile readDrive(const json& d, size_t position) {
    const std::string where = "drives[" + std::to_string(position) + "]";
    if (!d.is_object()) {
        throw RackError(where + ": expected an object");
    }
    onlyKnownKeys(d, {"index",  "kind",       "plugged",  "write_protect", "capacity",
                      "info",   "chips",      "mode",     "units94",       "units95",
                      "vendor", "product",    "revision", "serial",        "port",
                      "line",   "latency_ms", "faults",   "flash_sectors", "bad_sectors",
                      "mbps",   "fake",       "past_end", "cache_sectors", "hang_after",
                      "hub",    "comment"},
                  where);
    DriveProfile p;
    if (!d.contains("index")) {
        throw RackError(where + ": no index");
    }
    p.index = static_cast<int>(number(d["index"], where + ".index"));
    if (p.index < 0 || p.index >= kDriveCount) {
        throw RackError(where + ".index: drive indexes are 0 to 16");
    }
    const std::string kind = d.value("kind", "usb");
    if (kind == "disk") {
        p.kind = DriveKind::Disk;
    } else if (kind == "usb") {
        p.kind = DriveKind::Usb;
    } else if (kind == "empty") {
        p.kind = DriveKind::Empty;
    } else {
        throw RackError(where + ".kind: \"" + kind + "\" is not usb, disk or empty");
    }
    p.plugged = d.value("plugged", true);
    p.writeProtect = d.value("write_protect", false);
    if (d.contains("capacity")) {
        // JSON's 18446744073709551615 reads as -1 here: the text the user
        // wrote is what the message shows.
        const int64_t sectors = number(d["capacity"], where + ".capacity");
        if (sectors < 0 || sectors > kMaxCapacitySectors) {
            throw RackError(where + ".capacity: " + d["capacity"].dump() + " sectors is not 0 to " +
                            std::to_string(kMaxCapacitySectors) +
                            " (the station addresses sectors as int32)");
        }
        p.capacity = static_cast<uint64_t>(sectors);
    }
    if (d.contains("info")) {
        const json& info = d["info"];
        if (!info.is_array() || info.size() != 2) {
            throw RackError(where + ".info: expected [byte130, byte131]");
        }
        p.info130 = byteValue(info[0], where + ".info[0]");
        p.info131 = byteValue(info[1], where + ".info[1]");
    }
    if (d.contains("chips")) {
        for (const auto& c : d["chips"]) {
            p.chips.push_back(byteValue(c, where + ".chips"));
        }
        if (p.chips.size() > 511) {
            throw RackError(where + ".chips: at most 511 chips");
        }
    }
    if (d.contains("mode")) {
        const json& m = d["mode"];
        if (!m.is_array() || m.size() != 2) {
            throw RackError(where + ".mode: expected [byte0, byte1]");
        }
        p.modeBlock = {byteValue(m[0], where + ".mode[0]"), byteValue(m[1], where + ".mode[1]")};
    }
    readUnits(d, "units94", p.defaultEntries94, p.entries94, where);
    readUnits(d, "units95", p.defaultEntries95, p.entries95, where);
    p.vendor = d.value("vendor", p.vendor);
    p.product = d.value("product", p.product);
    p.revision = d.value("revision", p.revision);
    p.serial = d.value("serial", "SIM" + std::to_string(p.index));
    p.port = d.value("port", "");
    p.line = d.value("line", "IDE\\Disk" + p.vendor + "_" + p.product + "\\" + p.serial);
    readLatency(d, p, where + ".latency_ms");
    p.flash = readFlash(d, p.capacity, where);
    if (d.contains("hub")) {
        if (!d["hub"].is_string() || d["hub"].get<std::string>().empty()) {
            throw RackError(where + ".hub: expected the name of a hub");
        }
        p.hub = d["hub"].get<std::string>();
    }
    if (d.contains("faults")) {
        size_t k = 0;
        for (const auto& f : d["faults"]) {
            p.faults.push_back(readFault(f, where + ".faults[" + std::to_string(k++) + "]"));
        }
    }
    return p;
}

// Holds an exclusive lock on the rack's state while one process changes it.
class StateLock {
public:
    explicit StateLock(const std::filesystem::path& dir)
        : fd_(::open((dir / "lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
        if (fd_) {
            ::flock(fd_.get(), LOCK_EX);
        }
    }
    ~StateLock() {
        if (fd_) {
            ::flock(fd_.get(), LOCK_UN);
        }
    }
    StateLock(const StateLock&) = delete;
    StateLock& operator=(const StateLock&) = delete;

private:
    ufd::UniqueFd fd_;
};

} // namespace

int DriveProfile::unitEntries(int code, int chip, int unit) const {
    const auto& counts = code == 0x94 ? entries94 : entries95;
    const auto it = counts.find({chip, unit});
    if (it != counts.end()) {
        return it->second;
    }
    return code == 0x94 ? defaultEntries94 : defaultEntries95;
}

int DriveProfile::latencyFor(const std::string& op, std::optional<int> code) const {
    if (code) {
        if (const auto it = codeLatencyMs.find(*code); it != codeLatencyMs.end()) {
            return it->second;
        }
    }
    const auto it = opLatencyMs.find(op);
    return it != opLatencyMs.end() ? it->second : latencyMs;
}

std::string DriveProfile::deviceLine() const {
    if (kind != DriveKind::Usb) {
        return line;
    }
    return "USBSTOR\\Disk&Ven_" + vendor + "&Prod_" + product + "&Rev_" + revision + "\\" + serial;
}

void checkIndex(int index) {
    if (index < 0 || index >= kDriveCount) {
        throw RackError("drive index " + std::to_string(index) + " is not 0 to 16");
    }
}

RackProfile loadRack(const std::filesystem::path& file) {
    // A rack describes 17 drives: anything near these bounds is not a rack,
    // and reading it whole (a FIFO, a device, a huge file) must not hang the
    // reader or exhaust it.
    std::error_code ec;
    const auto status = std::filesystem::status(file, ec);
    if (!ec && std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
        throw RackError("rack file " + file.string() + " is not a regular file");
    }
    if (const auto size = std::filesystem::file_size(file, ec); !ec && size > kMaxRackBytes) {
        throw RackError("rack file " + file.string() + " is larger than " +
                        std::to_string(kMaxRackBytes / (1024 * 1024)) + " MiB");
    }
    std::ifstream in(file);
    if (!in) {
        throw RackError("cannot open rack file " + file.string() + ": " + std::strerror(errno));
    }
    json doc;
    try {
        doc = json::parse(in, [&file](int depth, json::parse_event_t, json&) {
            if (depth > kMaxRackDepth) {
                throw RackError("rack file " + file.string() + " nests deeper than " +
                                std::to_string(kMaxRackDepth) + " levels");
            }
            return true;
        });
    } catch (const json::exception& e) {
        throw RackError("rack file " + file.string() + " is not valid JSON: " + e.what());
    }
    RackProfile rack;
    rack.file = std::filesystem::absolute(file);
    for (int i = 0; i < kDriveCount; ++i) {
        rack.drives[static_cast<size_t>(i)].index = i;
    }
    try {
        if (!doc.is_object() || !doc.contains("drives") || !doc["drives"].is_array()) {
            throw RackError("expected an object with a \"drives\" array");
        }
        onlyKnownKeys(doc, {"drives", "trace", "hubs", "comment"}, "the rack");
        if (doc.contains("hubs")) {
            if (!doc["hubs"].is_object()) {
                throw RackError("hubs: expected {\"NAME\": {\"mbps\": M}, ...}");
            }
            for (const auto& [name, h] : doc["hubs"].items()) {
                const std::string where = "hubs." + name;
                if (!h.is_object() || !h.contains("mbps")) {
                    throw RackError(where + ": expected {\"mbps\": M}");
                }
                onlyKnownKeys(h, {"mbps", "comment"}, where);
                rack.hubs[name] = Hub{rate(h["mbps"], where + ".mbps")};
            }
        }
        std::array<bool, kDriveCount> seen{};
        size_t position = 0;
        for (const auto& d : doc["drives"]) {
            DriveProfile p = readDrive(d, position++);
            if (seen[static_cast<size_t>(p.index)]) {
                throw RackError("drive index " + std::to_string(p.index) + " appears twice");
            }
            seen[static_cast<size_t>(p.index)] = true;
            if (!p.hub.empty() && !rack.hubs.contains(p.hub)) {
                throw RackError("drives[" + std::to_string(position - 1) + "].hub: no hub \"" +
                                p.hub + "\" in \"hubs\"");
            }
            rack.drives[static_cast<size_t>(p.index)] = std::move(p);
        }
        if (doc.contains("trace") && doc["trace"].is_string()) {
            rack.trace = rack.file.parent_path() / doc["trace"].get<std::string>();
        }
    } catch (const json::exception& e) {
        throw RackError("rack file " + file.string() + ": " + e.what());
    } catch (const RackError& e) {
        throw RackError("rack file " + file.string() + ": " + e.what());
    }
    const char* stateDir = std::getenv("QUORLINK_STATE_DIR");
    rack.stateDir = stateDir != nullptr && *stateDir != '\0'
                        ? std::filesystem::path(stateDir)
                        : std::filesystem::path(rack.file.string() + ".state");
    return rack;
}

RackState::RackState(RackProfile profile) : profile_(std::move(profile)) {
    std::error_code ec;
    std::filesystem::create_directories(profile_.stateDir, ec);
    if (ec) {
        throw RackError("cannot create state directory " + profile_.stateDir.string() + ": " +
                        ec.message());
    }
}

const DriveProfile& RackState::drive(int index) const {
    checkIndex(index);
    return profile_.drives[static_cast<size_t>(index)];
}

std::filesystem::path RackState::dir(int index) const {
    return profile_.stateDir / ("drive-" + std::to_string(index));
}

std::optional<std::string> RackState::readSmall(int index, const char* name) const {
    const ufd::UniqueFd fd(::open((dir(index) / name).c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) {
        return std::nullopt;
    }
    char buf[64];
    const ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0) {
        return std::nullopt;
    }
    return std::string(buf, static_cast<size_t>(n));
}

namespace {

// The whole file or the old one untouched: a new temp file, every byte
// written (and on disk, when durable), then renamed over the target. A full disk or a
// read-only directory is a RackError naming the file; nothing is left
// behind.
void replaceFile(const std::filesystem::path& target, const void* data, size_t size,
                 bool durable = false) {
    std::error_code ec;
    std::filesystem::create_directories(target.parent_path(), ec);
    const auto tmp = target.string() + ".tmp." + std::to_string(getpid());
    ::unlink(tmp.c_str()); // our own leftover from a killed run
    ufd::UniqueFd fd = ufd::CreateNewFile(tmp);
    if (!fd) {
        throw RackError("cannot write " + target.string() + ": " + std::strerror(errno));
    }
    if (const int error =
            ufd::CommitWholeFile(std::move(fd), tmp, target.string(), data, size, durable);
        error != 0) {
        throw RackError("cannot write " + target.string() + ": " + std::strerror(error));
    }
}

} // namespace

void RackState::writeSmall(int index, const char* name, const std::string& value) {
    replaceFile(dir(index) / name, value.data(), value.size());
}

bool RackState::plugged(int index) const {
    const auto& d = drive(index);
    if (d.kind == DriveKind::Empty) {
        return false;
    }
    const auto s = readSmall(index, "plugged");
    return s ? *s == "1" : d.plugged;
}

void RackState::setPlugged(int index, bool on) {
    if (drive(index).kind == DriveKind::Empty) {
        throw RackError("drive index " + std::to_string(index) + " is empty in this rack");
    }
    writeSmall(index, "plugged", on ? "1" : "0");
}

bool RackState::writeProtect(int index) const {
    const auto s = readSmall(index, "write_protect");
    return s ? *s == "1" : drive(index).writeProtect;
}

void RackState::setWriteProtect(int index, bool on) {
    if (drive(index).kind != DriveKind::Usb) {
        throw RackError("drive index " + std::to_string(index) + " is not a USB drive");
    }
    writeSmall(index, "write_protect", on ? "1" : "0");
}

std::array<uint8_t, kBlockSize> RackState::configBlock(int index) const {
    std::array<uint8_t, kBlockSize> block{};
    std::ifstream in(dir(index) / "config.bin", std::ios::binary);
    in.read(reinterpret_cast<char*>(block.data()), static_cast<std::streamsize>(block.size()));
    return block;
}

void RackState::setConfigBlock(int index, const std::array<uint8_t, kBlockSize>& block) {
    // What the station reads back as the drive's identity: on disk, or a
    // failure.
    replaceFile(dir(index) / "config.bin", block.data(), block.size(), true);
}

uint64_t RackState::ledCount(int index) const {
    const auto s = readSmall(index, "led");
    return s ? std::strtoull(s->c_str(), nullptr, 10) : 0;
}

// Every read of every drive counts here, so it must stay cheap and must not
// make the drives wait for each other: the count is changed in place under a
// lock on its own file, never through the rack-wide lock and a new file. It
// only grows, so the new text always covers the old.
void RackState::addLedActivity(int index, uint64_t reads) {
    const auto file = dir(index) / "led";
    ufd::UniqueFd fd(::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (!fd && errno == ENOENT) {
        std::filesystem::create_directories(dir(index));
        fd.reset(::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    }
    if (!fd) {
        return; // the light is for the eye: a drive's read never fails for it
    }
    ::flock(fd.get(), LOCK_EX);
    char buf[32] = {};
    const ssize_t n = ::pread(fd.get(), buf, sizeof buf - 1, 0);
    const uint64_t count = (n > 0 ? std::strtoull(buf, nullptr, 10) : 0) + reads;
    const std::string text = std::to_string(count);
    [[maybe_unused]] const ssize_t kept = ::pwrite(fd.get(), text.data(), text.size(), 0);
    ::flock(fd.get(), LOCK_UN);
}

std::optional<uint32_t> RackState::boundary(int index) const {
    const auto s = readSmall(index, "boundary");
    if (!s) {
        return std::nullopt;
    }
    return static_cast<uint32_t>(std::strtoul(s->c_str(), nullptr, 10));
}

void RackState::setBoundary(int index, uint32_t sector) {
    writeSmall(index, "boundary", std::to_string(sector));
}

std::filesystem::path RackState::imagePath(int index) const {
    const auto& d = drive(index);
    const auto path = dir(index) / "image.img";
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        std::filesystem::create_directories(dir(index));
        const ufd::UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
        // Sparse: only what the station writes takes room.
        if (fd && ::ftruncate(fd.get(), static_cast<off_t>(d.capacity * kBlockSize)) != 0) {
            throw RackError("cannot size image " + path.string());
        }
    }
    return path;
}

void RackState::reset(int index) {
    checkIndex(index);
    StateLock lock(profile_.stateDir);
    std::error_code ec;
    for (const char* name : {"image.img", "config.bin", "led", "boundary"}) {
        std::filesystem::remove(dir(index) / name, ec);
    }
}

std::array<bool, kDriveCount> RackState::pluggedStates() const {
    std::array<bool, kDriveCount> states{};
    for (int i = 0; i < kDriveCount; ++i) {
        states[static_cast<size_t>(i)] = plugged(i);
    }
    return states;
}

} // namespace quorlink::sim
