#include "drives_report.h"

#include "drive_map.h"
#include "safety.h"

#include <algorithm>

namespace ufd::drives {
using namespace quorlink;
using namespace quorlink::sg;
namespace {

std::string orDash(std::string s) {
    std::replace_if(
        s.begin(), s.end(), [](unsigned char c) { return c <= 0x20 || c >= 0x7F; }, '_');
    return s.empty() ? "-" : s;
}

std::string state(const Roots& roots, const SgDeviceInfo& info) {
    if (info.blockName.empty()) {
        return "-";
    }
    const auto mounts = readMounts(roots.mountInfo);
    if (!mounts) {
        return "unknown";
    }
    if (findMount(*mounts, blockNodes(roots, info.sg))) {
        return "mounted";
    }
    return info.holders.empty() ? "free" : "held";
}

std::string verdict(const Roots& roots, const QuorlinkConf& conf, const MappedDevice& d) {
    if (auto why = refusal(roots, conf, d.info)) {
        constexpr std::string_view prefix = "refused: ";
        return "no: " + (why->starts_with(prefix) ? why->substr(prefix.size()) : *why);
    }
    if (d.index >= 0) {
        return "yes";
    }
    if (!conf.ports.empty()) {
        return "no: port " + d.info.portPath + " is not in [Ports] of " + conf.file.string();
    }
    return "no: the drive indexes 0 to 16 are taken";
}

} // namespace

std::vector<DriveRow> driveRows(const Roots& roots, const QuorlinkConf& conf) {
    std::vector<DriveRow> rows;
    for (const MappedDevice& d : mapDrives(roots, conf)) {
        const SgDeviceInfo& i = d.info;
        rows.push_back({"sg" + std::to_string(i.sg), d.index >= 0 ? std::to_string(d.index) : "-",
                        orDash(i.blockName), orDash(i.portPath),
                        i.usbId ? usbIdText(*i.usbId) : "-", orDash(i.serial),
                        i.logicalBlockSize ? std::to_string(i.logicalBlockSize) : "-",
                        state(roots, i), verdict(roots, conf, d)});
    }
    return rows;
}

std::string table(const std::vector<DriveRow>& rows) {
    using Field = std::string DriveRow::*;
    const Field columns[] = {&DriveRow::sg,        &DriveRow::index, &DriveRow::block,
                             &DriveRow::port,      &DriveRow::usb,   &DriveRow::serial,
                             &DriveRow::blockSize, &DriveRow::state, &DriveRow::verdict};
    const DriveRow header{"sg",     "index",     "block", "port",   "vid:pid",
                          "serial", "blocksize", "state", "station"};
    std::vector<const DriveRow*> all = {&header};
    for (const DriveRow& r : rows) {
        all.push_back(&r);
    }
    std::vector<size_t> widths(std::size(columns), 0);
    for (const DriveRow* r : all) {
        for (size_t c = 0; c < widths.size(); ++c) {
            widths[c] = std::max(widths[c], (r->*columns[c]).size());
        }
    }
    std::string out;
    auto line = [&](const DriveRow& r) {
        for (size_t c = 0; c < widths.size(); ++c) {
            const std::string& text = r.*columns[c];
            out += text;
            if (c + 1 < widths.size()) {
                out += std::string(widths[c] - text.size() + 2, ' ');
            }
        }
        out += '\n';
    };
    for (const DriveRow* r : all) {
        line(*r);
    }
    return out;
}

std::optional<std::string> udevRules(const QuorlinkConf& conf) {
    if (conf.allow.empty()) {
        return std::nullopt;
    }
    std::string out = "# UFD station: the drives [Drives] Allow= of " + conf.file.string() +
                      " lists.\n"
                      "# Their sg and whole-disk nodes, and the USB device node that a reset\n"
                      "# of a stick which stopped answering goes through, go to group\n"
                      "# ufdstation; none of their block devices is automounted, so a desktop\n"
                      "# leaves a freshly formatted drive alone in the middle of a run.\n";
    for (const UsbId& id : conf.allow) {
        const std::string text = usbIdText(id);
        const std::string match = "SUBSYSTEMS==\"usb\", ATTRS{idVendor}==\"" + text.substr(0, 4) +
                                  "\", ATTRS{idProduct}==\"" + text.substr(5) + "\"";
        out += "\n# " + text + "\n";
        out += "SUBSYSTEM==\"scsi_generic\", " + match + ", GROUP=\"ufdstation\", MODE=\"0660\"\n";
        out += "SUBSYSTEM==\"block\", ENV{DEVTYPE}==\"disk\", " + match +
               ", GROUP=\"ufdstation\", MODE=\"0660\", ENV{UDISKS_IGNORE}=\"1\"\n";
        out += "SUBSYSTEM==\"block\", ENV{DEVTYPE}==\"partition\", " + match +
               ", ENV{UDISKS_IGNORE}=\"1\"\n";
        out += "SUBSYSTEM==\"usb\", ENV{DEVTYPE}==\"usb_device\", ATTR{idVendor}==\"" +
               text.substr(0, 4) + "\", ATTR{idProduct}==\"" + text.substr(5) +
               "\", GROUP=\"ufdstation\", MODE=\"0660\"\n";
    }
    return out;
}

} // namespace ufd::drives
