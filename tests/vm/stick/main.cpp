// ufd-stick: a USB flash drive in user space for the real-kernel tests. It
// serves Bulk-Only Transport on a FunctionFS instance and answers every
// command block through the simulator's drive model of one rack drive, and
// logs each command block it receives, one line each, as it answers it.
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
#include "bot.h"
#include "executor.h"
#include "ffs.h"
#include "stick.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

int usage(const char* why) {
    std::fprintf(stderr,
                 "ufd-stick: %s\nusage: ufd-stick --rack FILE --index N --ffs DIR --log FILE "
                 "[--ready FILE] [--block-size BYTES] [--not-ready N [--not-ready-after FILE]]\n",
                 why);
    return 2;
}

std::string hex(std::span<const uint8_t> bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (uint8_t b : bytes) {
        s += digits[b >> 4];
        s += digits[b & 15];
    }
    return s;
}

} // namespace

int main(int argc, char** argv) {
    std::map<std::string, std::string> opt;
    for (int i = 1; i + 1 < argc; i += 2) {
        opt[argv[i]] = argv[i + 1];
    }
    if (argc % 2 == 0) {
        return usage("every option takes a value");
    }
    for (const char* need : {"--rack", "--index", "--ffs", "--log"}) {
        if (!opt.count(need)) {
            return usage((std::string(need) + " is missing").c_str());
        }
    }
    char* end = nullptr;
    const long index = std::strtol(opt["--index"].c_str(), &end, 10);
    if (*end != '\0' || index < 0 || index > 16) {
        return usage(("bad drive index " + opt["--index"]).c_str());
    }
    unsigned long blockSize = 512;
    if (opt.count("--block-size")) {
        blockSize = std::strtoul(opt["--block-size"].c_str(), &end, 10);
        if (*end != '\0' || blockSize == 0 || blockSize % 512 != 0 || blockSize > 65536) {
            return usage(("bad block size " + opt["--block-size"]).c_str());
        }
    }

    long notReady = 0;
    if (opt.count("--not-ready")) {
        notReady = std::strtol(opt["--not-ready"].c_str(), &end, 10);
        if (*end != '\0' || notReady < 1 || notReady > 1000) {
            return usage(("bad command count " + opt["--not-ready"]).c_str());
        }
    }
    std::string notReadyAfter = opt.count("--not-ready-after") ? opt["--not-ready-after"] : "";

    auto executor = quorlink::makeSimulatorExecutor(opt["--rack"]);
    quorlink::OpenResult drive = executor->open(static_cast<int>(index));
    if (!drive.device || drive.deviceLine.find("USBSTOR") == std::string::npos) {
        std::fprintf(stderr, "ufd-stick: drive %ld of %s is not a plugged-in USB drive\n", index,
                     opt["--rack"].c_str());
        return 2;
    }
    stick::Stick stick(std::move(drive.device), static_cast<uint32_t>(blockSize));
    if (notReady > 0 && notReadyAfter.empty()) {
        stick.notReadyFor(static_cast<int>(notReady));
    }

    std::ofstream log(opt["--log"], std::ios::app);
    if (!log) {
        return usage(("cannot open the log " + opt["--log"]).c_str());
    }
    try {
        stick::FunctionFs usb(opt["--ffs"]);
        if (opt.count("--ready")) {
            std::ofstream(opt["--ready"]) << "ready\n";
        }
        std::vector<uint8_t> buffer(512);
        std::vector<uint8_t> data;
        for (;;) {
            usb.waitEnabled();
            const ssize_t n = usb.receive(buffer);
            if (n < 0) {
                // Unplugged or reset under us: wait for the next configuration.
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                continue;
            }
            const auto cbw = stick::parseCbw(std::span(buffer.data(), static_cast<size_t>(n)));
            if (!cbw) {
                log << "invalid command block wrapper of " << n << " bytes" << std::endl;
                continue;
            }
            data.assign(cbw->dataLength, 0);
            const bool out = !cbw->dataIn && cbw->dataLength > 0;
            size_t received = 0;
            while (out && received < data.size()) {
                const ssize_t got = usb.receive(std::span(data).subspan(received));
                if (got <= 0) {
                    break;
                }
                received += static_cast<size_t>(got);
            }
            if (out && received < data.size()) {
                log << "data phase cut after " << received << " bytes" << std::endl;
                continue;
            }
            std::error_code ec;
            if (!notReadyAfter.empty() && std::filesystem::exists(notReadyAfter, ec)) {
                stick.notReadyFor(static_cast<int>(notReady));
                notReadyAfter.clear();
            }
            const auto cdb = std::span(cbw->cdb).first(cbw->cdbLength);
            const std::span<uint8_t> none;
            const stick::Answer a =
                out ? stick.answer(cdb, none, data) : stick.answer(cdb, data, none);
            if (cbw->dataIn && cbw->dataLength > 0 && !usb.send(data)) {
                log << "cdb=" << hex(cdb) << " data-in cut" << std::endl;
                continue;
            }
            const auto csw = stick::buildCsw(
                cbw->tag, 0, a.ok ? stick::CswStatus::Good : stick::CswStatus::Failed);
            usb.send(csw);
            log << "cdb=" << hex(cdb) << ' '
                << (out           ? "out"
                    : cbw->dataIn ? "in"
                                  : "none")
                << ' ' << cbw->dataLength;
            if (a.ok) {
                log << " good" << std::endl;
            } else {
                char sense[16];
                std::snprintf(sense, sizeof(sense), "%X/%02X/%02X", a.sense.key, a.sense.asc,
                              a.sense.ascq);
                log << " failed " << sense << ' ' << a.reason << std::endl;
            }
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ufd-stick: %s\n", e.what());
        return 1;
    }
}
