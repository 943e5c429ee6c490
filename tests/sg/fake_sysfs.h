// A throw-away sysfs, /dev and mountinfo in a temp dir, and an SG_IO stand-in
// that answers from a script and remembers what it was sent.
#pragma once

#include "sg_system.h"
#include "sysfs_device.h"

#include <cstdint>
#include <deque>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace sgtest {

struct FakeDrive {
    int index = 1;
    std::string driver = "usb-storage"; // "usb-storage", "uas", or "" for a SATA disk
    std::string vendor = "Acme";
    std::string model = "Line Stick";
    std::string rev = "1.00";
    std::string serial = "0123ABCD";
    int type = 0; // block device sdb (8:16) with partition sdb1 (8:17)
};

class FakeTree {
public:
    FakeTree();
    ~FakeTree();
    FakeTree(const FakeTree&) = delete;
    FakeTree& operator=(const FakeTree&) = delete;

    void add(const FakeDrive& drive);
    void setMountInfo(const std::string& text);
    void removeMountInfo();
    quorlink::sg::Roots roots() const;
    std::filesystem::path devPath(int index) const;

private:
    std::filesystem::path root_;
    int host_ = 0;
};

struct Answer {
    int err = 0;               // errno of the ioctl itself
    std::vector<uint8_t> data; // copied into a data-in buffer
    int resid = 0;
    uint8_t status = 0;
    uint16_t hostStatus = 0;
    uint16_t driverStatus = 0;
    std::vector<uint8_t> sense;
};

struct Sent {
    std::vector<uint8_t> cdb;
    int direction = 0;
    unsigned timeout = 0;
    unsigned length = 0;
    std::vector<uint8_t> dataOut;
};

class ScriptedSg final : public quorlink::sg::SgSystem {
public:
    int sgIo(int fd, sg_io_hdr_t& hdr) override;
    int openExclusive(const std::string& path) override;
    void closeExclusive(int fd) override;

    std::deque<Answer> answers;      // empty: GOOD with no data
    std::map<std::string, int> busy; // path -> errno of the exclusive open
    std::vector<Sent> sent;
    std::map<int, std::string> held; // claims not closed yet
    int claims = 0;                  // successful exclusive opens

private:
    int nextFd_ = 100;
};

} // namespace sgtest
