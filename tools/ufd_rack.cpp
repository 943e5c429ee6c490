// ufd-rack: the hand that plugs, unplugs and inspects simulated drives.
#include "platform/program_info.h"
#include "rack.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

using quorlink::sim::DriveKind;
using quorlink::sim::RackError;
using quorlink::sim::RackState;

namespace {

constexpr const char* kUsage =
    "usage: ufd-rack [--rack FILE] COMMAND\n"
    "  list                 every drive index, its kind and state\n"
    "  plug N | unplug N    change whether drive N is plugged in\n"
    "  wp N on|off          flip drive N's write-protect switch\n"
    "  config N             hex dump of drive N's configuration block\n"
    "  led N                read commands seen by drive N (LED activity)\n"
    "  partitions N         drive N's partition table (MBR, and EBR if any)\n"
    "  boundary N           the second-area boundary last sent to drive N\n"
    "  reset N              erase drive N's image and configuration block\n"
    "  --help | --version   this text | the program's version\n"
    "The rack is --rack FILE, else $QUORLINK_RACK.\n";

int usage() {
    std::fputs(kUsage, stderr);
    return 2;
}

int parseIndex(const std::string& s) {
    try {
        size_t used = 0;
        const int n = std::stoi(s, &used);
        if (used == s.size()) {
            quorlink::sim::checkIndex(n);
            return n;
        }
    } catch (const std::invalid_argument&) {
    } catch (const std::out_of_range&) {
    }
    throw RackError("\"" + s + "\" is not a drive index 0 to 16");
}

const char* kindName(DriveKind k) {
    switch (k) {
    case DriveKind::Disk:
        return "disk";
    case DriveKind::Usb:
        return "usb";
    case DriveKind::Empty:
        break;
    }
    return "empty";
}

// What a drive's flash does beyond its controller's word, after the device
// line; nothing for a good drive, so a rack without flash keys lists as ever.
std::string flashText(const quorlink::sim::FlashProfile& f, const std::string& hub) {
    std::string text;
    char buf[96];
    if (f.flashSectors != 0) {
        std::snprintf(buf, sizeof buf, "  flash_sectors=%llu",
                      static_cast<unsigned long long>(f.flashSectors));
        text += buf;
        // The kind and what dropped sectors read only where they differ from today's wrap.
        if (f.fake != quorlink::sim::FakeKind::Wrap) {
            text += std::string("  fake=") + quorlink::sim::fakeKindName(f.fake);
        }
        if (f.pastEnd != quorlink::sim::PastEnd::Zeros) {
            text += std::string("  past_end=") + quorlink::sim::pastEndName(f.pastEnd);
        }
    }
    if (f.cacheSectors != 0) {
        std::snprintf(buf, sizeof buf, "  cache_sectors=%llu",
                      static_cast<unsigned long long>(f.cacheSectors));
        text += buf;
    }
    if (f.hangAfter != 0) {
        std::snprintf(buf, sizeof buf, "  hang_after=%llu",
                      static_cast<unsigned long long>(f.hangAfter));
        text += buf;
    }
    if (!hub.empty()) {
        text += "  hub=";
        text += hub;
    }
    if (!f.badSectors.empty()) {
        text += "  bad_sectors=";
        for (size_t k = 0; k < f.badSectors.size(); ++k) {
            // Two appends: GCC 12's Release build flags "," + string&& (-Wrestrict).
            if (k != 0) {
                text += ',';
            }
            text += std::to_string(f.badSectors[k]);
        }
    }
    // Only the rates the rack sets: the other direction has no limit.
    if (f.readMBps > 0) {
        std::snprintf(buf, sizeof buf, "  read_mbps=%g", f.readMBps);
        text += buf;
    }
    if (f.writeMBps > 0) {
        std::snprintf(buf, sizeof buf, "  write_mbps=%g", f.writeMBps);
        text += buf;
    }
    return text;
}

void list(const RackState& rack) {
    std::printf("%-5s %-5s %-8s %-3s %10s  %s\n", "index", "kind", "plugged", "wp", "sectors",
                "device line");
    for (int i = 0; i < quorlink::sim::kDriveCount; ++i) {
        const auto& d = rack.drive(i);
        if (d.kind == DriveKind::Empty) {
            std::printf("%-5d %-5s\n", i, "empty");
            continue;
        }
        std::printf("%-5d %-5s %-8s %-3s %10llu  %s%s\n", i, kindName(d.kind),
                    rack.plugged(i) ? "yes" : "no",
                    d.kind == DriveKind::Usb ? (rack.writeProtect(i) ? "on" : "off") : "-",
                    static_cast<unsigned long long>(d.capacity), d.deviceLine().c_str(),
                    flashText(d.flash, d.hub).c_str());
    }
}

void hexDump(const uint8_t* data, size_t size) {
    for (size_t row = 0; row < size; row += 16) {
        std::printf("%04zx ", row);
        for (size_t i = row; i < row + 16 && i < size; ++i) {
            std::printf(" %02X", data[i]);
        }
        std::printf("\n");
    }
}

uint32_t le32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

bool readSector(const RackState& rack, int index, uint64_t sector, uint8_t* out) {
    std::ifstream in(rack.imagePath(index), std::ios::binary);
    in.seekg(static_cast<std::streamoff>(sector * quorlink::sim::kBlockSize));
    in.read(reinterpret_cast<char*>(out), quorlink::sim::kBlockSize);
    return static_cast<size_t>(in.gcount()) == quorlink::sim::kBlockSize;
}

void printTable(const char* title, uint64_t at, const uint8_t* sector) {
    std::printf("%s at sector %llu: signature %02X %02X\n", title,
                static_cast<unsigned long long>(at), sector[510], sector[511]);
    std::printf("  #  status type  start(h/s/c)  end(h/s/c)   first       count\n");
    for (int e = 0; e < 4; ++e) {
        const uint8_t* p = sector + 446 + 16 * e;
        if (p[4] == 0 && le32(p + 8) == 0 && le32(p + 12) == 0) {
            continue;
        }
        std::printf("  %d  %02X     %02X    %3u/%3u/%3u   %3u/%3u/%3u  %-10u  %u\n", e + 1, p[0],
                    p[4], p[1], p[2], p[3], p[5], p[6], p[7], le32(p + 8), le32(p + 12));
    }
}

int partitions(const RackState& rack, int index) {
    if (rack.drive(index).kind != DriveKind::Usb) {
        throw RackError("drive index " + std::to_string(index) + " is not a USB drive");
    }
    uint8_t mbr[512];
    if (!readSector(rack, index, 0, mbr)) {
        throw RackError("cannot read drive " + std::to_string(index) + "'s image");
    }
    if (mbr[510] != 0x55 || mbr[511] != 0xAA) {
        std::printf("no partition table (sector 0 has no 55 AA signature)\n");
        return 0;
    }
    printTable("MBR", 0, mbr);
    for (int e = 0; e < 4; ++e) {
        const uint8_t* p = mbr + 446 + 16 * e;
        if (p[4] == 0x05 || p[4] == 0x0F) {
            uint8_t ebr[512];
            if (readSector(rack, index, le32(p + 8), ebr)) {
                printTable("EBR", le32(p + 8), ebr);
            }
        }
    }
    return 0;
}

int run(const std::string& rackFile, const std::vector<std::string>& args) {
    RackState rack(quorlink::sim::loadRack(rackFile));
    const std::string& cmd = args[0];
    if (cmd == "list" && args.size() == 1) {
        list(rack);
        return 0;
    }
    if (args.size() < 2) {
        return usage();
    }
    const int n = parseIndex(args[1]);
    if ((cmd == "plug" || cmd == "unplug") && args.size() == 2) {
        rack.setPlugged(n, cmd == "plug");
        std::printf("drive %d %s\n", n, cmd == "plug" ? "plugged in" : "unplugged");
        return 0;
    }
    if (cmd == "wp" && args.size() == 3 && (args[2] == "on" || args[2] == "off")) {
        rack.setWriteProtect(n, args[2] == "on");
        std::printf("drive %d write protect %s\n", n, args[2].c_str());
        return 0;
    }
    if (cmd == "config" && args.size() == 2) {
        const auto block = rack.configBlock(n);
        hexDump(block.data(), block.size());
        return 0;
    }
    if (cmd == "led" && args.size() == 2) {
        std::printf("%llu\n", static_cast<unsigned long long>(rack.ledCount(n)));
        return 0;
    }
    if (cmd == "partitions" && args.size() == 2) {
        return partitions(rack, n);
    }
    if (cmd == "boundary" && args.size() == 2) {
        const auto b = rack.boundary(n);
        if (b) {
            std::printf("%u\n", *b);
        } else {
            std::printf("none\n");
        }
        return 0;
    }
    if (cmd == "reset" && args.size() == 2) {
        rack.reset(n);
        std::printf("drive %d reset\n", n);
        return 0;
    }
    return usage();
}

} // namespace

int main(int argc, char** argv) {
    if (const auto code = ufd::AnswerInfoOption(argc, argv, "ufd-rack", kUsage)) {
        return *code;
    }
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string rackFile;
    if (args.size() >= 2 && args[0] == "--rack") {
        rackFile = args[1];
        args.erase(args.begin(), args.begin() + 2);
    } else if (const char* env = std::getenv("QUORLINK_RACK"); env != nullptr) {
        rackFile = env;
    }
    if (args.empty() || args[0] == "-h") {
        std::fputs(kUsage, args.empty() ? stderr : stdout);
        return args.empty() ? 2 : 0;
    }
    if (rackFile.empty()) {
        std::fputs("ufd-rack: no rack: give --rack FILE or set QUORLINK_RACK\n", stderr);
        return 2;
    }
    try {
        return run(rackFile, args);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ufd-rack: %s\n", e.what());
        return 1;
    }
}
