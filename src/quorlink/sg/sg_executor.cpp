#include "sg_executor.h"

#include "base/unique_fd.h"
#include "drive_map.h"
#include "encoder.h"
#include "retry_policy.h"
#include "safety.h"
#include "sense.h"
#include "usb_reset.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>
#include <utility>
#include <vector>

namespace quorlink {
namespace sg {
namespace {

constexpr size_t kSenseBufferSize = 64;
constexpr uint8_t kReadCapacity10 = 0x25;
constexpr uint8_t kServiceActionIn16 = 0x9E;
constexpr uint8_t kReadCapacity16Action = 0x10;
constexpr uint8_t kDriverTimeout = 0x06;
constexpr uint8_t kDriverSense = 0x08;
constexpr uint16_t kDidNoConnect = 0x01;
constexpr uint16_t kDidTimeOut = 0x03;
constexpr uint8_t kModeSense6 = 0x1A;
constexpr uint8_t kAllPages = 0x3F;
constexpr uint8_t kIllegalRequest = 0x05;
constexpr uint8_t kModeHeaderLength = 4;

Outcome failed(std::string reason) {
    Outcome o;
    o.ok = false;
    o.reason = std::move(reason);
    return o;
}

Outcome succeeded() {
    Outcome o;
    o.ok = true;
    return o;
}

uint32_t be32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// Capacity answers are useless when cut short, and the station counts in
// 512-byte sectors, so a drive with other sectors is better refused here.
std::optional<std::string> checkCapacityAnswer(const Command& cmd, std::span<const uint8_t> data,
                                               size_t received) {
    size_t lengthAt = 0;
    if (cmd.cdb[0] == kReadCapacity10) {
        lengthAt = 4;
    } else if (cmd.cdb[0] == kServiceActionIn16 && (cmd.cdb[1] & 0x1F) == kReadCapacity16Action) {
        lengthAt = 8;
    } else {
        return std::nullopt;
    }
    if (received < lengthAt + 4 || data.size() < lengthAt + 4) {
        return "short capacity answer: " + std::to_string(received) + " of " +
               std::to_string(lengthAt + 4) + " bytes";
    }
    const uint32_t blockLength = be32(data.data() + lengthAt);
    if (blockLength != kSectorSize) {
        return "sector size " + std::to_string(blockLength) + ", not 512";
    }
    return std::nullopt;
}

// The descriptor of /dev/sgN in the ordinary blocking mode; else none, with
// the errno and what failed. Non-blocking at open, so that a drive stuck in
// reset cannot hang it.
ufd::UniqueFd openSgNode(const std::string& path, int& error, std::string& failure) {
    ufd::UniqueFd fd;
    do {
        fd.reset(::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
    } while (!fd && errno == EINTR);
    if (!fd) {
        error = errno;
        failure = "cannot open " + path + ": " + std::strerror(error);
        return fd;
    }
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) < 0) {
        error = errno;
        failure = "cannot set up " + path + ": " + std::strerror(error);
        return {};
    }
    return fd;
}

// One command's result, with the sense the drive gave (key 0: none).
struct Attempt {
    Outcome outcome;
    Sense sense;
};

class SgDevice final : public Device {
public:
    SgDevice(ufd::UniqueFd fd, SgDeviceInfo info, const Roots& roots,
             std::shared_ptr<SgSystem> system, std::shared_ptr<const ConfLoad> load)
        : fd_(std::move(fd)), info_(std::move(info)), roots_(roots), system_(system),
          claim_(std::move(system)), load_(std::move(load)) {}
    ~SgDevice() override { release(); }

    // quorlink.conf; shared with the executor, which a device may outlive.
    const QuorlinkConf& conf() const { return load_->conf; }

    Outcome execute(const Command& cmd, std::span<uint8_t> dataIn) override {
        std::lock_guard lock(mutex_);
        if (gone_) {
            return failed("drive removed");
        }
        if (cmd.cdbLength == 0 || cmd.cdbLength > cmd.cdb.size()) {
            return failed("bad command block length " + std::to_string(cmd.cdbLength));
        }
        if (changesDrive(cmd)) {
            if (auto why = guard()) {
                return failed(*why);
            }
        }
        if (!writesVolume(cmd)) {
            if (auto why = flushWrites()) {
                return failed(*why);
            }
        }
        if (cmd.cdb[0] == kModeSense6 && (cmd.cdb[2] & 0x3F) == kAllPages) {
            return modeSense(cmd, dataIn);
        }
        return send(cmd, dataIn).outcome;
    }

    // One USB reset of the drive per handle (a handle lives for a run): a
    // stick that hangs again after one is not worth a second.
    Outcome reset() override {
        std::lock_guard lock(mutex_);
        if (resetDone_) {
            return failed("refused: the drive was reset once already");
        }
        resetDone_ = true;
        passedAt_.reset(); // the guard walks sysfs again for the drive as it comes back
        auto result = resetUsbDevice(roots_, *system_, conf(), info_, conf().timeouts.ready);
        if (auto* why = std::get_if<std::string>(&result)) {
            return failed(*why);
        }
        SgDeviceInfo& back = std::get<SgDeviceInfo>(result);
        if (back.sg != info_.sg) {
            // The drive came back as a new SCSI device: this handle follows
            // it there, and claims its disk afresh before the next write.
            const std::string path = (roots_.dev / ("sg" + std::to_string(back.sg))).string();
            int error = 0;
            std::string failure;
            ufd::UniqueFd fd = openSgNode(path, error, failure);
            if (!fd) {
                gone_ = true;
                return failed(failure + " (after the USB reset)");
            }
            claim_.drop();
            fd_ = std::move(fd);
        }
        info_ = std::move(back);
        gone_ = false;
        return succeeded();
    }

    // The kernel refuses an SG_IO larger than the device's queue takes; a
    // drive whose limit sysfs does not tell gets the old usb-storage default.
    uint32_t maxTransferSectors() override {
        constexpr uint32_t kUsbStorageDefaultSectors = 240;
        return info_.maxSectorsKb != 0 ? info_.maxSectorsKb * 2 : kUsbStorageDefaultSectors;
    }

    // Flushes what was written, then has the kernel re-read the partition
    // table (it does only when told), or udev when the station may not, so
    // /dev/sdX1 of the new volume appears.
    std::string release() override {
        std::lock_guard lock(mutex_);
        if (released_) {
            return {};
        }
        released_ = true;
        std::string why = flushWrites().value_or("");
        if (!written_ || gone_) {
            return why;
        }
        auto note = [&why](const std::string& text) { why += (why.empty() ? "" : "; ") + text; };
        std::vector<std::pair<std::string, int>> refused; // disk, errno of BLKRRPART
        for (const auto& [disk, fd] : claim_.held()) {
            const int err = system_->rereadPartitions(fd);
            if (err == EACCES || err == EPERM) {
                refused.emplace_back(disk, err);
            } else if (err != 0) {
                note("partition table of /dev/" + disk + " not re-read: " + std::strerror(err));
            }
        }
        if (refused.empty()) {
            return why;
        }
        // udev's own re-read would find the disk still claimed and fail.
        claim_.drop();
        passedAt_.reset();
        for (const auto& [disk, err] : refused) {
            const std::string head =
                "partition table of /dev/" + disk + " not re-read (" + std::strerror(err) + "): ";
            const int openErr = system_->announceChange((roots_.dev / disk).string());
            note(head + (openErr == 0 ? "left to udev"
                                      : std::string("udev not told: ") + std::strerror(openErr)));
        }
        return why;
    }

private:
    // Before anything that changes the drive: sysfs read afresh must still
    // show the drive this handle was opened on, and that drive must pass the
    // guard now (a block device may have appeared, or something mounted it).
    // sysfs only changes with a uevent, so while the kernel's count stands
    // where it stood at the last guard passed, its walk (the largest cost
    // of a single-sector write) would find the same: then only the mount
    // table is read again. The count is taken first, so that a change
    // during the walk makes the next guard walk again.
    std::optional<std::string> guard() {
        const std::optional<uint64_t> seqnum = ueventSeqnum(roots_);
        if (seqnum && seqnum == passedAt_) {
            return mountRefusal(roots_, passedNodes_);
        }
        passedAt_.reset();
        const SgDeviceInfo now = describeSgDevice(roots_, info_.sg);
        if (auto why = identityChange(info_, now)) {
            return why;
        }
        if (auto why = refusal(roots_, conf(), now)) {
            return why;
        }
        if (auto why = claim_.acquire(roots_, info_.sg)) {
            return why;
        }
        passedAt_ = seqnum;
        passedNodes_ = blockNodes(roots_, info_.sg);
        return std::nullopt;
    }

    // Sectors written since the last flush reach the medium before anything
    // else is asked, so what the station reads back is what the drive keeps.
    std::optional<std::string> flushWrites() {
        if (!unflushed_ || gone_) {
            return std::nullopt;
        }
        const Attempt a = send(encodeSynchronizeCache(), {});
        if (a.outcome.ok || a.sense.key == kIllegalRequest) {
            // Many sticks have no write cache and reject the command.
            unflushed_ = false;
            return std::nullopt;
        }
        return "SYNCHRONIZE CACHE failed: " + a.outcome.reason;
    }

    // Some drives reject the all-pages request. The write-protect bit sits
    // in the header every answer carries, so page 0 or a bare header will do.
    Outcome modeSense(const Command& cmd, std::span<uint8_t> dataIn) {
        Attempt a = send(cmd, dataIn);
        const std::pair<uint8_t, uint8_t> fallbacks[] = {{0x00, cmd.cdb[4]},
                                                         {kAllPages, kModeHeaderLength}};
        for (const auto& [page, allocation] : fallbacks) {
            if (a.outcome.ok || a.sense.key != kIllegalRequest || dataIn.size() < allocation) {
                break;
            }
            Command retry = cmd;
            retry.cdb[2] = page;
            retry.cdb[4] = allocation;
            retry.dataLength = allocation;
            std::fill(dataIn.begin(), dataIn.end(), uint8_t{0});
            a = send(retry, dataIn.first(allocation));
        }
        return a.outcome;
    }

    // Asked again only when the drive said it did not run the command.
    Attempt send(const Command& cmd, std::span<uint8_t> dataIn) {
        RetryPolicy retry(conf().timeouts.ready, changesDrive(cmd));
        const auto start = system_->now();
        for (;;) {
            Attempt a = sendOnce(cmd, dataIn);
            if (a.outcome.ok || a.sense.key == 0) {
                return a;
            }
            const auto elapsed =
                std::chrono::duration_cast<std::chrono::milliseconds>(system_->now() - start);
            const RetryPolicy::Step step = retry.next(a.sense, elapsed);
            if (!step.again) {
                a.outcome.reason += step.note;
                return a;
            }
            if (step.pause.count() > 0) {
                system_->pause(step.pause);
            }
        }
    }

    Attempt sendOnce(const Command& cmd, std::span<uint8_t> dataIn) {
        sg_io_hdr_t hdr;
        std::memset(&hdr, 0, sizeof hdr);
        std::array<uint8_t, 16> cdb = cmd.cdb;
        std::array<uint8_t, kSenseBufferSize> sense{};
        hdr.interface_id = 'S';
        hdr.cmdp = cdb.data();
        hdr.cmd_len = cmd.cdbLength;
        hdr.sbp = sense.data();
        hdr.mx_sb_len = sense.size();
        hdr.timeout =
            static_cast<unsigned int>(commandTimeout(cmd.commandClass, conf().timeouts).count());
        hdr.dxfer_direction = SG_DXFER_NONE;
        if (cmd.dataLength > 0 && cmd.direction == Direction::In) {
            if (dataIn.size() < cmd.dataLength) {
                return {failed("reply buffer smaller than the transfer"), {}};
            }
            hdr.dxfer_direction = SG_DXFER_FROM_DEV;
            hdr.dxferp = dataIn.data();
            hdr.dxfer_len = cmd.dataLength;
        } else if (cmd.dataLength > 0 && cmd.direction == Direction::Out) {
            if (cmd.dataOut.size() < cmd.dataLength) {
                return {failed("data shorter than the transfer"), {}};
            }
            hdr.dxfer_direction = SG_DXFER_TO_DEV;
            // The kernel only reads from a data-out buffer.
            hdr.dxferp = const_cast<uint8_t*>(cmd.dataOut.data());
            hdr.dxfer_len = cmd.dataLength;
        }

        if (writesVolume(cmd)) {
            unflushed_ = written_ = true;
        }
        if (const int err = system_->sgIo(fd_.get(), hdr); err != 0) {
            if (err == ENODEV || err == ENXIO) {
                gone_ = true;
                return {failed(std::string("drive removed (") + std::strerror(err) + ")"), {}};
            }
            return {failed(ioctlFailure(err)), {}};
        }
        Attempt a;
        if (auto why = verdict(hdr, sense, cmd, a.sense)) {
            a.outcome = failed(*why);
            a.outcome.sense = {a.sense.key, a.sense.asc, a.sense.ascq};
            return a;
        }
        if (hdr.dxfer_direction == SG_DXFER_FROM_DEV) {
            // In size_t: a transfer above INT_MAX must not turn the bound negative.
            const size_t resid =
                hdr.resid <= 0 ? 0
                               : std::min<size_t>(static_cast<size_t>(hdr.resid), cmd.dataLength);
            const size_t received = cmd.dataLength - resid;
            std::fill(dataIn.begin() + static_cast<ptrdiff_t>(received),
                      dataIn.begin() + static_cast<ptrdiff_t>(cmd.dataLength), uint8_t{0});
            if (auto why = checkCapacityAnswer(cmd, dataIn.first(cmd.dataLength), received)) {
                a.outcome = failed(*why);
                return a;
            }
        }
        a.outcome = succeeded();
        return a;
    }

    std::optional<std::string> verdict(const sg_io_hdr_t& hdr,
                                       const std::array<uint8_t, kSenseBufferSize>& sense,
                                       const Command& cmd, Sense& senseOut) {
        const std::string timeoutText =
            "timed out after " +
            std::to_string(commandTimeout(cmd.commandClass, conf().timeouts).count() / 1000) + " s";
        if (hdr.host_status != 0) {
            if (hdr.host_status == kDidNoConnect) {
                gone_ = true;
                return "drive removed (DID_NO_CONNECT)";
            }
            if (hdr.host_status == kDidTimeOut) {
                return timeoutText + " (DID_TIME_OUT)";
            }
            return "transport error " + describeHostStatus(hdr.host_status);
        }
        if ((hdr.driver_status & 0x0F) == kDriverTimeout) {
            return timeoutText;
        }
        const uint8_t status = hdr.status & 0x7E;
        const size_t senseLength = std::min<size_t>(hdr.sb_len_wr, sense.size());
        if (status == 0x02 || senseLength > 0) {
            const auto decoded = decodeSense(std::span(sense).first(senseLength));
            senseOut = decoded.value_or(Sense{});
            if (decoded && decoded->key == 0x01) {
                return std::nullopt; // RECOVERED ERROR: the command did complete
            }
            if (decoded && (decoded->key != 0 || status != 0)) {
                return describeSense(*decoded);
            }
            if (status == 0x02) {
                return "CHECK CONDITION without sense data";
            }
        } else if (status != 0) {
            return describeStatus(status);
        }
        const uint8_t driver = hdr.driver_status & 0x0F;
        if (driver != 0 && driver != kDriverSense) {
            return "driver status " + std::to_string(driver);
        }
        return std::nullopt;
    }

    ufd::UniqueFd fd_; // replaced when a reset brings the drive back elsewhere
    SgDeviceInfo info_;
    Roots roots_;
    std::shared_ptr<SgSystem> system_;
    DiskClaim claim_;
    std::shared_ptr<const ConfLoad> load_;
    std::mutex mutex_;
    bool gone_ = false;
    bool unflushed_ = false; // a WRITE went since the last SYNCHRONIZE CACHE
    bool written_ = false;   // a WRITE went while the handle was open
    bool released_ = false;
    bool resetDone_ = false;
    // The uevent count at the last guard passed, and the block nodes it saw.
    std::optional<uint64_t> passedAt_;
    std::vector<BlockNode> passedNodes_;
};

// Holds nothing that changes after construction: each open device keeps its
// own descriptor and claim, so threads may drive different devices at once.
class SgExecutor final : public Executor {
public:
    SgExecutor(Roots roots, std::shared_ptr<SgSystem> system, std::optional<TraceTarget> trace,
               ConfLoad load)
        : roots_(std::move(roots)), system_(std::move(system)), trace_(std::move(trace)),
          load_(std::make_shared<const ConfLoad>(usable(std::move(load)))) {}

    std::optional<TraceTarget> defaultTrace() const override { return trace_; }
    const ConfLoad* confLoad() const override { return load_.get(); }
    const QuorlinkConf& conf() const { return load_->conf; }
    const VendorLayout& vendorLayout() const override { return conf().vendorBlock; }

    OpenResult open(int driveIndex) override {
        OpenResult result;
        // Which device the index names is read from sysfs now: drives come
        // and go, and nothing of an earlier open is trusted.
        std::optional<MappedDevice> mapped;
        for (MappedDevice& d : mapDrives(roots_, conf())) {
            if (d.index == driveIndex && driveIndex >= 0) {
                mapped = std::move(d);
            }
        }
        if (!mapped) {
            return result;
        }
        const std::string path = (roots_.dev / ("sg" + std::to_string(mapped->info.sg))).string();
        int error = 0;
        std::string failure;
        ufd::UniqueFd fd = openSgNode(path, error, failure);
        if (!fd) {
            // An absent node is an empty index; anything else (no permission,
            // above all) is worth a line in the trace.
            if (error != ENOENT && error != ENXIO && error != ENODEV) {
                result.reason = failure;
            }
            return result;
        }
        result.deviceLine = deviceLine(mapped->info, mapped->allowed);
        result.serial = mapped->info.serial;
        result.portPath = mapped->info.portPath;
        result.device = std::make_unique<SgDevice>(std::move(fd), std::move(mapped->info), roots_,
                                                   system_, load_);
        return result;
    }

private:
    // An unusable file allows no drive at all rather than a guess.
    static ConfLoad usable(ConfLoad load) {
        if (!load.error.empty()) {
            load.conf.allow.clear();
            load.conf.ports.clear();
        }
        return load;
    }

    Roots roots_;
    std::shared_ptr<SgSystem> system_;
    std::optional<TraceTarget> trace_;
    std::shared_ptr<const ConfLoad> load_;
};

} // namespace

std::chrono::milliseconds commandTimeout(CommandClass cls, const Timeouts& timeouts) {
    switch (cls) {
    case CommandClass::Quick:
        return timeouts.quick;
    case CommandClass::Transfer:
        return timeouts.transfer;
    case CommandClass::Vendor:
        return timeouts.vendor;
    }
    return timeouts.vendor;
}

std::unique_ptr<Executor> makeSgExecutor(Roots roots, std::shared_ptr<SgSystem> system,
                                         std::optional<TraceTarget> trace, ConfLoad conf) {
    return std::make_unique<SgExecutor>(std::move(roots), std::move(system), std::move(trace),
                                        std::move(conf));
}

std::unique_ptr<Executor> makeSgExecutor(Roots roots, std::shared_ptr<SgSystem> system,
                                         std::optional<TraceTarget> trace,
                                         const QuorlinkConf& conf) {
    return makeSgExecutor(std::move(roots), std::move(system), std::move(trace),
                          ConfLoad{conf, {}});
}

} // namespace sg

std::unique_ptr<Executor> makeSgExecutor() {
    // On a line this trace is the only place refusals and sense data show
    // up, so failures are kept even when nobody asked for a trace. The one
    // reading of quorlink.conf in a process: the library makes this once.
    return sg::makeSgExecutor(sg::Roots{}, sg::realSgSystem(), TraceTarget{{}, true},
                              loadQuorlinkConf(quorlinkConfPath()));
}

} // namespace quorlink
