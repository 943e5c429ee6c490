// A throw-away sysfs, /dev and mountinfo in a temp dir, and an SG_IO stand-in
// that answers from a script and remembers what it was sent.
#pragma once

#include "support/temp_dir.h"
#include "support/test_common.h"

#include "sg_system.h"
#include "sysfs_device.h"

#include <deque>
#include <functional>
#include <stdexcept>

namespace sgtest {

struct FakeDrive {
    int sg = 1;
    std::string driver = "usb-storage"; // "usb-storage", "uas", or "" for a SATA disk
    std::string vendor = "Acme", model = "Line Stick", rev = "1.00", serial = "0123ABCD";
    int type = 0;
    std::string port = "";    // USB port path; empty: "1-<n>" for the n-th drive added
    std::string vid = "1234"; // USB 1234:5678, the allowed drive, unless set
    // Whole disk (sdb: 8:16, with partition sdb1: 8:17); empty: no block device yet.
    std::string block = "sdb";
    uint32_t blockSize = 512;
    std::string holder = ""; // a device stacked on the disk ("dm-0")
};

using ufd::test::readFile;
using ufd::test::TempDir;
using ufd::test::writeFile;

// A sysfs, /dev and mount table of the test's own.
struct FakeTree : TempDir {
    FakeTree() {
        writeFile(path / "mountinfo", "22 1 259:2 / / rw shared:1 - ext4 /dev/nvme0n1p2 rw\n");
    }
    // Returns the USB device's sysfs directory (empty for a SATA disk).
    fs::path add(const FakeDrive& d) {
        const std::string host = std::to_string(hosts++);
        fs::path parent = path / "sys/devices/pci0000:00/0000:00:17.0" / ("ata" + host), usb;
        if (!d.driver.empty()) {
            const std::string port = d.port.empty() ? "1-" + std::to_string(hosts) : d.port;
            usb = path / "sys/devices/pci0000:00/0000:00:14.0/usb1" / port;
            parent = usb / (port + ":1.0");
            if (!d.serial.empty()) {
                writeFile(usb / "serial", d.serial + "\n");
            }
            writeFile(usb / "idVendor", d.vid + "\n");
            writeFile(usb / "idProduct", "5678\n");
            // Bus 1, device numbers as the kernel hands them out: never the same twice.
            writeFile(usb / "busnum", "1\n");
            writeFile(usb / "devnum", std::to_string(++devnums) + "\n");
            const fs::path byPort = path / "sys/bus/usb/devices" / port;
            fs::create_directories(byPort.parent_path());
            if (!fs::is_symlink(byPort)) {
                fs::create_symlink(usb, byPort);
            }
            fs::create_directories(path / "sys/bus/usb/drivers" / d.driver);
            fs::create_directories(parent);
            if (!fs::is_symlink(parent / "driver")) {
                fs::create_symlink(path / "sys/bus/usb/drivers" / d.driver, parent / "driver");
            }
        }
        const fs::path scsi =
            parent / ("host" + host) / ("target" + host + ":0:0") / (host + ":0:0:0");
        // sysfs pads the SCSI strings with blanks
        writeFile(scsi / "vendor", d.vendor + "    \n");
        writeFile(scsi / "model", d.model + "  \n");
        writeFile(scsi / "rev", d.rev + "\n");
        writeFile(scsi / "type", std::to_string(d.type) + "\n");
        if (!d.block.empty()) {
            const fs::path disk = scsi / "block" / d.block;
            const int minor = 16 * (d.block.back() - 'a');
            writeFile(disk / "dev", "8:" + std::to_string(minor) + "\n");
            writeFile(disk / (d.block + "1") / "dev", "8:" + std::to_string(minor + 1) + "\n");
            writeFile(disk / (d.block + "1") / "partition", "1\n");
            writeFile(disk / "queue/logical_block_size", std::to_string(d.blockSize) + "\n");
            writeFile(disk / "queue/max_sectors_kb", "1280\n");
            fs::create_directories(disk / "holders" / d.holder);
        }
        fs::create_directories(sgEntry(d.sg));
        fs::create_symlink(scsi, sgEntry(d.sg) / "device");
        writeFile(path / "dev" / ("sg" + std::to_string(d.sg)), "");
        return usb;
    }
    void setMountInfo(const std::string& text) {
        std::ofstream(path / "mountinfo", std::ios::app) << text;
    }
    quorlink::sg::Roots roots() const { return {path / "sys", path / "dev", path / "mountinfo"}; }
    fs::path sgEntry(int sg) const {
        return path / "sys/class/scsi_generic" / ("sg" + std::to_string(sg));
    }
    int hosts = 0, devnums = 4;
};

struct Answer {
    int err = 0, resid = 0;      // errno of the ioctl itself; bytes not transferred
    std::vector<uint8_t> data{}; // copied into a data-in buffer
    uint8_t status = 0;
    uint16_t hostStatus = 0, driverStatus = 0;
    std::vector<uint8_t> sense{};
};

struct Sent {
    std::vector<uint8_t> cdb, dataOut;
    int direction = 0;
    unsigned timeout = 0, length = 0;
    friend auto operator<=>(const Sent&, const Sent&) = default;
};

struct ScriptedSg final : quorlink::sg::SgSystem {
    int sgIo(int, sg_io_hdr_t& hdr) override {
        auto* data = static_cast<uint8_t*>(hdr.dxferp);
        const size_t out = hdr.dxfer_direction == SG_DXFER_TO_DEV ? hdr.dxfer_len : 0;
        const std::vector<uint8_t> cdb(hdr.cmdp, hdr.cmdp + hdr.cmd_len), dataOut(data, data + out);
        sent.push_back({cdb, dataOut, hdr.dxfer_direction, hdr.timeout, hdr.dxfer_len});
        answers.emplace_back(); // GOOD once the script has run out
        const Answer a = answers.front();
        answers.pop_front();
        if (a.err != 0) {
            return a.err;
        }
        if (hdr.dxfer_direction == SG_DXFER_FROM_DEV) {
            std::copy_n(a.data.begin(), std::min<size_t>(a.data.size(), hdr.dxfer_len), data);
        }
        std::tie(hdr.resid, hdr.status, hdr.host_status, hdr.driver_status) =
            std::tuple(a.resid, a.status, a.hostStatus, a.driverStatus);
        hdr.sb_len_wr = static_cast<unsigned char>(std::min<size_t>(a.sense.size(), hdr.mx_sb_len));
        std::copy_n(a.sense.begin(), hdr.sb_len_wr, hdr.sbp);
        return 0;
    }
    int openExclusive(const std::string& path) override {
        if (const auto it = busy.find(path); it != busy.end() && it->second != 0) {
            return -it->second;
        }
        ++claims;
        held[nextFd] = path;
        return nextFd++;
    }
    void closeExclusive(int fd) override { held.erase(fd); }
    int rereadPartitions(int fd) override {
        rereads.push_back({held.contains(fd) ? held[fd] : "not held", sent.size()});
        return rereadErrno;
    }
    int announceChange(const std::string& path) override {
        announced.push_back({path, held.size()});
        return 0;
    }
    int resetUsb(const std::string& node) override {
        usbResets.push_back(node);
        if (resetErrno == 0 || resetErrno == ENODEV) {
            afterReset();
        }
        return resetErrno;
    }
    // A clock that moves only when the executor pauses: no test sleeps.
    std::chrono::steady_clock::time_point now() override {
        return std::chrono::steady_clock::time_point(paused);
    }
    void pause(std::chrono::milliseconds duration) override { paused += duration; }

    std::deque<Answer> answers;      // empty: GOOD with no data
    std::map<std::string, int> busy; // path -> errno of the exclusive open (0: none)
    std::vector<Sent> sent;
    std::map<int, std::string> held; // claims not closed yet
    // Successful exclusive opens; the errno of each re-read; the next descriptor.
    int claims = 0, rereadErrno = 0, nextFd = 100;
    // Each partition table re-read, and each disk udev was asked to re-read:
    // the disk, and how many commands preceded it / claims were still held.
    std::vector<std::pair<std::string, size_t>> rereads, announced;
    std::chrono::milliseconds paused{0};
    // Each usbfs node reset, the errno of each reset, and what sysfs shows after it.
    std::vector<std::string> usbResets;
    int resetErrno = 0;
    std::function<void()> afterReset = [] {};
};

} // namespace sgtest
