// What the volume writers sent, so that Verify can read the very sectors
// back: a transport that passes every call through and keeps, for each
// accepted write, its first sector and a hash of each sector.
#pragma once

#include "context/transport.h"

#include <cstdint>
#include <vector>

namespace ufd {

struct LoggedWrite {
    uint64_t first = 0;
    std::vector<uint64_t> sectorHashes;
};

uint64_t SectorHash(const uint8_t* sector);

class VolumeWriteLog final : public Transport {
public:
    explicit VolumeWriteLog(Transport& inner) : inner_(inner) {}

    // The writes in order, each sector only in the last write that covered it.
    std::vector<LoggedWrite> LastWrites() const;

    uint16_t Write(int32_t handle, int32_t sectorCount, int32_t firstSector,
                   const void* data) override;

    int32_t GetDiskHandle(int32_t i) override { return inner_.GetDiskHandle(i); }
    uint16_t CloseHandle(int32_t h) override { return inner_.CloseHandle(h); }
    uint16_t ReadCapacity(int32_t h) override { return inner_.ReadCapacity(h); }
    uint16_t ModeSense(int32_t h) override { return inner_.ModeSense(h); }
    uint16_t TestUnitReady(int32_t h) override { return inner_.TestUnitReady(h); }
    uint16_t Read(int32_t h, int32_t n, int32_t first) override { return inner_.Read(h, n, first); }
    uint16_t VendorR(int32_t h, int32_t code, int32_t zero, int32_t length) override {
        return inner_.VendorR(h, code, zero, length);
    }
    uint16_t VendorW(int32_t h, int32_t code, int32_t length, const void* data) override {
        return inner_.VendorW(h, code, length, data);
    }
    uint16_t Vendor(int32_t h, int32_t code, int32_t chip, int32_t unit, int32_t length) override {
        return inner_.Vendor(h, code, chip, unit, length);
    }
    uint16_t VendorScan(int32_t h, int32_t code, int32_t chip, int32_t unit, int32_t parameter,
                        int32_t r1, int32_t r2, int32_t length) override {
        return inner_.VendorScan(h, code, chip, unit, parameter, r1, r2, length);
    }
    uint16_t KillEXE() override { return inner_.KillEXE(); }
    DriveIdentity Identity(int32_t h) override { return inner_.Identity(h); }
    uint16_t ReadData(int32_t h, int32_t n, int32_t first, void* data) override {
        return inner_.ReadData(h, n, first, data);
    }
    int32_t MaxTransfer(int32_t h) override { return inner_.MaxTransfer(h); }
    uint32_t LastSense(int32_t h) override { return inner_.LastSense(h); }
    uint16_t ResetDevice(int32_t h) override { return inner_.ResetDevice(h); }
    QString ConfigNotice() override { return inner_.ConfigNotice(); }

private:
    Transport& inner_;
    std::vector<LoggedWrite> writes_;
};

} // namespace ufd
