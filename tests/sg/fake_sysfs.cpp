#include "fake_sysfs.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace sgtest {
namespace fs = std::filesystem;
namespace {

void writeFile(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) {
        throw std::runtime_error("cannot write " + file.string());
    }
}

} // namespace

FakeTree::FakeTree() {
    std::string tmpl = (fs::temp_directory_path() / "sgtree-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    root_ = tmpl;
    fs::create_directories(root_ / "sys/class/scsi_generic");
    fs::create_directories(root_ / "sys/bus/usb/drivers/usb-storage");
    fs::create_directories(root_ / "sys/bus/usb/drivers/uas");
    fs::create_directories(root_ / "sys/bus/scsi/drivers/sd");
    fs::create_directories(root_ / "dev");
    writeFile(root_ / "mountinfo", "22 1 259:2 / / rw,relatime shared:1 - ext4 /dev/nvme0n1p2 rw\n"
                                   "23 22 0:21 / /proc rw,nosuid shared:12 - proc proc rw\n");
}

FakeTree::~FakeTree() {
    std::error_code ec;
    fs::remove_all(root_, ec);
}

void FakeTree::add(const FakeDrive& d) {
    const int host = host_++;
    const std::string hctl = std::to_string(host) + ":0:0:0";
    fs::path parent;
    if (d.driver.empty()) {
        parent = root_ / "sys/devices/pci0000:00/0000:00:17.0" / ("ata" + std::to_string(host));
    } else {
        const std::string port = "1-" + std::to_string(host + 1);
        const fs::path usbDevice = root_ / "sys/devices/pci0000:00/0000:00:14.0/usb1" / port;
        const fs::path iface = usbDevice / (port + ":1.0");
        fs::create_directories(iface);
        if (!d.serial.empty()) {
            writeFile(usbDevice / "serial", d.serial + "\n");
        }
        fs::create_symlink(root_ / "sys/bus/usb/drivers" / d.driver, iface / "driver");
        parent = iface;
    }
    const fs::path scsi = parent / ("host" + std::to_string(host)) /
                          ("target" + std::to_string(host) + ":0:0") / hctl;
    // sysfs pads the SCSI strings with blanks
    writeFile(scsi / "vendor", d.vendor + "    \n");
    writeFile(scsi / "model", d.model + "  \n");
    writeFile(scsi / "rev", d.rev + "\n");
    writeFile(scsi / "type", std::to_string(d.type) + "\n");
    fs::create_symlink(root_ / "sys/bus/scsi/drivers/sd", scsi / "driver");
    writeFile(scsi / "block/sdb/dev", "8:16\n");
    writeFile(scsi / "block/sdb/sdb1/dev", "8:17\n");
    writeFile(scsi / "block/sdb/sdb1/partition", "1\n");
    const fs::path sgEntry = root_ / "sys/class/scsi_generic" / ("sg" + std::to_string(d.index));
    fs::create_directories(sgEntry);
    fs::create_symlink(fs::relative(scsi, sgEntry), sgEntry / "device");
    writeFile(devPath(d.index), "");
}

void FakeTree::setMountInfo(const std::string& text) {
    std::ofstream out(root_ / "mountinfo", std::ios::app);
    out << text;
}

void FakeTree::removeMountInfo() {
    fs::remove(root_ / "mountinfo");
}

quorlink::sg::Roots FakeTree::roots() const {
    quorlink::sg::Roots r;
    r.sys = root_ / "sys";
    r.dev = root_ / "dev";
    r.mountInfo = root_ / "mountinfo";
    return r;
}

fs::path FakeTree::devPath(int index) const {
    return root_ / "dev" / ("sg" + std::to_string(index));
}

int ScriptedSg::sgIo(int, sg_io_hdr_t& hdr) {
    Sent s;
    s.cdb.assign(hdr.cmdp, hdr.cmdp + hdr.cmd_len);
    s.direction = hdr.dxfer_direction;
    s.timeout = hdr.timeout;
    s.length = hdr.dxfer_len;
    if (hdr.dxfer_direction == SG_DXFER_TO_DEV) {
        const auto* p = static_cast<const uint8_t*>(hdr.dxferp);
        s.dataOut.assign(p, p + hdr.dxfer_len);
    }
    sent.push_back(std::move(s));
    if (answers.empty()) {
        return 0;
    }
    const Answer a = answers.front();
    answers.pop_front();
    if (a.err != 0) {
        return a.err;
    }
    if (hdr.dxfer_direction == SG_DXFER_FROM_DEV && !a.data.empty()) {
        std::memcpy(hdr.dxferp, a.data.data(), std::min<size_t>(a.data.size(), hdr.dxfer_len));
    }
    hdr.resid = a.resid;
    hdr.status = a.status;
    hdr.masked_status = a.status >> 1;
    hdr.host_status = a.hostStatus;
    hdr.driver_status = a.driverStatus;
    const size_t senseLength = std::min<size_t>(a.sense.size(), hdr.mx_sb_len);
    if (senseLength > 0) {
        std::memcpy(hdr.sbp, a.sense.data(), senseLength);
    }
    hdr.sb_len_wr = static_cast<unsigned char>(senseLength);
    const bool bad = a.status != 0 || a.hostStatus != 0 || a.driverStatus != 0;
    hdr.info = bad ? SG_INFO_CHECK : SG_INFO_OK;
    return 0;
}

int ScriptedSg::openExclusive(const std::string& path) {
    if (const auto it = busy.find(path); it != busy.end()) {
        return -it->second;
    }
    ++claims;
    held[nextFd_] = path;
    return nextFd_++;
}

void ScriptedSg::closeExclusive(int fd) {
    held.erase(fd);
}

} // namespace sgtest
