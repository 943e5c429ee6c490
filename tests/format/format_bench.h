// A station context wired to a recording transport, with the templates built
// and slot 1 attached (handle 7): the starting point of every format test.
// Byte layouts are written as hex dumps ("EB 3C", 'text' for its ASCII bytes,
// "00*448" for a run).
#pragma once

#include "format/volume.h"
#include "support/recording_transport.h"
#include "support/test_common.h"

namespace ufd::test {

inline constexpr int32_t kHandle = 7;
using Writes = std::vector<std::pair<int64_t, int64_t>>;

// The bytes of a hex dump, zero-padded to size.
inline std::vector<uint8_t> Hex(const std::string& dump, size_t size = 0) {
    std::vector<uint8_t> out;
    std::istringstream in(dump);
    for (std::string t; in >> t;) {
        const size_t star = t.find('*');
        if (t.front() == '\'') {
            out.insert(out.end(), t.begin() + 1, t.end() - 1);
        } else {
            out.insert(out.end(), star == t.npos ? 1 : std::stoul(t.substr(star + 1)),
                       static_cast<uint8_t>(std::stoul(t.substr(0, star), nullptr, 16)));
        }
    }
    out.resize(std::max(size, out.size()));
    return out;
}

// Bytes [from, from + expected.size()) of data equal expected (not empty).
inline bool BytesAt(const std::vector<uint8_t>& data, size_t from,
                    const std::vector<uint8_t>& expected) {
    return !expected.empty() && data.size() >= from + expected.size() &&
           std::ranges::equal(expected, std::span(data).subspan(from, expected.size()));
}

struct FormatBench {
    RecordingTransport transport;
    StationContext ctx{transport};

    FormatBench() {
        ctx.replies = transport.files;
        BuildSectorTemplates(ctx);
        ctx.slots.DiskSlots[0].Handle = kHandle;
        ctx.slots.DiskCount = 1;
        ctx.Product.FirstShare = 1.0;
        ctx.Product.DiskLabel = QStringLiteral("TESTDISK");
        // Leftovers in the buffer must not reach the drive.
        std::ranges::fill(ctx.replies.ReplyBuffer, 0x5A);
    }

    // (first sector, count) of every Write, in order.
    Writes Written() const {
        Writes out;
        for (const Call& c : transport.Calls("Write")) {
            out.emplace_back(c.args[2], c.args[1]);
        }
        return out;
    }

    // The data of the Write at a first sector; empty when there was none.
    std::vector<uint8_t> WrittenAt(int64_t sector) const {
        const std::vector<Call> writes = transport.Calls("Write");
        const auto c = std::ranges::find(writes, sector, [](const Call& c) { return c.args[2]; });
        return c == writes.end() ? std::vector<uint8_t>{} : c->data;
    }
};

} // namespace ufd::test
