// ufd-stick: USB flash drives in user space for the real-kernel tests. Each
// serves Bulk-Only Transport on a FunctionFS instance (a mounted functionfs
// folder: one interface, one bulk IN and one bulk OUT endpoint), answers
// every command block through the simulator's drive model of one rack drive,
// and logs each command block it receives, one line each, as it answers it.
//
//   ufd-stick --rack FILE --index N[,N...] --ffs DIR[,DIR...]
//             --log FILE[,FILE...] [--ready FILE] [--block-size BYTES]
//             [--not-ready N [--not-ready-after FILE]]
//
// Several indexes (with as many folders and logs) are served by one process,
// one thread each, over one drive model: drives on one rack hub then share
// its bandwidth, as the simulator's do. --ready is written once all are.
//
// --not-ready: the first N commands that need the medium get NOT READY,
// becoming ready; counted from the moment FILE exists when given, so that
// the kernel's own probe at plug time does not use them up.
//
// The rack's state lives where the simulator keeps it ($QUORLINK_STATE_DIR,
// else beside the rack). USB identity (VID:PID, serial) belongs to the gadget
// the FunctionFS instance sits in, set up through configfs by the test.
#include "support/test_common.h"

#include "executor.h"
#include "stick.h"

#include <linux/usb/ch9.h>
#include <linux/usb/functionfs.h>

#include <endian.h>
#include <err.h>

#include <algorithm>
#include <atomic>
#include <list>
#include <sstream>
#include <thread>

using namespace stick;

namespace {

struct [[gnu::packed]] Interface {
    usb_interface_descriptor intf;
    usb_endpoint_descriptor_no_audio in, out;
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

// What ep0 takes before the endpoints exist: descriptors, then strings; main
// fills in the two lengths.
struct [[gnu::packed]] Descriptors {
    usb_functionfs_descs_head_v2 header{htole32(FUNCTIONFS_DESCRIPTORS_MAGIC_V2), 0,
                                        htole32(FUNCTIONFS_HAS_FS_DESC | FUNCTIONFS_HAS_HS_DESC)};
    __le32 fsCount = htole32(3), hsCount = htole32(3);
    Interface fs = bulkOnly(64), hs = bulkOnly(512); // full and high speed
    usb_functionfs_strings_head strings{htole32(FUNCTIONFS_STRINGS_MAGIC), 0, htole32(1),
                                        htole32(1)};
    __le16 language = htole16(0x0409);
    char name[16] = "Bulk-Only stick";
};

// The most one command moves: usb-storage's max_sectors at its highest.
constexpr uint32_t kMaxDataLength = 65535 * 512;

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

const char* eventName(uint8_t type) {
    static const char* const names[] = {"BIND",  "UNBIND",  "ENABLE", "DISABLE",
                                        "SETUP", "SUSPEND", "RESUME"};
    return type < std::size(names) ? names[type] : "UNKNOWN";
}

// One stick of the process: its drive, its FunctionFS folder and its log.
struct Served {
    Stick stick;
    std::filesystem::path dir;
    FILE* log;
    long notReady;
    // USB resets the host made: the function is disabled when the port is
    // reset (or the stick pulled) and enabled again at SET_CONFIGURATION.
    std::atomic<unsigned> resets{0};
};

// ep0's events and class requests, for as long as the process lives. The
// endpoints' own reads and writes wait for the host to configure the
// interface.
void serveEp0(int ep0, Served* served) {
    constexpr uint8_t kGetMaxLun = 0xFE, kBulkOnlyReset = 0xFF;
    FILE* log = served->log;
    usb_functionfs_event e;
    while (::read(ep0, &e, sizeof(e)) == sizeof(e)) {
        if (e.type == FUNCTIONFS_DISABLE) {
            ++served->resets;
        }
        if (e.type != FUNCTIONFS_SETUP) {
            std::fprintf(log, "event %s\n", eventName(e.type));
            continue;
        }
        // GET MAX LUN gets its byte (one logical unit), a Bulk-Only reset its
        // acknowledgement; anything else is stalled by a transfer against
        // the request's direction.
        const bool in = (e.u.setup.bRequestType & USB_DIR_IN) != 0;
        const bool known = e.u.setup.bRequest == (in ? kGetMaxLun : kBulkOnlyReset);
        if (e.u.setup.bRequest == kBulkOnlyReset) {
            std::fputs("event Bulk-Only reset\n", log);
        }
        uint8_t maxLun = 0;
        (void)!(in == known ? ::write(ep0, &maxLun, in ? 1 : 0) : ::read(ep0, &maxLun, 0));
    }
}

// Writes the stick's descriptors, counts `pending` down once its endpoints
// are open, then answers its commands for as long as the process lives.
void serve(Served& served, std::atomic<int>& pending, const std::string& notReadyAfter) {
    Stick& stick = served.stick;
    FILE* log = served.log;
    const auto endpoint = [&](const char* name) {
        const int fd = ::open((served.dir / name).c_str(), O_RDWR | O_CLOEXEC);
        return fd >= 0 ? fd : (err(1, "cannot open %s/%s", served.dir.c_str(), name), -1);
    };
    const int ep0 = endpoint("ep0");
    const size_t split = offsetof(Descriptors, strings);
    Descriptors d;
    d.header.length = htole32(split);
    d.strings.length = htole32(sizeof(d) - split);
    const std::span bytes(reinterpret_cast<uint8_t*>(&d), sizeof(d));
    if (transfer(ep0, bytes.first(split), true) < split ||
        transfer(ep0, bytes.subspan(split), true) < sizeof(d) - split) {
        err(1, "cannot write the descriptors to ep0");
    }
    const int in = endpoint("ep1"), out = endpoint("ep2");
    std::thread(serveEp0, ep0, &served).detach();
    --pending;
    std::vector<uint8_t> buffer(512), data;
    unsigned resetsSeen = served.resets.load();
    for (;;) {
        const ssize_t n = ::read(out, buffer.data(), buffer.size());
        if (n < 0) {
            // Unplugged or reset under us: the next read waits for the host.
            ::usleep(20000);
            continue;
        }
        if (const unsigned now = served.resets.load(); now != resetsSeen) {
            // Told to the drive model before the first command after it.
            resetsSeen = now;
            const std::string why = stick.reset();
            std::fprintf(log, "USB reset: %s\n", why.empty() ? "drive reset" : why.c_str());
        }
        const auto cbw = parseCbw(std::span(buffer).first(static_cast<size_t>(n)));
        if (!cbw) {
            std::fprintf(log, "invalid command block wrapper of %zd bytes\n", n);
            continue;
        }
        if (cbw->dataLength > kMaxDataLength) {
            // Garbage, or more than any queue sends: no buffer that size.
            // The phase error makes the host reset the stick.
            std::fprintf(log, "data phase of %u bytes refused\n", cbw->dataLength);
            auto csw = buildCsw(cbw->tag, cbw->dataLength, CswStatus::PhaseError);
            transfer(in, csw, true);
            continue;
        }
        data.assign(cbw->dataLength, 0);
        const bool dataOut = !cbw->dataIn && !data.empty();
        if (const size_t got = dataOut ? transfer(out, data, false) : data.size();
            got < data.size()) {
            std::fprintf(log, "data phase cut after %zu bytes\n", got);
            continue;
        }
        if (served.notReady > 0 &&
            (notReadyAfter.empty() || ::access(notReadyAfter.c_str(), F_OK) == 0)) {
            stick.notReadyFor(static_cast<int>(std::exchange(served.notReady, 0)));
        }
        const auto cdb = std::span(cbw->cdb).first(cbw->cdbLength);
        const Answer a = dataOut ? stick.answer(cdb, {}, data) : stick.answer(cdb, data, {});
        std::fputs("cdb=", log);
        for (const uint8_t byte : cdb) {
            std::fprintf(log, "%02x", byte);
        }
        if (a.silent) {
            // No data, no status: the host times out and resets the port.
            std::fprintf(log, " %s %u no answer (%s)\n",
                         dataOut ? "out" : (cbw->dataIn ? "in" : "none"), cbw->dataLength,
                         a.reason.c_str());
            while (served.resets.load() == resetsSeen) {
                ::usleep(20000);
            }
            continue;
        }
        if (cbw->dataIn && transfer(in, data, true) < data.size()) {
            std::fputs(" data-in cut\n", log);
            continue;
        }
        auto csw = buildCsw(cbw->tag, 0, a.ok ? CswStatus::Good : CswStatus::Failed);
        transfer(in, csw, true);
        std::fprintf(log, " %s %u %s %X/%02X/%02X %s\n",
                     dataOut ? "out" : (cbw->dataIn ? "in" : "none"), cbw->dataLength,
                     a.ok ? "good" : "failed", a.sense[0], a.sense[1], a.sense[2],
                     a.reason.c_str());
    }
}

std::vector<std::string> commaList(const std::string& text) {
    std::vector<std::string> items;
    std::stringstream in(text);
    for (std::string item; std::getline(in, item, ',');) {
        items.push_back(item);
    }
    return items;
}

} // namespace

int main(int argc, char** argv) {
    std::map<std::string, std::string> opt;
    for (int i = 1; i + 1 < argc; i += 2) {
        opt[argv[i]] = argv[i + 1];
    }
    // A numeric option in [low, high]: `absent` when not given, -1 when bad.
    const auto number = [&](const std::string& text, long absent, long low, long high) {
        char* end = nullptr;
        const long v = text.empty() ? absent : std::strtol(text.c_str(), &end, 10);
        return end && (*end != '\0' || v < low || v > high) ? -1 : v;
    };
    const long blockSize = number(opt["--block-size"], 512, 512, 65536),
               notReady = number(opt["--not-ready"], 0, 1, 1000);
    const std::vector<std::string> indexes = commaList(opt["--index"]),
                                   dirs = commaList(opt["--ffs"]), logs = commaList(opt["--log"]);
    std::vector<long> numbers;
    for (const std::string& i : indexes) {
        numbers.push_back(number(i, -1, 0, 16));
    }
    if (argc % 2 == 0 || !opt.count("--rack") || indexes.empty() || dirs.size() != indexes.size() ||
        logs.size() != indexes.size() || std::count(numbers.begin(), numbers.end(), -1) > 0 ||
        blockSize % 512 != 0 || notReady < 0) {
        errx(2, "usage: ufd-stick --rack FILE --index N[,N...] --ffs DIR[,DIR...] "
                "--log FILE[,FILE...] [--ready FILE] [--block-size BYTES] "
                "[--not-ready N [--not-ready-after FILE]]");
    }

    // One drive model for all: the drives of one rack hub share its bandwidth.
    auto executor = quorlink::makeSimulatorExecutor(opt["--rack"]);
    std::list<Served> sticks;
    for (size_t k = 0; k < numbers.size(); ++k) {
        quorlink::OpenResult drive = executor->open(static_cast<int>(numbers[k]));
        if (!drive.device || drive.deviceLine.find("USBSTOR") == std::string::npos) {
            errx(2, "drive %ld of %s is not a plugged-in USB drive", numbers[k],
                 opt["--rack"].c_str());
        }
        FILE* log = std::fopen(logs[k].c_str(), "ae");
        if (!log || std::setvbuf(log, nullptr, _IOLBF, 0) != 0) {
            err(2, "cannot open the log %s", logs[k].c_str());
        }
        sticks.emplace_back(Stick(std::move(drive.device), static_cast<uint32_t>(blockSize)),
                            dirs[k], log, notReady);
    }
    std::atomic<int> pending{static_cast<int>(sticks.size())};
    std::vector<std::thread> threads;
    for (Served& s : sticks) {
        threads.emplace_back(serve, std::ref(s), std::ref(pending), opt["--not-ready-after"]);
    }
    while (pending.load() > 0) {
        ::usleep(10000);
    }
    std::ofstream(opt["--ready"]) << "ready\n"; // no --ready: a stream that never opened
    for (std::thread& t : threads) {
        t.join();
    }
}
