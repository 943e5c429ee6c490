#include "transport.h"

#include <quorlink/quorlink.h>

namespace ufd {

int32_t QuorlinkTransport::GetDiskHandle(int32_t driveIndex) {
    return fnQuorbus_GetDiskHandle(driveIndex);
}
uint16_t QuorlinkTransport::CloseHandle(int32_t handle) {
    return fnQuorbus_CloseHandle(handle);
}
uint16_t QuorlinkTransport::ReadCapacity(int32_t handle) {
    return fnQuorbus_ReadCapacity(handle);
}
uint16_t QuorlinkTransport::ModeSense(int32_t handle) {
    return fnQuorbus_ModeSense(handle);
}
uint16_t QuorlinkTransport::TestUnitReady(int32_t handle) {
    return fnQuorbus_TestUnitReady(handle);
}
uint16_t QuorlinkTransport::Read(int32_t handle, int32_t sectorCount, int32_t firstSector) {
    return fnQuorbus_Read(handle, sectorCount, firstSector);
}
uint16_t QuorlinkTransport::Write(int32_t handle, int32_t sectorCount, int32_t firstSector,
                                  const void* data) {
    return fnQuorbus_Write(handle, sectorCount, firstSector, data);
}
uint16_t QuorlinkTransport::VendorR(int32_t handle, int32_t code, int32_t zero, int32_t length) {
    return fnQuorbus_VendorR(handle, code, zero, length);
}
uint16_t QuorlinkTransport::VendorW(int32_t handle, int32_t code, int32_t length,
                                    const void* data) {
    return fnQuorbus_VendorW(handle, code, length, data);
}
uint16_t QuorlinkTransport::Vendor(int32_t handle, int32_t code, int32_t chip, int32_t unit,
                                   int32_t length) {
    return fnQuorbus_Vendor(handle, code, chip, unit, length);
}
uint16_t QuorlinkTransport::VendorScan(int32_t handle, int32_t code, int32_t chip, int32_t unit,
                                       int32_t parameter, int32_t reserved1, int32_t reserved2,
                                       int32_t length) {
    return fnQuorbus_VendorScan(handle, code, chip, unit, parameter, reserved1, reserved2, length);
}
uint16_t QuorlinkTransport::KillEXE() {
    return fnQuorbus2K_KillEXE();
}

DriveIdentity QuorlinkTransport::Identity(int32_t handle) {
    // A USB serial is at most 126 characters; port paths are far shorter.
    char serial[256] = {};
    char port[128] = {};
    int32_t index = -1;
    DriveIdentity id;
    if (quorlink_drive_identity(handle, &index, serial, sizeof serial, port, sizeof port) != 0) {
        id.DriveIndex = index;
        id.Serial = QString::fromUtf8(serial);
        id.PortPath = QString::fromUtf8(port);
        char hub[128] = {};
        if (quorlink_drive_hub(handle, hub, sizeof hub) != 0) {
            id.Hub = QString::fromUtf8(hub);
        }
    }
    return id;
}

uint16_t QuorlinkTransport::ReadData(int32_t handle, int32_t sectorCount, int32_t firstSector,
                                     void* data) {
    return quorlink_read_data(handle, sectorCount, firstSector, data);
}

int32_t QuorlinkTransport::MaxTransfer(int32_t handle) {
    return quorlink_max_transfer(handle);
}

uint16_t QuorlinkTransport::ResetDevice(int32_t handle) {
    return fnQuorbus_ResetDevice(handle);
}

uint32_t QuorlinkTransport::LastSense(int32_t handle) {
    uint8_t sense[3] = {};
    if (quorlink_last_sense(handle, sense) == 0) {
        return 0;
    }
    return uint32_t{sense[0]} << 16 | uint32_t{sense[1]} << 8 | sense[2];
}

QString QuorlinkTransport::ConfigNotice() {
    char text[1024] = "";
    return quorlink_config_notice(text, sizeof text) != 0 ? QString::fromUtf8(text) : QString();
}

} // namespace ufd
