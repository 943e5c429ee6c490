// A station context wired to a recording transport, with the templates built
// and slot 1 attached (handle 7): the starting point of every format test.
#pragma once

#include "format/volume.h"
#include "support/recording_transport.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace ufd::test {

inline constexpr int32_t kHandle = 7;

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
    }

    // (first sector, count) of every Write, in order.
    std::vector<std::pair<int64_t, int64_t>> Writes() const {
        std::vector<std::pair<int64_t, int64_t>> out;
        for (const Call& c : transport.Calls("Write")) {
            out.emplace_back(c.args[2], c.args[1]);
        }
        return out;
    }

    // The data of the Write at a first sector; empty when there was none.
    std::vector<uint8_t> WrittenAt(int64_t sector) const {
        for (const Call& c : transport.Calls("Write")) {
            if (c.args[2] == sector) {
                return c.data;
            }
        }
        return {};
    }
};

// Bytes [from, from + expected.size()) of data equal expected.
inline ::testing::AssertionResult BytesAt(const std::vector<uint8_t>& data, size_t from,
                                          const std::vector<uint8_t>& expected) {
    if (data.size() < from + expected.size()) {
        return ::testing::AssertionFailure() << "only " << data.size() << " bytes";
    }
    const auto [at, want] = std::mismatch(expected.begin(), expected.end(), data.begin() + from);
    if (at == expected.end()) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "byte " << from + (at - expected.begin()) << " is "
                                         << int{*want} << ", expected " << int{*at};
}

// Every byte of data in [from, to) is zero.
inline ::testing::AssertionResult ZeroFrom(const std::vector<uint8_t>& data, size_t from,
                                           size_t to) {
    return BytesAt(data, from, std::vector<uint8_t>(to - from));
}

} // namespace ufd::test
