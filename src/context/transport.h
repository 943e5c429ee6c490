// The station's view of the pass-through library: one virtual per exported
// operation, in the library's argument order, so tests can stand in for it.
#pragma once

#include <QString>

#include <cstdint>

namespace ufd {

// Who the drive behind a handle is, for the run's records; nothing is sent
// to the drive to learn it.
struct DriveIdentity {
    int32_t DriveIndex = -1; // -1: unknown
    QString Serial;
    QString PortPath; // USB port path, empty when unknown
    QString Hub;      // the hub whose bandwidth it shares, empty when unknown
};

class Transport {
public:
    virtual ~Transport() = default;
    virtual int32_t GetDiskHandle(int32_t driveIndex) = 0;
    virtual uint16_t CloseHandle(int32_t handle) = 0;
    virtual uint16_t ReadCapacity(int32_t handle) = 0;
    virtual uint16_t ModeSense(int32_t handle) = 0;
    virtual uint16_t TestUnitReady(int32_t handle) = 0;
    virtual uint16_t Read(int32_t handle, int32_t sectorCount, int32_t firstSector) = 0;
    virtual uint16_t Write(int32_t handle, int32_t sectorCount, int32_t firstSector,
                           const void* data) = 0;
    virtual uint16_t VendorR(int32_t handle, int32_t code, int32_t zero, int32_t length) = 0;
    virtual uint16_t VendorW(int32_t handle, int32_t code, int32_t length, const void* data) = 0;
    virtual uint16_t Vendor(int32_t handle, int32_t code, int32_t chip, int32_t unit,
                            int32_t length) = 0;
    virtual uint16_t VendorScan(int32_t handle, int32_t code, int32_t chip, int32_t unit,
                                int32_t parameter, int32_t reserved1, int32_t reserved2,
                                int32_t length) = 0;
    virtual uint16_t KillEXE() = 0;
    // Not an operation of the interface, so stand-ins need not answer it.
    virtual DriveIdentity Identity(int32_t /*handle*/) { return {}; }
    // The media test's reads, whose data comes back (fnQuorbus_Read drops
    // it), and the most sectors one transfer may move (0: unknown handle).
    virtual uint16_t ReadData(int32_t /*handle*/, int32_t /*sectorCount*/, int32_t /*firstSector*/,
                              void* /*data*/) {
        return 0;
    }
    virtual int32_t MaxTransfer(int32_t /*handle*/) { return 0; }
    // The sense of the handle's last failed command as key << 16 | ASC << 8 |
    // ASCQ; 0: none.
    virtual uint32_t LastSense(int32_t /*handle*/) { return 0; }
    // One USB reset of a drive that stopped answering; non-zero: it answers again.
    virtual uint16_t ResetDevice(int32_t /*handle*/) { return 0; }
    // What the operator must hear once at start-up about the library's own
    // settings (real drives with none allowed); empty: nothing.
    virtual QString ConfigNotice() { return {}; }
};

// The real thing: forwards to libquorlink's C functions.
class QuorlinkTransport : public Transport {
public:
    int32_t GetDiskHandle(int32_t driveIndex) override;
    uint16_t CloseHandle(int32_t handle) override;
    uint16_t ReadCapacity(int32_t handle) override;
    uint16_t ModeSense(int32_t handle) override;
    uint16_t TestUnitReady(int32_t handle) override;
    uint16_t Read(int32_t handle, int32_t sectorCount, int32_t firstSector) override;
    uint16_t Write(int32_t handle, int32_t sectorCount, int32_t firstSector,
                   const void* data) override;
    uint16_t VendorR(int32_t handle, int32_t code, int32_t zero, int32_t length) override;
    uint16_t VendorW(int32_t handle, int32_t code, int32_t length, const void* data) override;
    uint16_t Vendor(int32_t handle, int32_t code, int32_t chip, int32_t unit,
                    int32_t length) override;
    uint16_t VendorScan(int32_t handle, int32_t code, int32_t chip, int32_t unit, int32_t parameter,
                        int32_t reserved1, int32_t reserved2, int32_t length) override;
    uint16_t KillEXE() override;
    DriveIdentity Identity(int32_t handle) override;
    uint16_t ReadData(int32_t handle, int32_t sectorCount, int32_t firstSector,
                      void* data) override;
    int32_t MaxTransfer(int32_t handle) override;
    uint16_t ResetDevice(int32_t handle) override;
    uint32_t LastSense(int32_t handle) override;
    QString ConfigNotice() override;
};

} // namespace ufd
