#include "ffs.h"

#include <linux/usb/ch9.h>
#include <linux/usb/functionfs.h>

#include <cerrno>
#include <cstring>
#include <endian.h>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

namespace stick {
namespace {

constexpr uint8_t kGetMaxLun = 0xFE;
constexpr uint8_t kBulkOnlyReset = 0xFF;

struct [[gnu::packed]] Interface {
    usb_interface_descriptor intf;
    usb_endpoint_descriptor_no_audio in;
    usb_endpoint_descriptor_no_audio out;
};

struct [[gnu::packed]] Descriptors {
    usb_functionfs_descs_head_v2 header;
    __le32 fsCount;
    __le32 hsCount;
    Interface fs;
    Interface hs;
};

constexpr char kInterfaceName[] = "Bulk-Only stick";

struct [[gnu::packed]] Strings {
    usb_functionfs_strings_head header;
    __le16 language;
    char name[sizeof(kInterfaceName)];
};

Interface bulkOnly(uint16_t maxPacket) {
    Interface d{};
    d.intf.bLength = sizeof(d.intf);
    d.intf.bDescriptorType = USB_DT_INTERFACE;
    d.intf.bNumEndpoints = 2;
    d.intf.bInterfaceClass = USB_CLASS_MASS_STORAGE;
    d.intf.bInterfaceSubClass = 0x06; // SCSI transparent command set
    d.intf.bInterfaceProtocol = 0x50; // Bulk-Only Transport
    d.intf.iInterface = 1;
    d.in.bLength = sizeof(d.in);
    d.in.bDescriptorType = USB_DT_ENDPOINT;
    d.in.bEndpointAddress = 1 | USB_DIR_IN;
    d.in.bmAttributes = USB_ENDPOINT_XFER_BULK;
    d.in.wMaxPacketSize = htole16(maxPacket);
    d.out = d.in;
    d.out.bEndpointAddress = 2 | USB_DIR_OUT;
    return d;
}

void writeAll(int fd, const void* data, size_t size, const char* what) {
    if (::write(fd, data, size) != static_cast<ssize_t>(size)) {
        throw std::runtime_error(std::string("cannot write the ") + what +
                                 " to ep0: " + std::strerror(errno));
    }
}

int openOrThrow(const std::filesystem::path& file, int flags) {
    const int fd = ::open(file.c_str(), flags | O_CLOEXEC);
    if (fd < 0) {
        throw std::runtime_error("cannot open " + file.string() + ": " + std::strerror(errno));
    }
    return fd;
}

} // namespace

FunctionFs::FunctionFs(const std::filesystem::path& dir) {
    ep0_ = openOrThrow(dir / "ep0", O_RDWR);
    Descriptors d{};
    d.header.magic = htole32(FUNCTIONFS_DESCRIPTORS_MAGIC_V2);
    d.header.length = htole32(sizeof(d));
    d.header.flags = htole32(FUNCTIONFS_HAS_FS_DESC | FUNCTIONFS_HAS_HS_DESC);
    d.fsCount = htole32(3);
    d.hsCount = htole32(3);
    d.fs = bulkOnly(64);
    d.hs = bulkOnly(512);
    writeAll(ep0_, &d, sizeof(d), "descriptors");
    Strings s{};
    s.header.magic = htole32(FUNCTIONFS_STRINGS_MAGIC);
    s.header.length = htole32(sizeof(s));
    s.header.str_count = htole32(1);
    s.header.lang_count = htole32(1);
    s.language = htole16(0x0409);
    std::memcpy(s.name, kInterfaceName, sizeof(kInterfaceName));
    writeAll(ep0_, &s, sizeof(s), "strings");
    in_ = openOrThrow(dir / "ep1", O_RDWR);
    out_ = openOrThrow(dir / "ep2", O_RDWR);
    ep0Thread_ = std::thread([this] { serveEp0(); });
}

FunctionFs::~FunctionFs() {
    // ep0's reader cannot be woken portably; the process is ending anyway.
    ep0Thread_.detach();
    ::close(in_);
    ::close(out_);
}

void FunctionFs::waitEnabled() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return enabled_; });
}

ssize_t FunctionFs::receive(std::span<uint8_t> buffer) {
    const ssize_t n = ::read(out_, buffer.data(), buffer.size());
    return n < 0 ? -1 : n;
}

bool FunctionFs::send(std::span<const uint8_t> data) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(in_, data.data() + done, data.size() - done);
        if (n <= 0) {
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

void FunctionFs::serveEp0() {
    usb_functionfs_event events[4];
    for (;;) {
        const ssize_t n = ::read(ep0_, events, sizeof(events));
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            return;
        }
        for (size_t i = 0; i < static_cast<size_t>(n) / sizeof(events[0]); ++i) {
            const auto& e = events[i];
            switch (e.type) {
            case FUNCTIONFS_ENABLE:
            case FUNCTIONFS_DISABLE:
            case FUNCTIONFS_UNBIND: {
                std::lock_guard lock(mutex_);
                enabled_ = e.type == FUNCTIONFS_ENABLE;
                changed_.notify_all();
                break;
            }
            case FUNCTIONFS_SETUP: {
                const bool in = (e.u.setup.bRequestType & USB_DIR_IN) != 0;
                uint8_t none = 0;
                if (e.u.setup.bRequest == kGetMaxLun && in) {
                    const uint8_t maxLun = 0; // one logical unit
                    (void)!::write(ep0_, &maxLun, 1);
                } else if (e.u.setup.bRequest == kBulkOnlyReset && !in) {
                    (void)!::read(ep0_, &none, 0); // acknowledge
                } else if (in) {
                    (void)!::read(ep0_, &none, 0); // stall
                } else {
                    (void)!::write(ep0_, &none, 0); // stall
                }
                break;
            }
            default:
                break;
            }
        }
    }
}

} // namespace stick
