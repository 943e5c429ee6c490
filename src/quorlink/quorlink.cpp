// The C API layer: handles, statuses and reply files over one executor.
#include "api_internal.h"
#include "encoder.h"
#include "executor.h"
#include "reply_writer.h"
#include "trace.h"

#include <quorlink/quorlink.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace quorlink {
namespace {

constexpr int kLastDriveIndex = 16;
constexpr uint16_t kOk = 1;
constexpr uint16_t kFail = 0;
constexpr size_t kBinaryReplySize = 512;
constexpr size_t kModeSenseWpOffset = 82;
// A read's data is taken from the drive and dropped (the call has no
// buffer): a buffer above this is refused rather than allocated, whatever
// the encoder's transfer limits allow.
constexpr uint64_t kMaxReadBytes = uint64_t{32} << 20;

struct OpenDrive {
    int driveIndex = -1;
    // Shared with the calls running on it, so a close from another thread
    // never pulls the device from under a command.
    std::shared_ptr<Device> device;
    std::string serial;
    std::string portPath;
    std::string hub;
    // The sense of the handle's last command (key 0: none, or it succeeded).
    std::array<uint8_t, 3> lastSense{};
};

// What a backend that could not be made answers: no drive anywhere.
class NoDrives final : public Executor {
public:
    OpenResult open(int) override { return {}; }
};

// The mutex guards the backend choice, the handle table and the trace; a
// command itself runs outside it, so calls on different drives from
// different threads run at the same time (each backend guards its drives).
struct Library {
    std::mutex mutex;
    std::unique_ptr<Executor> executor;
    std::unique_ptr<TraceWriter> trace;
    bool chosen = false;
    std::map<int32_t, OpenDrive> handles;
    int32_t nextHandle = 1;

    Executor& backend() {
        if (!chosen) {
            chosen = true;
            const char* rack = std::getenv("QUORLINK_RACK");
            try {
                executor = rack != nullptr && *rack != '\0' ? makeSimulatorExecutor(rack)
                                                            : makeSgExecutor();
            } catch (const std::exception& e) {
                std::fprintf(stderr, "quorlink: no drives: %s\n", e.what());
                executor = std::make_unique<NoDrives>();
            }
            try {
                openTrace();
            } catch (const std::exception&) {
                trace.reset(); // the calls' answers never depend on their trace
            }
        }
        return *executor;
    }

    // $QUORLINK_TRACE takes every call of either backend; else the backend
    // says (the rack's "trace", or the real drives' failures). Real drives'
    // traces rotate as quorlink.conf says, so a line PC's disk never fills;
    // the simulator's are kept whole.
    void openTrace() {
        trace.reset();
        const ConfLoad* load = executor ? executor->confLoad() : nullptr;
        const auto limits = load != nullptr ? std::optional(load->conf.trace) : std::nullopt;
        if (const char* file = std::getenv("QUORLINK_TRACE"); file != nullptr && *file != '\0') {
            trace = std::make_unique<TraceWriter>(file, false, limits);
        } else if (auto target = executor ? executor->defaultTrace() : std::nullopt) {
            trace = std::make_unique<TraceWriter>(target->file.empty() ? defaultTraceFile()
                                                                       : target->file,
                                                  target->failuresOnly, limits);
        }
    }

    // Handles count up and skip 0 and any still open, so a released handle
    // is not handed out again soon.
    int32_t newHandle() {
        for (;;) {
            const int32_t h = nextHandle;
            nextHandle = nextHandle == INT32_MAX ? 1 : nextHandle + 1;
            if (h != 0 && !handles.contains(h)) {
                return h;
            }
        }
    }
};

Library& library() {
    static Library lib;
    return lib;
}

Executor& chosenBackend() {
    std::lock_guard lock(library().mutex);
    return library().backend();
}

// One API call: finds the handle's drive, and records the call in the
// executor's trace when it ends.
class Call {
public:
    Call(const char* function, std::vector<std::pair<std::string, int64_t>> arguments)
        : exec_(chosenBackend()) {
        record_.function = function;
        record_.arguments = std::move(arguments);
    }
    ~Call() {
        std::lock_guard lock(library().mutex);
        try {
            if (library().trace) {
                library().trace->write(record_);
            }
        } catch (...) {
            // A trace that cannot be written never changes what was answered.
        }
    }
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

    Device* drive(int32_t handle) {
        std::lock_guard lock(library().mutex);
        auto& handles = library().handles;
        auto it = handles.find(handle);
        if (handle == 0 || it == handles.end()) {
            record_.reason = "unknown handle";
            return nullptr;
        }
        record_.driveIndex = it->second.driveIndex;
        device_ = it->second.device;
        handle_ = handle;
        return device_.get();
    }

    // Every call that answers in a reply file opens alike: the old reply
    // goes first, so a call that fails never leaves one to be read as its
    // answer.
    const ReplyPaths& clearReply(std::filesystem::path ReplyPaths::*reply) {
        paths_ = replyPaths();
        removeReply(paths_.*reply);
        return paths_;
    }
    // The reply directory failed its check: the call fails, naming it.
    bool refused() {
        if (paths_.refusal.empty()) {
            return false;
        }
        fail(paths_.refusal.c_str());
        return true;
    }
    // clearReply, then the handle's drive and a reply directory fit for use;
    // nullptr once the call has failed with the reason.
    Device* replyingDrive(int32_t handle, std::filesystem::path ReplyPaths::*reply) {
        clearReply(reply);
        Device* d = drive(handle);
        if (d == nullptr) {
            fail("unknown handle");
            return nullptr;
        }
        return refused() ? nullptr : d;
    }

    const ReplyPaths& paths() const { return paths_; }
    Executor& executor() { return exec_; }
    CallRecord& record() { return record_; }

    uint16_t finish(const Outcome& outcome) {
        if (!outcome.ok && record_.reason.empty()) {
            record_.reason = outcome.reason;
        }
        if (device_) {
            std::lock_guard lock(library().mutex);
            if (auto it = library().handles.find(handle_); it != library().handles.end()) {
                it->second.lastSense = outcome.ok ? std::array<uint8_t, 3>{} : outcome.sense;
            }
        }
        return status(outcome.ok ? kOk : kFail);
    }
    uint16_t fail(const char* reason) {
        if (record_.reason.empty()) {
            record_.reason = reason;
        }
        return status(kFail);
    }
    uint16_t status(uint16_t s) {
        record_.status = s;
        return s;
    }
    // Runs the call's body: nothing it throws (a state directory gone
    // read-only or full, memory) leaves the C API; it fails with the reason.
    template <typename Body> auto guard(Body body) -> decltype(body()) {
        try {
            return body();
        } catch (const std::exception& e) {
            fail(e.what());
        } catch (...) {
            fail("unexpected failure");
        }
        return 0;
    }

private:
    Executor& exec_;
    std::shared_ptr<Device> device_;
    int32_t handle_ = 0;
    CallRecord record_;
    ReplyPaths paths_;
};

// Runs a command that answers 512 bytes (vendor reads, mode sense) into the
// binary reply file.
uint16_t binaryReply(Call& call, int32_t handle, const std::optional<Command>& cmd) {
    Device* drive = call.replyingDrive(handle, &ReplyPaths::binary);
    if (drive == nullptr) {
        return kFail;
    }
    if (!cmd) {
        return call.fail("argument out of range");
    }
    std::vector<uint8_t> data(std::max<size_t>(cmd->dataLength, kBinaryReplySize), 0);
    const Outcome outcome = drive->execute(*cmd, std::span(data).first(cmd->dataLength));
    if (outcome.ok) {
        if (const std::string why =
                writeReply(call.paths().binary, std::span(data).first(cmd->dataLength), outcome);
            !why.empty()) {
            return call.fail(why.c_str());
        }
    }
    return call.finish(outcome);
}

uint16_t noReply(Call& call, Device* drive, const std::optional<Command>& cmd) {
    if (drive == nullptr) {
        return call.fail("unknown handle");
    }
    if (!cmd) {
        return call.fail("argument out of range");
    }
    std::vector<uint8_t> data(cmd->direction == Direction::In ? cmd->dataLength : 0);
    return call.finish(drive->execute(*cmd, data));
}

uint32_t be32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

uint64_t be64(const uint8_t* p) {
    return (uint64_t{be32(p)} << 32) | be32(p + 4);
}

// A text handed to the caller as a C string cut to its buffer (size > 0).
void CopyText(const std::string& from, char* to, size_t size) {
    const size_t n = std::min(from.size(), size - 1);
    std::memcpy(to, from.data(), n);
    to[n] = '\0';
}

// The bookkeeping calls: read(drive) on the handle's open drive under the
// library's lock, or 0 for a handle that names none. No Call: they are no
// drive operation, so they are not traced.
template <typename Read> uint16_t WithOpenDrive(int32_t handle, Read read) {
    Library& lib = library();
    std::lock_guard lock(lib.mutex);
    const auto it = lib.handles.find(handle);
    return handle == 0 || it == lib.handles.end() ? uint16_t{0} : read(it->second);
}

} // namespace

void installExecutorForTesting(std::unique_ptr<Executor> executor) {
    Library& lib = library();
    std::lock_guard lock(lib.mutex);
    lib.handles.clear();
    lib.executor = std::move(executor);
    lib.chosen = true;
    lib.openTrace();
}

} // namespace quorlink

using namespace quorlink;

extern "C" {

int32_t fnQuorbus_GetDiskHandle(int32_t driveIndex) {
    Call call("fnQuorbus_GetDiskHandle", {{"driveIndex", driveIndex}});
    return call.guard([&]() -> int32_t {
        call.record().driveIndex = driveIndex;
        const ReplyPaths& paths = call.clearReply(&ReplyPaths::text);
        if (driveIndex < 0 || driveIndex > kLastDriveIndex) {
            call.fail("drive index out of range");
            return 0;
        }
        if (call.refused()) {
            return 0;
        }
        OpenResult opened = call.executor().open(driveIndex);
        if (!opened.device) {
            call.fail(opened.reason.empty() ? "no drive" : opened.reason.c_str());
            return 0;
        }
        Library& lib = library();
        int32_t handle = 0;
        {
            std::lock_guard lock(lib.mutex);
            handle = lib.newHandle();
            std::string hub = opened.hub.value_or("");
            if (!opened.hub && !opened.portPath.empty()) {
                // Every port of one root hub ("1-2.3" on bus 1) shares its bandwidth.
                hub = "usb" + opened.portPath.substr(0, opened.portPath.find('-'));
            }
            lib.handles[handle] =
                OpenDrive{driveIndex, std::move(opened.device), std::move(opened.serial),
                          opened.portPath, std::move(hub)};
        }
        if (const std::string why = writeTextReply(
                paths.text, opened.deviceLine, Outcome{true, {}, opened.reply, opened.shortLength});
            !why.empty()) {
            // No device line, no drive: the handle is given back at once.
            std::shared_ptr<Device> device;
            {
                std::lock_guard lock(lib.mutex);
                device = std::move(lib.handles[handle].device);
                lib.handles.erase(handle);
            }
            device->release();
            call.fail(why.c_str());
            return 0;
        }
        call.record().status = handle;
        return handle;
    });
}

uint16_t fnQuorbus_CloseHandle(int32_t handle) {
    Call call("fnQuorbus_CloseHandle", {{"handle", handle}});
    return call.guard([&]() -> uint16_t {
        Device* drive = call.drive(handle);
        if (drive == nullptr) {
            return call.fail("unknown handle");
        }
        {
            std::lock_guard lock(library().mutex);
            library().handles.erase(handle);
        }
        // The handle is gone whatever the drive says; a flush that failed is
        // kept in the trace.
        call.record().reason = drive->release();
        return call.status(kOk);
    });
}

uint16_t fnQuorbus_ReadCapacity(int32_t handle) {
    Call call("fnQuorbus_ReadCapacity", {{"handle", handle}});
    return call.guard([&]() -> uint16_t {
        Device* drive = call.replyingDrive(handle, &ReplyPaths::text);
        if (drive == nullptr) {
            return kFail;
        }
        std::array<uint8_t, 32> data{};
        Outcome outcome = drive->execute(encodeReadCapacity10(), std::span(data).first(8));
        if (!outcome.ok) {
            return call.finish(outcome);
        }
        uint64_t lastLba = be32(data.data());
        if (lastLba == 0xFFFFFFFFULL) {
            // Too large for the 10-byte answer: ask again with the 16-byte form.
            data.fill(0);
            outcome = drive->execute(encodeReadCapacity16(), data);
            if (!outcome.ok) {
                return call.finish(outcome);
            }
            lastLba = be64(data.data());
        }
        if (const std::string why =
                writeTextReply(call.paths().text, std::to_string(lastLba + 1), outcome);
            !why.empty()) {
            return call.fail(why.c_str());
        }
        return call.finish(outcome);
    });
}

uint16_t fnQuorbus_ModeSense(int32_t handle) {
    Call call("fnQuorbus_ModeSense", {{"handle", handle}});
    return call.guard([&]() -> uint16_t {
        Device* drive = call.replyingDrive(handle, &ReplyPaths::binary);
        if (drive == nullptr) {
            return kFail;
        }
        const Command cmd = encodeModeSense();
        std::array<uint8_t, kBinaryReplySize> reply{};
        const Outcome outcome = drive->execute(cmd, std::span(reply).first(cmd.dataLength));
        if (outcome.ok) {
            // The mode data as the drive returned it, and the write-protect bit
            // of its header (byte 2, bit 7) at byte 82 where callers look.
            reply[kModeSenseWpOffset] = (reply[2] & 0x80) != 0 ? 0x80 : 0x00;
            if (const std::string why = writeReply(call.paths().binary, reply, outcome);
                !why.empty()) {
                return call.fail(why.c_str());
            }
        }
        return call.finish(outcome);
    });
}

uint16_t fnQuorbus_TestUnitReady(int32_t handle) {
    Call call("fnQuorbus_TestUnitReady", {{"handle", handle}});
    return call.guard(
        [&]() -> uint16_t { return noReply(call, call.drive(handle), encodeTestUnitReady()); });
}

uint16_t fnQuorbus_Inquiry(int32_t handle) {
    Call call("fnQuorbus_Inquiry", {{"handle", handle}});
    return call.guard(
        [&]() -> uint16_t { return noReply(call, call.drive(handle), encodeInquiry()); });
}

uint16_t fnQuorbus_Read(int32_t handle, int32_t sectorCount, int32_t firstSector) {
    Call call("fnQuorbus_Read",
              {{"handle", handle}, {"sectorCount", sectorCount}, {"firstSector", firstSector}});
    return call.guard([&]() -> uint16_t {
        Device* drive = call.drive(handle);
        if (drive != nullptr && sectorCount > 0 &&
            uint64_t(sectorCount) * kSectorSize > kMaxReadBytes) {
            return call.fail("transfer too large");
        }
        return noReply(call, drive, encodeRead(firstSector, sectorCount));
    });
}

uint16_t fnQuorbus_Write(int32_t handle, int32_t sectorCount, int32_t firstSector,
                         const void* data) {
    Call call("fnQuorbus_Write",
              {{"handle", handle}, {"sectorCount", sectorCount}, {"firstSector", firstSector}});
    return call.guard([&]() -> uint16_t {
        Device* drive = call.drive(handle);
        if (data == nullptr || sectorCount <= 0) {
            return call.fail("no data");
        }
        const auto bytes = std::span(static_cast<const uint8_t*>(data),
                                     static_cast<size_t>(sectorCount) * kSectorSize);
        const auto cmd = encodeWrite(firstSector, sectorCount, bytes);
        if (cmd) {
            // Only a range a block can hold is ever read from the caller's buffer.
            call.record().writeData = bytes;
        }
        return noReply(call, drive, cmd);
    });
}

uint16_t quorlink_read_data(int32_t handle, int32_t sectorCount, int32_t firstSector, void* data) {
    Call call("quorlink_read_data",
              {{"handle", handle}, {"sectorCount", sectorCount}, {"firstSector", firstSector}});
    return call.guard([&]() -> uint16_t {
        Device* drive = call.drive(handle);
        if (drive == nullptr) {
            return call.fail("unknown handle");
        }
        if (data == nullptr || sectorCount <= 0) {
            return call.fail("no data");
        }
        const auto cmd = encodeRead(firstSector, sectorCount);
        if (!cmd) {
            return call.fail("argument out of range");
        }
        return call.finish(drive->execute(
            *cmd, std::span(static_cast<uint8_t*>(data), static_cast<size_t>(cmd->dataLength))));
    });
}

int32_t quorlink_max_transfer(int32_t handle) {
    Call call("quorlink_max_transfer", {{"handle", handle}});
    return call.guard([&]() -> int32_t {
        Device* drive = call.drive(handle);
        if (drive == nullptr) {
            call.fail("unknown handle");
            return 0;
        }
        const auto most = std::min<uint32_t>(drive->maxTransferSectors(), 0x7FFFFFFF);
        call.record().status = most;
        return static_cast<int32_t>(most);
    });
}

uint16_t fnQuorbus_VendorR(int32_t handle, int32_t vendorCode, int32_t zero, int32_t length) {
    Call call("fnQuorbus_VendorR",
              {{"handle", handle}, {"vendorCode", vendorCode}, {"zero", zero}, {"length", length}});
    return call.guard([&]() -> uint16_t {
        return binaryReply(call, handle,
                           encodeVendor(call.executor().vendorLayout(), VendorForm::Read,
                                        vendorCode, 0, 0, 0, 0, 0, length));
    });
}

uint16_t fnQuorbus_VendorW(int32_t handle, int32_t vendorCode, int32_t length, const void* data) {
    Call call("fnQuorbus_VendorW",
              {{"handle", handle}, {"vendorCode", vendorCode}, {"length", length}});
    return call.guard([&]() -> uint16_t {
        Device* drive = call.drive(handle);
        if (data == nullptr || length <= 0) {
            return call.fail("no data");
        }
        const auto bytes =
            std::span(static_cast<const uint8_t*>(data), static_cast<size_t>(length));
        return noReply(call, drive,
                       encodeVendor(call.executor().vendorLayout(), VendorForm::Write, vendorCode,
                                    0, 0, 0, 0, 0, length, bytes));
    });
}

uint16_t fnQuorbus_Vendor(int32_t handle, int32_t vendorCode, int32_t chip, int32_t unit,
                          int32_t length) {
    Call call("fnQuorbus_Vendor", {{"handle", handle},
                                   {"vendorCode", vendorCode},
                                   {"chip", chip},
                                   {"unit", unit},
                                   {"length", length}});
    return call.guard([&]() -> uint16_t {
        return binaryReply(call, handle,
                           encodeVendor(call.executor().vendorLayout(), VendorForm::ChipUnit,
                                        vendorCode, chip, unit, 0, 0, 0, length));
    });
}

uint16_t fnQuorbus_VendorScan(int32_t handle, int32_t vendorCode, int32_t chip, int32_t unit,
                              int32_t parameter, int32_t reserved1, int32_t reserved2,
                              int32_t length) {
    Call call("fnQuorbus_VendorScan", {{"handle", handle},
                                       {"vendorCode", vendorCode},
                                       {"chip", chip},
                                       {"unit", unit},
                                       {"parameter", parameter},
                                       {"reserved1", reserved1},
                                       {"reserved2", reserved2},
                                       {"length", length}});
    return call.guard([&]() -> uint16_t {
        return binaryReply(call, handle,
                           encodeVendor(call.executor().vendorLayout(), VendorForm::Scan,
                                        vendorCode, chip, unit, parameter, reserved1, reserved2,
                                        length));
    });
}

uint16_t fnQuorbus_ResetDevice(int32_t handle) {
    Call call("fnQuorbus_ResetDevice", {{"handle", handle}});
    return call.guard([&]() -> uint16_t {
        Device* drive = call.drive(handle);
        if (drive == nullptr) {
            return call.fail("unknown handle");
        }
        return call.finish(drive->reset());
    });
}

uint16_t fnQuorbus2K_KillEXE(void) {
    Call call("fnQuorbus2K_KillEXE", {});
    return call.status(kOk);
}

uint16_t quorlink_reply_paths(char* textPath, size_t textSize, char* binaryPath,
                              size_t binarySize) {
    const auto paths = replyPaths();
    if (!paths.refusal.empty()) {
        return 0;
    }
    const std::string text = paths.text.string();
    const std::string binary = paths.binary.string();
    if (textPath == nullptr || binaryPath == nullptr || text.size() + 1 > textSize ||
        binary.size() + 1 > binarySize) {
        return 0;
    }
    std::memcpy(textPath, text.c_str(), text.size() + 1);
    std::memcpy(binaryPath, binary.c_str(), binary.size() + 1);
    return 1;
}

uint16_t quorlink_config_notice(char* text, size_t size) {
    if (text == nullptr || size == 0) {
        return 0;
    }
    std::string notice;
    {
        std::lock_guard lock(library().mutex);
        const ConfLoad* load = library().backend().confLoad();
        if (load == nullptr) {
            return 0; // the simulator: quorlink.conf does not apply
        }
        const std::string file = load->conf.file.string();
        if (!load->error.empty()) {
            notice = "No USB drive may be used: " + load->error;
        } else if (!load->conf.found) {
            notice = "No USB drive may be used: " + file +
                     " does not exist, so no [Drives] Allow= lists the drives of the line.";
        } else if (load->conf.allow.empty()) {
            notice = "No USB drive may be used: [Drives] Allow= in " + file + " lists none.";
        }
    }
    if (notice.empty()) {
        return 0;
    }
    CopyText(notice, text, size);
    return 1;
}

uint16_t quorlink_drive_hub(int32_t handle, char* hub, size_t size) {
    if (hub == nullptr || size == 0) {
        return 0;
    }
    return WithOpenDrive(handle, [&](const OpenDrive& d) {
        CopyText(d.hub, hub, size);
        return uint16_t{1};
    });
}

uint16_t quorlink_last_sense(int32_t handle, uint8_t* sense) {
    if (sense == nullptr) {
        return 0;
    }
    return WithOpenDrive(handle, [&](const OpenDrive& d) {
        if (d.lastSense[0] == 0) {
            return uint16_t{0};
        }
        std::copy(d.lastSense.begin(), d.lastSense.end(), sense);
        return uint16_t{1};
    });
}

uint16_t quorlink_drive_identity(int32_t handle, int32_t* driveIndex, char* serial,
                                 size_t serialSize, char* portPath, size_t portSize) {
    if (driveIndex == nullptr || serial == nullptr || portPath == nullptr || serialSize == 0 ||
        portSize == 0) {
        return 0;
    }
    return WithOpenDrive(handle, [&](const OpenDrive& d) {
        *driveIndex = d.driveIndex;
        CopyText(d.serial, serial, serialSize);
        CopyText(d.portPath, portPath, portSize);
        return uint16_t{1};
    });
}

} // extern "C"
