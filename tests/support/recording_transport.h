// A Transport that records every call and answers from a script: the unit
// tests' stand-in for libquorlink when the exact call sequence matters.
// Text replies are written to the real reply file, as the library would.
#pragma once

#include "config/reply_files.h"
#include "context/transport.h"
#include "support/test_common.h"

#include <QTemporaryDir>

namespace ufd::test {

struct Call {
    std::string fn;            // "Write", "VendorR", ... (without the fnQuorbus_ prefix)
    std::vector<int64_t> args; // in the API's order, the handle first
    std::vector<uint8_t> data; // Write: count*512 bytes; VendorW: length bytes
};

// What one call answers: its status and, optionally, the text reply file.
struct Answer {
    uint16_t status = 1;
    std::optional<std::string> text;
};

class RecordingTransport : public Transport {
    QTemporaryDir dir_;

public:
    // Where its replies go, in a directory of its own: the context reads them.
    ReplyFiles files{dir_.filePath("reply.txt").toStdString(),
                     dir_.filePath("reply.bin").toStdString()};

    // Decides the answer per call; default: status 1, no reply file.
    std::function<Answer(const Call&)> script = [](const Call&) { return Answer{}; };
    std::vector<Call> calls;

    // Only the calls of one function, e.g. "Write".
    std::vector<Call> Calls(const std::string& fn) const {
        std::vector<Call> out = calls;
        std::erase_if(out, [&](const Call& c) { return c.fn != fn; });
        return out;
    }

    using I = int32_t;
    int32_t GetDiskHandle(I i) override { return static_cast<int32_t>(Do("GetDiskHandle", {i})); }
    uint16_t CloseHandle(I h) override { return Do("CloseHandle", {h}); }
    uint16_t ReadCapacity(I h) override { return Do("ReadCapacity", {h}); }
    uint16_t ModeSense(I h) override { return Do("ModeSense", {h}); }
    uint16_t TestUnitReady(I h) override { return Do("TestUnitReady", {h}); }
    uint16_t Read(I h, I n, I first) override { return Do("Read", {h, n, first}); }
    uint16_t Write(I h, I n, I first, const void* data) override {
        return Do("Write", {h, n, first}, data, n > 0 ? static_cast<size_t>(n) * 512 : 0);
    }
    uint16_t VendorR(I h, I c, I z, I n) override { return Do("VendorR", {h, c, z, n}); }
    uint16_t VendorW(I h, I code, I len, const void* data) override {
        return Do("VendorW", {h, code, len}, data, len > 0 ? static_cast<size_t>(len) : 0);
    }
    uint16_t Vendor(I h, I c, I k, I u, I n) override { return Do("Vendor", {h, c, k, u, n}); }
    uint16_t VendorScan(I h, I c, I chip, I u, I p, I r1, I r2, I n) override {
        return Do("VendorScan", {h, c, chip, u, p, r1, r2, n});
    }
    uint16_t KillEXE() override { return Do("KillEXE", {}); }
    QString ConfigNotice() override { return notice; }
    QString notice; // what ConfigNotice says

private:
    uint16_t Do(const std::string& fn, std::vector<int64_t> args, const void* data = nullptr,
                size_t size = 0) {
        const auto* bytes = static_cast<const uint8_t*>(data);
        Call c{fn, std::move(args), {bytes, bytes + (bytes != nullptr ? size : 0)}};
        const Answer a = script(c); // sees the calls before this one
        if (a.text) {
            std::ofstream(files.TextFile(), std::ios::trunc) << *a.text;
        }
        calls.push_back(std::move(c));
        return a.status;
    }
};

} // namespace ufd::test
