/* libquorlink: pass-through transport to USB mass-storage drives.
 *
 * Every operation returns a 16-bit status, 0 = failure and anything else
 * success, except fnQuorbus_GetDiskHandle, which returns an int32 handle
 * (0 = no drive). Replies never come back through arguments: a call that
 * answers leaves its reply in one of two files in the reply directory,
 *   quorlink.txt  text, the caller uses its first line
 *   quorlink.bin  binary, the caller uses its first 512 bytes
 * Each such call first removes the stale file of its kind and writes a new
 * one only when it answers, so a missing file means exactly "no answer".
 *
 * Backend, chosen once per process: $QUORLINK_RACK names a rack file ->
 * simulated drives; otherwise real drives through SG_IO on /dev/sgN.
 */
#ifndef QUORLINK_QUORLINK_H
#define QUORLINK_QUORLINK_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define QUORLINK_API __attribute__((visibility("default")))

/* Opens drive index N (0..16); writes the device line to quorlink.txt. */
QUORLINK_API int32_t fnQuorbus_GetDiskHandle(int32_t driveIndex);
/* Releases a handle from fnQuorbus_GetDiskHandle; 0 for an unknown handle. */
QUORLINK_API uint16_t fnQuorbus_CloseHandle(int32_t handle);
/* Capacity in sectors as a decimal line in quorlink.txt. Returns 1 or 0,
 * never 1000: callers pass the status on as the reply-line selector, where
 * 1000 selects the device line. */
QUORLINK_API uint16_t fnQuorbus_ReadCapacity(int32_t handle);
/* Mode sense; quorlink.bin byte 82 = 0x80 exactly when write-protected. */
QUORLINK_API uint16_t fnQuorbus_ModeSense(int32_t handle);
QUORLINK_API uint16_t fnQuorbus_TestUnitReady(int32_t handle);
/* Declared for completeness; the station never calls it. */
QUORLINK_API uint16_t fnQuorbus_Inquiry(int32_t handle);
/* Reads count sectors from firstSector; the data is discarded (LED activity). */
QUORLINK_API uint16_t fnQuorbus_Read(int32_t handle, int32_t sectorCount, int32_t firstSector);
/* Writes sectorCount * 512 bytes from data at firstSector. */
QUORLINK_API uint16_t fnQuorbus_Write(int32_t handle, int32_t sectorCount, int32_t firstSector,
                                      const void* data);
/* Reads sectorCount sectors from firstSector into data (sectorCount * 512
 * bytes); leaves no reply file. At most quorlink_max_transfer sectors. */
QUORLINK_API uint16_t quorlink_read_data(int32_t handle, int32_t sectorCount, int32_t firstSector,
                                         void* data);
/* The most sectors one fnQuorbus_Read, fnQuorbus_Write or quorlink_read_data
 * moves on this drive (for real drives the kernel's limit for the device);
 * 0 for an unknown handle. Sends nothing to the drive. */
QUORLINK_API int32_t quorlink_max_transfer(int32_t handle);
/* Vendor read of `length` bytes (512) into quorlink.bin. */
QUORLINK_API uint16_t fnQuorbus_VendorR(int32_t handle, int32_t vendorCode, int32_t zero,
                                        int32_t length);
/* Vendor write of `length` bytes (512) from data. */
QUORLINK_API uint16_t fnQuorbus_VendorW(int32_t handle, int32_t vendorCode, int32_t length,
                                        const void* data);
/* Vendor command on one chip and unit; 512-byte reply into quorlink.bin. */
QUORLINK_API uint16_t fnQuorbus_Vendor(int32_t handle, int32_t vendorCode, int32_t chip,
                                       int32_t unit, int32_t length);
/* Vendor command with a parameter byte; reply as fnQuorbus_Vendor. */
QUORLINK_API uint16_t fnQuorbus_VendorScan(int32_t handle, int32_t vendorCode, int32_t chip,
                                           int32_t unit, int32_t parameter, int32_t reserved1,
                                           int32_t reserved2, int32_t length);
/* Resets the USB device behind the handle, for a drive that stopped
 * answering: the device is found again by its USB port path and the handle
 * goes on to name it. Returns non-zero when the reset was done and the drive
 * answers again, 0 when it could not be done or did not help (the reason in
 * the trace) or for an unknown handle. */
QUORLINK_API uint16_t fnQuorbus_ResetDevice(int32_t handle);
/* Kept for the station's discovery, which calls it before every probe:
 * answers 1 and changes nothing, since every open already finds the drives
 * as they are now (sysfs for real drives, the rack's state for simulated
 * ones). */
QUORLINK_API uint16_t fnQuorbus2K_KillEXE(void);

/* The calling thread's two reply file paths. The station's readers use this
 * so that they and the library never disagree. Every process, and every
 * thread in it, has files of its own: <base>/<pid>-<n>/quorlink.txt and .bin,
 * base $QUORLINK_REPLY_DIR, else $XDG_RUNTIME_DIR/quorlink, else
 * /tmp/quorlink-<uid>. Directories are made 0700 on demand and refused when
 * another user owns them, other users may write them, or they are symbolic
 * links; then every call that answers fails (status 0) with the refusal,
 * naming the directory, in the trace and once on stderr.
 * Returns 1 and fills both buffers (NUL-terminated), 0 if a buffer is too
 * small or the directory was refused. */
QUORLINK_API uint16_t quorlink_reply_paths(char* textPath, size_t textSize, char* binaryPath,
                                           size_t binarySize);

/* Who the drive behind an open handle is, for the records of a run: its
 * drive index, its serial (the USB serial number for real drives, the rack's
 * "serial" for simulated ones) and its USB port path ("1-2.3"; empty when
 * unknown). Sends nothing to the drive and leaves no reply file. Returns 1
 * and fills the buffers (NUL-terminated, cut to fit), 0 for an unknown
 * handle or a null argument. */
QUORLINK_API uint16_t quorlink_drive_identity(int32_t handle, int32_t* driveIndex, char* serial,
                                              size_t serialSize, char* portPath, size_t portSize);

/* The hub whose bandwidth the drive behind an open handle shares: the rack's
 * "hub" for a simulated drive, the root hub of its USB port ("usb1") for a
 * real one; empty when unknown. Sends nothing to the drive. Returns 1 and
 * fills the buffer (NUL-terminated, cut to fit), 0 for an unknown handle or
 * a null or empty buffer. */
QUORLINK_API uint16_t quorlink_drive_hub(int32_t handle, char* hub, size_t size);

/* The sense data the drive gave when the last command on this handle failed:
 * sense[0] the sense key, sense[1] the ASC, sense[2] the ASCQ (7/27/00: the
 * medium is write-protected). Sends nothing to the drive. Returns 1 and fills
 * the three bytes; 0 when that command succeeded or failed without sense
 * data, for an unknown handle or a null argument. */
QUORLINK_API uint16_t quorlink_last_sense(int32_t handle, uint8_t* sense);

/* What a program should tell its operator once at start-up about
 * quorlink.conf ($QUORLINK_CONF, else /etc/quorlink/quorlink.conf): with real
 * drives, a file that is missing, unusable (the message names file, key and
 * value) or whose [Drives] Allow= lists no VID:PID means no drive will be
 * touched at all. Returns 1 and fills text (NUL-terminated, cut to fit) with
 * a plain sentence; 0 when there is nothing to say, with simulated drives,
 * or for a null or empty buffer. Chooses the backend if no call has yet. */
QUORLINK_API uint16_t quorlink_config_notice(char* text, size_t size);

#ifdef __cplusplus
}
#endif

#endif
