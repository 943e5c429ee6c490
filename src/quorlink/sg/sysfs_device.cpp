#include "sysfs_device.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <system_error>

namespace quorlink::sg {
namespace fs = std::filesystem;
namespace {

std::string trim(std::string s) {
    auto blank = [](unsigned char c) { return std::isspace(c) != 0 || c == 0; };
    while (!s.empty() && blank(static_cast<unsigned char>(s.back()))) {
        s.pop_back();
    }
    size_t i = 0;
    while (i < s.size() && blank(static_cast<unsigned char>(s[i]))) {
        ++i;
    }
    return s.substr(i);
}

std::string readAttribute(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return {};
    }
    std::string line;
    std::getline(in, line);
    return trim(line);
}

// Device-line fields: the separators of the line itself and anything
// unprintable become '_', so one odd vendor string cannot change its shape.
std::string field(const std::string& raw) {
    std::string out = raw;
    for (char& c : out) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u >= 0x7F || c == '\\' || c == '&') {
            c = '_';
        }
    }
    return out;
}

std::string typeName(int peripheralType) {
    switch (peripheralType) {
    case -1:
    case 0:
        return "Disk";
    case 5:
        return "CdRom";
    default:
        return "Other";
    }
}

fs::path sgDeviceDir(const Roots& roots, int sg) {
    return roots.sys / "class" / "scsi_generic" / ("sg" + std::to_string(sg)) / "device";
}

template <typename T> std::optional<T> parseNumber(const std::string& text, int base) {
    T value{};
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value, base);
    if (text.empty() || ec != std::errc() || ptr != end) {
        return std::nullopt;
    }
    return value;
}

std::optional<UsbId> readUsbId(const fs::path& usbDevice) {
    const auto vid = parseNumber<uint16_t>(readAttribute(usbDevice / "idVendor"), 16);
    const auto pid = parseNumber<uint16_t>(readAttribute(usbDevice / "idProduct"), 16);
    if (!vid || !pid) {
        return std::nullopt;
    }
    return UsbId{*vid, *pid};
}

// The whole disk under the SCSI device: its name, logical block size and
// whatever is stacked on it.
void describeBlockDevice(const fs::path& scsiDevice, SgDeviceInfo& info) {
    std::error_code ec;
    std::vector<fs::path> disks;
    for (fs::directory_iterator it(scsiDevice / "block", ec), end; !ec && it != end;
         it.increment(ec)) {
        disks.push_back(it->path());
    }
    if (disks.empty()) {
        return;
    }
    std::sort(disks.begin(), disks.end());
    const fs::path& disk = disks.front();
    info.blockName = disk.filename().string();
    info.logicalBlockSize =
        parseNumber<uint32_t>(readAttribute(disk / "queue" / "logical_block_size"), 10).value_or(0);
    info.maxSectorsKb =
        parseNumber<uint32_t>(readAttribute(disk / "queue" / "max_sectors_kb"), 10).value_or(0);
    // A mapper or RAID device on the disk or on any of its partitions.
    std::vector<fs::path> levels = {disk};
    for (fs::directory_iterator it(disk, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code probe;
        if (fs::exists(it->path() / "partition", probe)) {
            levels.push_back(it->path());
        }
    }
    for (const fs::path& level : levels) {
        std::error_code inner;
        for (fs::directory_iterator it(level / "holders", inner), end; !inner && it != end;
             it.increment(inner)) {
            info.holders.push_back(it->path().filename().string());
        }
    }
    std::sort(info.holders.begin(), info.holders.end());
}

// A non-USB device must never look like USB storage to the station, whatever
// its vendor strings say.
std::string withoutUsbStorageMark(std::string line) {
    for (;;) {
        std::string lower = line;
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        const size_t at = lower.find("usbstor");
        if (at == std::string::npos) {
            return line;
        }
        line.replace(at, 7, "USB_STOR");
    }
}

} // namespace

SgDeviceInfo describeSgDevice(const Roots& roots, int sg) {
    SgDeviceInfo info;
    info.sg = sg;
    std::error_code ec;
    const fs::path scsiDevice = fs::canonical(sgDeviceDir(roots, sg), ec);
    if (ec) {
        return info;
    }
    info.known = true;
    info.scsiAddress = scsiDevice.filename().string();
    describeBlockDevice(scsiDevice, info);
    info.vendor = readAttribute(scsiDevice / "vendor");
    info.model = readAttribute(scsiDevice / "model");
    info.rev = readAttribute(scsiDevice / "rev");
    const std::string type = readAttribute(scsiDevice / "type");
    if (!type.empty() && std::all_of(type.begin(), type.end(), ::isdigit) && type.size() < 4) {
        info.peripheralType = std::stoi(type);
    }

    const fs::path sysRoot = fs::weakly_canonical(roots.sys, ec);
    for (fs::path dir = scsiDevice.parent_path();
         !dir.empty() && dir != dir.root_path() && dir != sysRoot; dir = dir.parent_path()) {
        const fs::path driver = fs::canonical(dir / "driver", ec);
        if (ec) {
            continue;
        }
        const std::string name = driver.filename().string();
        if (name == "usb-storage" || name == "uas") {
            info.usbStorage = true;
            info.usbDriver = name;
            // The interface's parent is the USB device, which holds the serial.
            info.serial = readAttribute(dir.parent_path() / "serial");
            info.portPath = dir.parent_path().filename().string();
            info.usbId = readUsbId(dir.parent_path());
            break;
        }
    }
    return info;
}

std::optional<uint64_t> ueventSeqnum(const Roots& roots) {
    return parseNumber<uint64_t>(readAttribute(roots.sys / "kernel" / "uevent_seqnum"), 10);
}

std::vector<int> sgNumbers(const Roots& roots) {
    std::vector<int> numbers;
    std::error_code ec;
    for (fs::directory_iterator it(roots.sys / "class" / "scsi_generic", ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.starts_with("sg")) {
            if (const auto n = parseNumber<int>(name.substr(2), 10)) {
                numbers.push_back(*n);
            }
        }
    }
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

std::string deviceLine(const SgDeviceInfo& info, bool allowed) {
    const std::string ids = typeName(info.peripheralType) + "&Ven_" + field(info.vendor) +
                            "&Prod_" + field(info.model) + "&Rev_" + field(info.rev);
    if (info.usbStorage && allowed) {
        const std::string serial = info.serial.empty() ? "0" : field(info.serial);
        return "USBSTOR\\" + ids + "\\" + serial;
    }
    return withoutUsbStorageMark("SCSI\\" + ids);
}

std::vector<BlockNode> blockNodes(const Roots& roots, int sg) {
    std::vector<BlockNode> nodes;
    std::error_code ec;
    const fs::path blockDir = sgDeviceDir(roots, sg) / "block";
    for (fs::directory_iterator disk(blockDir, ec), end; !ec && disk != end; disk.increment(ec)) {
        const std::string diskName = disk->path().filename().string();
        nodes.push_back({diskName, readAttribute(disk->path() / "dev"), false});
        std::error_code inner;
        for (fs::directory_iterator part(disk->path(), inner); !inner && part != end;
             part.increment(inner)) {
            std::error_code probe;
            if (fs::exists(part->path() / "partition", probe)) {
                nodes.push_back(
                    {part->path().filename().string(), readAttribute(part->path() / "dev"), true});
            }
        }
    }
    std::sort(nodes.begin(), nodes.end(),
              [](const BlockNode& a, const BlockNode& b) { return a.name < b.name; });
    return nodes;
}

std::string usbIdText(UsbId id) {
    char text[10];
    std::snprintf(text, sizeof text, "%04x:%04x", id.vid, id.pid);
    return text;
}

} // namespace quorlink::sg
