// Executes the encoder's command blocks against the drives of a rack file.
#include "../encoder.h"
#include "../executor.h"
#include "rack.h"

#include "base/unique_fd.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace quorlink {
namespace sim {
namespace {

constexpr uint8_t kListEnd1 = 0xAA;
constexpr uint8_t kListEnd2 = 0x55;

// What a command is, for matching faults.
struct Operation {
    const char* name = "";
    std::optional<int> code;
    std::optional<std::pair<uint64_t, uint32_t>> sectors; // first, count
};

// What a fired fault makes of a call: a failure, or a reply of another shape.
struct FaultEffect {
    bool fails = false;
    ReplyShape reply = ReplyShape::Full;
    size_t shortLength = 0;
};

FaultEffect effectOf(const Fault* f) {
    if (f == nullptr) {
        return {};
    }
    switch (f->effect) {
    case Fault::Effect::Fail:
        return {true, ReplyShape::Full, 0};
    case Fault::Effect::NoReply:
        return {false, ReplyShape::Missing, 0};
    case Fault::Effect::ShortReply:
        return {false, ReplyShape::Short, f->shortLength};
    }
    return {};
}

Operation classify(const Command& cmd) {
    const auto cdb = std::span(cmd.cdb).first(cmd.cdbLength);
    if (auto v = decodeVendor(cdb)) {
        switch (v->form) {
        case VendorForm::Read:
            return {"vendor_r", v->code, std::nullopt};
        case VendorForm::Write:
            return {"vendor_w", v->code, std::nullopt};
        case VendorForm::ChipUnit:
            return {"vendor", v->code, std::nullopt};
        case VendorForm::Scan:
            return {"vendor_scan", v->code, std::nullopt};
        }
    }
    if (auto t = decodeTransfer(cdb)) {
        return {t->write ? "write" : "read", std::nullopt,
                std::make_pair(t->firstSector, t->sectorCount)};
    }
    switch (cmd.cdb[0]) {
    case 0x00:
        return {"tur", std::nullopt, std::nullopt};
    case 0x25:
    case 0x9E:
        return {"capacity", std::nullopt, std::nullopt};
    case 0x1A:
        return {"mode_sense", std::nullopt, std::nullopt};
    default:
        return {"other", std::nullopt, std::nullopt};
    }
}

bool matches(const Fault& f, const Operation& op) {
    if (f.op != op.name) {
        return false;
    }
    if (f.code && (!op.code || *f.code != *op.code)) {
        return false;
    }
    if (f.sector) {
        if (!op.sectors) {
            return false;
        }
        const auto [first, count] = *op.sectors;
        const auto s = static_cast<uint64_t>(*f.sector);
        if (*f.sector < 0 || s < first || s >= first + count) {
            return false;
        }
    }
    return true;
}

// A drive's image file as the flash model's store. Zero blocks become
// holes, so that a drive of hundreds of GiB whose FATs are mostly zeros
// stays a small file; a file system that cannot punch holes gets the zeros
// written. Reads past a short file are zeros.
class ImageStore final : public BlockStore {
public:
    explicit ImageStore(int fd) : fd_(fd) {}

    bool readSectors(uint64_t first, std::span<uint8_t> data) override {
        return ::pread(fd_, data.data(), data.size(), static_cast<off_t>(first * kBlockSize)) >= 0;
    }

    bool writeSectors(uint64_t first, std::span<const uint8_t> data) override {
        const uint64_t offset = first * kBlockSize;
        // A byte-wise scan of every zero chunk would cost more than the copy.
        const bool zeros = !data.empty() && data[0] == 0 &&
                           std::memcmp(data.data(), data.data() + 1, data.size() - 1) == 0;
        if (zeros &&
            ::fallocate(fd_, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, static_cast<off_t>(offset),
                        static_cast<off_t>(data.size())) == 0) {
            return true;
        }
        size_t done = 0;
        while (done < data.size()) {
            const ssize_t n = ::pwrite(fd_, data.data() + done, data.size() - done,
                                       static_cast<off_t>(offset + done));
            if (n <= 0) {
                return false;
            }
            done += static_cast<size_t>(n);
        }
        return true;
    }

private:
    int fd_;
};

void putBe32(uint8_t* p, uint64_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

// State shared by every open device of one executor (one process). Threads
// may drive different drives at once: each drive's commands, state files and
// image are taken under that drive's own mutex, the fault counts under
// `mutex`; the profile is never written after loading.
struct Shared {
    explicit Shared(RackProfile profile) : state(std::move(profile)) {
        for (int i = 0; i < kDriveCount; ++i) {
            flash[static_cast<size_t>(i)] = std::make_unique<FlashModel>(state.drive(i).flash);
        }
    }

    // The fault this call of drive `index` sets off, if any.
    const Fault* fired(int index, const Operation& op) {
        const DriveProfile& profile = state.drive(index);
        std::lock_guard lock(mutex);
        for (size_t k = 0; k < profile.faults.size(); ++k) {
            const Fault& f = profile.faults[k];
            if (!matches(f, op)) {
                continue;
            }
            const int seen = ++faultCounts[{index, k}];
            if (f.nth == 0 || seen == f.nth) {
                return &f;
            }
        }
        return nullptr;
    }

    // The moment a transfer of `bytes` on drive `index` ends: the drive's
    // own flash takes `own`; on a hub the bytes also take their turn on its
    // bandwidth, behind every transfer of the hub's other drives booked before.
    std::chrono::steady_clock::time_point transferEnd(int index, uint64_t bytes,
                                                      std::chrono::microseconds own,
                                                      std::chrono::steady_clock::time_point now) {
        const std::string& hub = state.drive(index).hub;
        if (hub.empty()) {
            return now + own;
        }
        std::lock_guard lock(mutex);
        auto& free = hubFree[hub];
        const auto start = std::max(free, now);
        free = start + std::chrono::microseconds(static_cast<int64_t>(
                           static_cast<double>(bytes) / state.profile().hubs.at(hub).mbps));
        return std::max(free, now + own);
    }

    void delay(int index, const Operation& op) {
        const int ms = state.drive(index).latencyFor(op.name, op.code);
        if (ms > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        }
    }

    RackState state;
    std::array<std::mutex, kDriveCount> driveMutex;
    // Each drive's flash (its cache and command count live as long as the
    // process), under the drive's mutex.
    std::array<std::unique_ptr<FlashModel>, kDriveCount> flash;
    std::mutex mutex;
    // Matching calls seen per (drive, fault), for faults on the n-th call.
    std::map<std::pair<int, size_t>, int> faultCounts;
    // When each hub's bandwidth is next free, under `mutex`.
    std::map<std::string, std::chrono::steady_clock::time_point> hubFree;
};

class SimDevice final : public Device {
public:
    SimDevice(std::shared_ptr<Shared> shared, int index)
        : shared_(std::move(shared)), index_(index), profile_(shared_->state.drive(index)) {}

    Outcome execute(const Command& cmd, std::span<uint8_t> dataIn) override {
        std::lock_guard lock(shared_->driveMutex[static_cast<size_t>(index_)]);
        if (!shared_->state.plugged(index_)) {
            return {false, "drive unplugged"};
        }
        if (!flash_.answers()) {
            // A real drive would keep the host waiting until its timeout.
            return {false, "drive not answering"};
        }
        const Operation op = classify(cmd);
        shared_->delay(index_, op);
        const FaultEffect shape = effectOf(shared_->fired(index_, op));
        if (shape.fails) {
            return {false, std::string("simulated fault on ") + op.name};
        }
        Outcome result = run(cmd, dataIn);
        if (result.ok) {
            result.reply = shape.reply;
            result.shortLength = shape.shortLength;
        }
        return result;
    }

    // Ends a hang and writes the cache out, as a USB reset of the drive would.
    Outcome reset() override {
        std::lock_guard lock(shared_->driveMutex[static_cast<size_t>(index_)]);
        if (!shared_->state.plugged(index_)) {
            return {false, "drive unplugged"};
        }
        if (effectOf(shared_->fired(index_, {"reset", std::nullopt, std::nullopt})).fails) {
            return {false, "simulated fault on reset"};
        }
        const auto path = shared_->state.imagePath(index_);
        const ufd::UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CLOEXEC));
        if (fd.get() < 0) {
            return {false, "cannot open image " + path.string()};
        }
        ImageStore store(fd.get());
        const bool ok = flash_.reset(store);
        return {ok, ok ? "" : "image I/O failed"};
    }

private:
    Outcome run(const Command& cmd, std::span<uint8_t> dataIn) {
        const auto cdb = std::span(cmd.cdb).first(cmd.cdbLength);
        if (auto v = decodeVendor(cdb)) {
            if (profile_.kind != DriveKind::Usb) {
                return {false, "not a USB drive: vendor command refused"};
            }
            return vendor(*v, cmd, dataIn);
        }
        if (auto t = decodeTransfer(cdb)) {
            return transfer(*t, cmd, dataIn);
        }
        switch (cmd.cdb[0]) {
        case 0x00:
            return {true, {}};
        case 0x12:
            return inquiry(dataIn);
        case 0x25:
            return capacity10(dataIn);
        case 0x9E:
            return capacity16(dataIn);
        case 0x1A:
            return modeSense(dataIn);
        default:
            return {false, "unsupported command"};
        }
    }

    Outcome inquiry(std::span<uint8_t> data) {
        std::fill(data.begin(), data.end(), 0);
        if (data.size() >= 36) {
            data[1] = 0x80; // removable
            data[4] = 31;
            auto put = [&](size_t at, const std::string& s, size_t n) {
                for (size_t i = 0; i < n; ++i) {
                    data[at + i] = static_cast<uint8_t>(i < s.size() ? s[i] : ' ');
                }
            };
            put(8, profile_.vendor, 8);
            put(16, profile_.product, 16);
            put(32, profile_.revision, 4);
        }
        return {true, {}};
    }

    Outcome capacity10(std::span<uint8_t> data) {
        if (profile_.capacity == 0 || data.size() < 8) {
            return {false, "no medium"};
        }
        const uint64_t last = profile_.capacity - 1;
        putBe32(data.data(), last > 0xFFFFFFFFULL ? 0xFFFFFFFFULL : last);
        putBe32(data.data() + 4, kBlockSize);
        return {true, {}};
    }

    Outcome capacity16(std::span<uint8_t> data) {
        if (profile_.capacity == 0 || data.size() < 12) {
            return {false, "no medium"};
        }
        const uint64_t last = profile_.capacity - 1;
        putBe32(data.data(), last >> 32);
        putBe32(data.data() + 4, last & 0xFFFFFFFFULL);
        putBe32(data.data() + 8, kBlockSize);
        return {true, {}};
    }

    Outcome modeSense(std::span<uint8_t> data) {
        std::fill(data.begin(), data.end(), 0);
        if (data.size() < 4) {
            return {false, "allocation too small"};
        }
        data[0] = 3; // mode data length: header only
        data[2] = shared_->state.writeProtect(index_) ? 0x80 : 0x00;
        return {true, {}};
    }

    Outcome transfer(const TransferRequest& t, const Command& cmd, std::span<uint8_t> dataIn) {
        // The drive's time runs from the command's start: the state files and
        // the image's own I/O (the host's page cache, shared by every simulated
        // drive and throttled for all when many write at once) are part of it,
        // not added to it.
        const auto start = std::chrono::steady_clock::now();
        if (profile_.kind != DriveKind::Usb) {
            return {false, "not a USB drive: transfer refused"};
        }
        if (t.sectorCount == 0 || t.firstSector + t.sectorCount > profile_.capacity) {
            return {false, "sector out of range"};
        }
        if (t.write && shared_->state.writeProtect(index_)) {
            // DATA PROTECT, write protected: what a drive with its switch on answers.
            Outcome refused{false, "write protected"};
            refused.sense = {0x07, 0x27, 0x00};
            return refused;
        }
        const size_t bytes = size_t{t.sectorCount} * kBlockSize;
        if (t.write && cmd.dataOut.size() < bytes) {
            return {false, "image I/O failed"};
        }
        const auto path = shared_->state.imagePath(index_);
        const ufd::UniqueFd fd(::open(path.c_str(), (t.write ? O_WRONLY : O_RDONLY) | O_CLOEXEC));
        if (fd.get() < 0) {
            return {false, "cannot open image " + path.string()};
        }
        ImageStore store(fd.get());
        bool ok = false;
        if (t.write) {
            ok = flash_.write(store, t.firstSector, cmd.dataOut.first(bytes));
        } else {
            std::fill(dataIn.begin(), dataIn.end(), 0);
            ok = flash_.read(store, t.firstSector, dataIn.first(std::min(bytes, dataIn.size())));
        }
        if (!t.write) {
            shared_->state.addLedActivity(index_, 1);
        }
        if (!ok) {
            return {false, "image I/O failed"};
        }
        std::this_thread::sleep_until(
            shared_->transferEnd(index_, bytes, flash_.transferTime(t.write, bytes), start));
        return {true, {}};
    }

    Outcome vendor(const VendorRequest& v, const Command& cmd, std::span<uint8_t> reply) {
        std::fill(reply.begin(), reply.end(), 0);
        auto at = [&](size_t i) -> uint8_t* { return i < reply.size() ? &reply[i] : nullptr; };
        auto set = [&](size_t i, uint8_t value) {
            if (uint8_t* p = at(i)) {
                *p = value;
            }
        };
        switch (v.code) {
        case 0x75:
            set(130, profile_.info130);
            set(131, profile_.info131);
            return {true, {}};
        case 0x93: {
            size_t i = 0;
            for (uint8_t c : profile_.chips) {
                set(i++, c);
            }
            set(i, 0xAA);
            return {true, {}};
        }
        case 0x9F:
            set(0, profile_.modeBlock[0]);
            set(1, profile_.modeBlock[1]);
            return {true, {}};
        case 0x94:
        case 0x95:
            return unitList(v, reply);
        case 0x96:
        case 0x98:
        case 0x9B:
            return {true, {}};
        case 0x99:
            if (cmd.dataOut.size() >= 4) {
                shared_->state.setBoundary(
                    index_, static_cast<uint32_t>(cmd.dataOut[0] | (cmd.dataOut[1] << 8) |
                                                  (cmd.dataOut[2] << 16) |
                                                  (uint32_t{cmd.dataOut[3]} << 24)));
            }
            return {true, {}};
        case 0x81: {
            if (cmd.dataOut.size() < kBlockSize) {
                return {false, "configuration block shorter than 512 bytes"};
            }
            std::array<uint8_t, kBlockSize> block{};
            std::copy_n(cmd.dataOut.begin(), kBlockSize, block.begin());
            shared_->state.setConfigBlock(index_, block);
            return {true, {}};
        }
        case 0x82: {
            const auto block = shared_->state.configBlock(index_);
            std::copy_n(block.begin(), std::min(reply.size(), block.size()), reply.begin());
            return {true, {}};
        }
        default:
            return {false, "unknown vendor code"};
        }
    }

    // Byte 0 unread; one byte per entry from byte 1, then 0xAA 0x55 when the
    // pair still fits (its first byte at 1..510).
    Outcome unitList(const VendorRequest& v, std::span<uint8_t> reply) {
        if (v.chip >= profile_.chips.size()) {
            return {false, "no such chip"};
        }
        const int entries = std::max(0, profile_.unitEntries(v.code, v.chip, v.unit));
        const size_t limit = std::min<size_t>(reply.size(), kBlockSize);
        size_t i = 1;
        for (int e = 0; e < entries && i < limit; ++e, ++i) {
            reply[i] = static_cast<uint8_t>(0x10 + (e % 0x60)); // never 0xAA
        }
        if (i <= 510 && i + 1 < limit) {
            reply[i] = kListEnd1;
            reply[i + 1] = kListEnd2;
        }
        return {true, {}};
    }

    std::shared_ptr<Shared> shared_;
    int index_;
    const DriveProfile& profile_;
    FlashModel& flash_{*shared_->flash[static_cast<size_t>(index_)]};
};

class SimExecutor final : public Executor {
public:
    explicit SimExecutor(const std::string& rackPath) {
        try {
            shared_ = std::make_shared<Shared>(loadRack(rackPath));
        } catch (const std::exception& e) {
            // A broken rack is a setup error: say so once, then find no drive.
            std::fprintf(stderr, "quorlink: simulated rack unusable: %s\n", e.what());
        }
    }

    OpenResult open(int index) override {
        if (!shared_ || index < 0 || index >= kDriveCount) {
            return {};
        }
        const auto& d = shared_->state.drive(index);
        std::lock_guard lock(shared_->driveMutex[static_cast<size_t>(index)]);
        if (d.kind == DriveKind::Empty || !shared_->state.plugged(index)) {
            return {};
        }
        const Operation op{"open", std::nullopt, std::nullopt};
        shared_->delay(index, op);
        const FaultEffect shape = effectOf(shared_->fired(index, op));
        OpenResult result;
        if (shape.fails) {
            result.reason = "simulated fault on open";
            return result;
        }
        result.reply = shape.reply;
        result.shortLength = shape.shortLength;
        result.device = std::make_unique<SimDevice>(shared_, index);
        result.deviceLine = d.deviceLine();
        result.serial = d.serial;
        result.portPath = d.port;
        result.hub = d.hub;
        return result;
    }

    std::optional<TraceTarget> defaultTrace() const override {
        if (!shared_ || !shared_->state.profile().trace) {
            return std::nullopt;
        }
        return TraceTarget{*shared_->state.profile().trace, false};
    }

private:
    std::shared_ptr<Shared> shared_;
};

} // namespace
} // namespace sim

std::unique_ptr<Executor> makeSimulatorExecutor(const std::string& rackPath) {
    return std::make_unique<sim::SimExecutor>(rackPath);
}

} // namespace quorlink
