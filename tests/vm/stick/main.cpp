// ufd-stick: a USB flash drive in user space for the real-kernel tests. It
// serves Bulk-Only Transport on a FunctionFS instance (a mounted functionfs
// folder: one interface, one bulk IN and one bulk OUT endpoint), answers
// every command block through the simulator's drive model of one rack drive,
// and logs each command block it receives, one line each, as it answers it.
//
//   ufd-stick --rack FILE --index N --ffs DIR --log FILE [--ready FILE]
//             [--block-size BYTES] [--not-ready N [--not-ready-after FILE]]
//
// --not-ready: the first N commands that need the medium get NOT READY,
// becoming ready; counted from the moment FILE exists when given, so that
// the kernel's own probe at plug time does not use them up.
//
// The rack's state lives where the simulator keeps it ($QUORLINK_STATE_DIR,
// else beside the rack). USB identity (VID:PID, serial) belongs to the gadget
// the FunctionFS instance sits in, set up through configfs by the test.
#include "executor.h"
#include "stick.h"

#include <linux/usb/ch9.h>
#include <linux/usb/functionfs.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <endian.h>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <thread>
#include <unistd.h>

using namespace stick;

namespace {

struct [[gnu::packed]] Interface {
    usb_interface_descriptor intf;
    usb_endpoint_descriptor_no_audio in, out;
};

// What ep0 takes before the endpoints exist: descriptors, then strings.
struct [[gnu::packed]] Descriptors {
    usb_functionfs_descs_head_v2 header;
    __le32 fsCount, hsCount;
    Interface fs, hs; // full and high speed
    usb_functionfs_strings_head strings;
    __le16 language;
    char name[16];
};

Interface bulkOnly(uint16_t maxPacket) {
    // Mass storage, SCSI transparent command set (0x06), Bulk-Only (0x50).
    const auto ep = [&](uint8_t address) {
        return usb_endpoint_descriptor_no_audio{USB_DT_ENDPOINT_SIZE,   USB_DT_ENDPOINT,    address,
                                                USB_ENDPOINT_XFER_BULK, htole16(maxPacket), 0};
    };
    const usb_interface_descriptor intf{
        USB_DT_INTERFACE_SIZE, USB_DT_INTERFACE, 0, 0, 2, USB_CLASS_MASS_STORAGE, 0x06, 0x50, 1};
    return {intf, ep(1 | USB_DIR_IN), ep(2 | USB_DIR_OUT)};
}

[[noreturn]] void die(const std::string& what) {
    std::fprintf(stderr, "ufd-stick: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(1);
}

int openOrDie(const std::filesystem::path& file) {
    const int fd = ::open(file.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        die("cannot open " + file.string());
    }
    return fd;
}

// Moves all of `bytes` over an endpoint; how many moved before the host cut
// the transfer (an unplug or a reset).
size_t transfer(int fd, std::span<uint8_t> bytes, bool send) {
    size_t done = 0;
    for (ssize_t n = 1; n > 0 && done < bytes.size(); done += std::max<ssize_t>(n, 0)) {
        const auto rest = bytes.subspan(done);
        n = send ? ::write(fd, rest.data(), rest.size()) : ::read(fd, rest.data(), rest.size());
    }
    return done;
}

// ep0's class requests, for as long as the process lives. The endpoints' own
// reads and writes wait for the host to configure the interface.
void serveEp0(int ep0) {
    constexpr uint8_t kGetMaxLun = 0xFE, kBulkOnlyReset = 0xFF;
    usb_functionfs_event e;
    while (::read(ep0, &e, sizeof(e)) == sizeof(e)) {
        // GET MAX LUN gets its byte (one logical unit), a Bulk-Only reset its
        // acknowledgement; anything else is stalled by a transfer against
        // the request's direction.
        const bool in = (e.u.setup.bRequestType & USB_DIR_IN) != 0;
        const bool known = e.u.setup.bRequest == (in ? kGetMaxLun : kBulkOnlyReset);
        uint8_t maxLun = 0;
        if (e.type == FUNCTIONFS_SETUP) {
            (void)!(in == known ? ::write(ep0, &maxLun, in ? 1 : 0) : ::read(ep0, &maxLun, 0));
        }
    }
}

int usage(const std::string& why) {
    std::fprintf(stderr,
                 "ufd-stick: %s\nusage: ufd-stick --rack FILE --index N --ffs DIR --log FILE "
                 "[--ready FILE] [--block-size BYTES] [--not-ready N [--not-ready-after FILE]]\n",
                 why.c_str());
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    std::map<std::string, std::string> opt;
    for (int i = 1; i + 1 < argc; i += 2) {
        opt[argv[i]] = argv[i + 1];
    }
    for (const char* need : {"--rack", "--index", "--ffs", "--log"}) {
        if (argc % 2 == 0 || !opt.count(need)) {
            return usage(argc % 2 == 0 ? "every option takes a value"
                                       : need + std::string(" is missing"));
        }
    }
    // A numeric option in [low, high]: `absent` when not given, -1 when bad.
    const auto number = [&](const char* key, long absent, long low, long high) {
        char* end = nullptr;
        const long v = opt.count(key) ? std::strtol(opt[key].c_str(), &end, 10) : absent;
        return end && (*end != '\0' || v < low || v > high) ? -1 : v;
    };
    const long index = number("--index", -1, 0, 16);
    long notReady = number("--not-ready", 0, 1, 1000);
    const long blockSize = number("--block-size", 512, 512, 65536);
    if (index < 0 || blockSize % 512 != 0 || notReady < 0) {
        return usage("bad --index, --block-size or --not-ready");
    }
    const std::string notReadyAfter = opt["--not-ready-after"];

    auto executor = quorlink::makeSimulatorExecutor(opt["--rack"]);
    quorlink::OpenResult drive = executor->open(static_cast<int>(index));
    if (!drive.device || drive.deviceLine.find("USBSTOR") == std::string::npos) {
        std::fprintf(stderr, "ufd-stick: drive %ld of %s is not a plugged-in USB drive\n", index,
                     opt["--rack"].c_str());
        return 2;
    }
    Stick stick(std::move(drive.device), static_cast<uint32_t>(blockSize));
    std::ofstream log(opt["--log"], std::ios::app);
    if (!log) {
        return usage("cannot open the log " + opt["--log"]);
    }

    const std::filesystem::path dir = opt["--ffs"];
    const int ep0 = openOrDie(dir / "ep0");
    const size_t split = offsetof(Descriptors, strings);
    const usb_functionfs_descs_head_v2 head{
        htole32(FUNCTIONFS_DESCRIPTORS_MAGIC_V2), htole32(split),
        htole32(FUNCTIONFS_HAS_FS_DESC | FUNCTIONFS_HAS_HS_DESC)};
    const usb_functionfs_strings_head strings{htole32(FUNCTIONFS_STRINGS_MAGIC),
                                              htole32(sizeof(Descriptors) - split), htole32(1),
                                              htole32(1)};
    Descriptors d{head,          htole32(3), htole32(3),      bulkOnly(64),
                  bulkOnly(512), strings,    htole16(0x0409), "Bulk-Only stick"};
    const std::span bytes(reinterpret_cast<uint8_t*>(&d), sizeof(d));
    if (transfer(ep0, bytes.first(split), true) < split ||
        transfer(ep0, bytes.subspan(split), true) < sizeof(d) - split) {
        die("cannot write the descriptors to ep0");
    }
    const int in = openOrDie(dir / "ep1"), out = openOrDie(dir / "ep2");
    std::thread(serveEp0, ep0).detach();
    if (opt.count("--ready")) {
        std::ofstream(opt["--ready"]) << "ready\n";
    }
    std::vector<uint8_t> buffer(512), data;
    for (;;) {
        const ssize_t n = ::read(out, buffer.data(), buffer.size());
        if (n < 0) {
            // Unplugged or reset under us: the next read waits for the host.
            ::usleep(20000);
            continue;
        }
        const auto cbw = parseCbw(std::span(buffer).first(static_cast<size_t>(n)));
        if (!cbw) {
            log << "invalid command block wrapper of " << n << " bytes" << std::endl;
            continue;
        }
        data.assign(cbw->dataLength, 0);
        const bool dataOut = !cbw->dataIn && !data.empty();
        if (const size_t got = dataOut ? transfer(out, data, false) : data.size();
            got < data.size()) {
            log << "data phase cut after " << got << " bytes" << std::endl;
            continue;
        }
        if (notReady > 0 && (notReadyAfter.empty() || ::access(notReadyAfter.c_str(), F_OK) == 0)) {
            stick.notReadyFor(static_cast<int>(std::exchange(notReady, 0)));
        }
        const auto cdb = std::span(cbw->cdb).first(cbw->cdbLength);
        const Answer a = dataOut ? stick.answer(cdb, {}, data) : stick.answer(cdb, data, {});
        char line[80] = "cdb=";
        for (size_t i = 0; i < cdb.size(); ++i) {
            std::snprintf(line + 4 + 2 * i, 3, "%02x", cdb[i]);
        }
        if (cbw->dataIn && transfer(in, data, true) < data.size()) {
            log << line << " data-in cut" << std::endl;
            continue;
        }
        auto csw = buildCsw(cbw->tag, 0, a.ok ? CswStatus::Good : CswStatus::Failed);
        transfer(in, csw, true);
        const char* phase = dataOut ? "out" : (cbw->dataIn ? "in" : "none");
        log << line << ' ' << phase << ' ' << cbw->dataLength;
        char sense[16];
        std::snprintf(sense, sizeof(sense), " %X/%02X/%02X ", a.sense[0], a.sense[1], a.sense[2]);
        log << (a.ok ? " good" : " failed" + (sense + a.reason)) << std::endl;
    }
}
