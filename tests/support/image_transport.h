// A Transport whose one drive is a sparse image file: writes land in the
// file, so real tools can judge what the station laid down. Writes beyond
// the drive's end fail (status 0), as a drive refuses them.
#pragma once

#include "device/transport.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace ufd::test {

class ImageTransport : public Transport {
public:
    ImageTransport(std::filesystem::path image, int64_t sectors)
        : path_(std::move(image)), sectors_(sectors) {
        fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd_ < 0 || ::ftruncate(fd_, static_cast<off_t>(sectors * 512)) != 0) {
            throw std::runtime_error("cannot create image " + path_.string());
        }
    }
    ~ImageTransport() override {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    ImageTransport(const ImageTransport&) = delete;
    ImageTransport& operator=(const ImageTransport&) = delete;

    const std::filesystem::path& Image() const { return path_; }
    int64_t Sectors() const { return sectors_; }

    // The last boundary block (vendor write 0x99) received.
    std::optional<std::vector<uint8_t>> boundary;
    int writes = 0;

    int32_t GetDiskHandle(int32_t) override { return 1; }
    uint16_t CloseHandle(int32_t) override { return 1; }
    uint16_t ReadCapacity(int32_t) override { return 1; }
    uint16_t ModeSense(int32_t) override { return 1; }
    uint16_t TestUnitReady(int32_t) override { return 1; }
    uint16_t Read(int32_t, int32_t, int32_t) override { return 1; }
    uint16_t Write(int32_t, int32_t count, int32_t first, const void* data) override {
        if (count <= 0 || first < 0 || int64_t{first} + count > sectors_) {
            return 0;
        }
        const auto bytes = static_cast<size_t>(count) * 512;
        if (::pwrite(fd_, data, bytes, static_cast<off_t>(first) * 512) !=
            static_cast<ssize_t>(bytes)) {
            return 0;
        }
        ++writes;
        return 1;
    }
    uint16_t VendorR(int32_t, int32_t, int32_t, int32_t) override { return 1; }
    uint16_t VendorW(int32_t, int32_t code, int32_t length, const void* data) override {
        if (code == 0x99 && length > 0) {
            const auto* p = static_cast<const uint8_t*>(data);
            boundary.emplace(p, p + length);
        }
        return 1;
    }
    uint16_t Vendor(int32_t, int32_t, int32_t, int32_t, int32_t) override { return 1; }
    uint16_t VendorScan(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                        int32_t) override {
        return 1;
    }
    uint16_t KillEXE() override { return 1; }

private:
    std::filesystem::path path_;
    int64_t sectors_;
    int fd_ = -1;
};

} // namespace ufd::test
