// The flash model alone, over an in-memory flash: where each kind of fake
// puts a host sector, what a dropped sector reads, what the cache hides and
// when it lets go, and a controller that stops answering.
#include "flash_model.h"
#include "support/memory_flash.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace quorlink::sim {
namespace {

// Each written sector carries its host address (+1, so no sector is zeros).
std::vector<uint8_t> Tagged(uint64_t first, uint64_t count) {
    std::vector<uint8_t> data(count * 512);
    for (uint64_t k = 0; k < count; ++k) {
        const uint64_t tag = first + k + 1;
        for (size_t at = 0; at < 512; at += 8) {
            std::memcpy(&data[k * 512 + at], &tag, 8);
        }
    }
    return data;
}

// What one sector read back says: "w<lba>" (the sector written at lba),
// "zeros", "ones", or "other".
std::string Says(std::span<const uint8_t> s) {
    uint64_t tag = 0;
    std::memcpy(&tag, s.data(), 8);
    bool same = true;
    for (size_t at = 8; at < 512 && same; at += 8) {
        same = std::memcmp(s.data(), s.data() + at, 8) == 0;
    }
    if (same && tag == 0) {
        return "zeros";
    }
    if (same && tag == ~uint64_t{0}) {
        return "ones";
    }
    return same && tag <= (uint64_t{1} << 40) ? "w" + std::to_string(tag - 1) : "other";
}

std::string ReadOne(FlashModel& m, ufd::test::MemoryFlash& store, uint64_t lba) {
    std::vector<uint8_t> s(512);
    EXPECT_TRUE(m.read(store, lba, s));
    return Says(s);
}

FlashProfile Fake(FakeKind kind, uint64_t flash, PastEnd pastEnd = PastEnd::Zeros,
                  uint64_t cache = 0) {
    FlashProfile p;
    p.flashSectors = flash;
    p.fake = kind;
    p.pastEnd = pastEnd;
    p.cacheSectors = cache;
    return p;
}

// A drive of 64 sectors over a flash of 16, written whole from the bottom up
// (one command each), then read back sector by sector.
TEST(FlashModel, EachKindOfFakeAnswersAsItShould) {
    struct Case {
        const char* name;
        FlashProfile flash;
        std::vector<std::pair<uint64_t, std::string>> reads; // lba, what it says
    };
    const Case cases[] = {
        {"good", {}, {{0, "w0"}, {15, "w15"}, {16, "w16"}, {63, "w63"}}},
        // The last writer of each flash place wins, low addresses included.
        {"wrap", Fake(FakeKind::Wrap, 16), {{0, "w48"}, {15, "w63"}, {16, "w48"}, {63, "w63"}}},
        {"limbo, zeros", Fake(FakeKind::Limbo, 16), {{0, "w0"}, {15, "w15"}, {16, "zeros"}}},
        {"limbo, ones", Fake(FakeKind::Limbo, 16, PastEnd::Ones), {{15, "w15"}, {40, "ones"}}},
        {"limbo, stale", Fake(FakeKind::Limbo, 16, PastEnd::Stale), {{3, "w3"}, {35, "w3"}}},
        {"limbo, noise", Fake(FakeKind::Limbo, 16, PastEnd::Noise), {{3, "w3"}, {20, "other"}}},
        // Past the flash: [16, 32) dropped, [32, 48) wraps, [48, 64) dropped.
        {"chain",
         Fake(FakeKind::Chain, 16),
         {{0, "w32"}, {15, "w47"}, {16, "zeros"}, {31, "zeros"}, {32, "w32"}, {50, "zeros"}}},
        {"a flash of one sector", Fake(FakeKind::Wrap, 1), {{0, "w63"}, {9, "w63"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FlashModel m(c.flash);
        ufd::test::MemoryFlash store;
        for (uint64_t lba = 0; lba < 64; ++lba) {
            ASSERT_TRUE(m.write(store, lba, Tagged(lba, 1)));
        }
        for (const auto& [lba, says] : c.reads) {
            EXPECT_EQ(ReadOne(m, store, lba), says) << "lba " << lba;
        }
        // The flash never holds more places than it has.
        if (c.flash.flashSectors != 0) {
            EXPECT_LE(store.Held(), c.flash.flashSectors);
        }
    }
}

// Noise differs at every read: a prober can never take it for a kept sector.
TEST(FlashModel, NoiseIsNeverTheSameTwice) {
    FlashModel m(Fake(FakeKind::Limbo, 8, PastEnd::Noise));
    ufd::test::MemoryFlash store;
    std::vector<uint8_t> a(4096), b(4096);
    ASSERT_TRUE(m.read(store, 8, a) && m.read(store, 8, b));
    EXPECT_NE(a, b);
}

// A wrapping fake of 16 sectors with a cache of 4: whatever sits in the cache
// reads back as written; once pushed out (oldest first) the wrap shows.
TEST(FlashModel, CacheHidesTheFakeUntilItIsPushedOut) {
    struct Case {
        const char* name;
        std::vector<std::pair<uint64_t, uint64_t>> writes; // first, count, one command each
        bool flush;
        std::vector<std::pair<uint64_t, std::string>> reads;
        uint64_t cached;
    };
    const Case cases[] = {
        {"all in the cache", {{16, 4}}, false, {{16, "w16"}, {19, "w19"}, {0, "zeros"}}, 4},
        {"the oldest pushed out",
         {{16, 6}},
         false,
         {{16, "w16"}, {0, "w16"}, {1, "w17"}, {2, "zeros"}, {21, "w21"}},
         4},
        {"a cached sector written again keeps its place",
         {{16, 4}, {16, 1}, {20, 1}},
         false,
         {{0, "w16"}, {1, "zeros"}, {17, "w17"}, {20, "w20"}},
         4},
        {"a large write passes through in order",
         {{0, 16}, {16, 16}},
         false,
         {{0, "w16"}, {11, "w27"}, {12, "w12"}, {28, "w28"}},
         4},
        {"flushed", {{16, 3}}, true, {{0, "w16"}, {2, "w18"}, {3, "zeros"}, {18, "w18"}}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FlashModel m(Fake(FakeKind::Wrap, 16, PastEnd::Zeros, 4));
        ufd::test::MemoryFlash store;
        for (const auto& [first, count] : c.writes) {
            ASSERT_TRUE(m.write(store, first, Tagged(first, count)));
        }
        if (c.flush) {
            ASSERT_TRUE(m.flush(store));
        }
        for (const auto& [lba, says] : c.reads) {
            EXPECT_EQ(ReadOne(m, store, lba), says) << "lba " << lba;
        }
        EXPECT_EQ(m.cachedSectors(), c.cached);
    }
}

// Bad sectors spoil what reaches the flash, through the cache or not.
TEST(FlashModel, BadSectorsSpoilWhatTheyKeep) {
    for (const uint64_t cache : {uint64_t{0}, uint64_t{2}}) {
        SCOPED_TRACE(cache);
        FlashProfile p;
        p.badSectors = {5, 5, 7};
        p.cacheSectors = cache;
        FlashModel m(p);
        ufd::test::MemoryFlash store;
        ASSERT_TRUE(m.write(store, 0, Tagged(0, 8)));
        ASSERT_TRUE(m.write(store, 100, Tagged(100, 4))); // pushes 0..7 out of any cache
        EXPECT_EQ(ReadOne(m, store, 4), "w4");
        EXPECT_EQ(ReadOne(m, store, 5), "other");
        EXPECT_EQ(ReadOne(m, store, 6), "w6");
        EXPECT_EQ(ReadOne(m, store, 7), "other");
    }
}

// Random writes (zeros among them) of random lengths through a small cache,
// read back against a plain copy of the drive: the cache's index, its runs
// written out and the store's runs cut at either edge (and split into cells
// of 16 sectors) all keep the last write of every sector.
TEST(FlashModel, KeepsTheLastWriteOfEverySector) {
    for (const uint64_t cache : {uint64_t{0}, uint64_t{1}, uint64_t{37}, uint64_t{300}}) {
        SCOPED_TRACE(cache);
        FlashModel m(Fake(FakeKind::Wrap, 0, PastEnd::Zeros, cache));
        ufd::test::MemoryFlash store(16);
        constexpr uint64_t kSectors = 256;
        std::vector<uint8_t> drive(kSectors * 512);
        std::mt19937_64 random(cache);
        for (int op = 0; op < 3000; ++op) {
            const uint64_t first = random() % kSectors;
            const uint64_t count = 1 + random() % std::min<uint64_t>(40, kSectors - first);
            std::vector<uint8_t> data(count * 512);
            if (random() % 4 != 0) {
                data = Tagged(first + (op + 1) * kSectors, count);
            }
            ASSERT_TRUE(m.write(store, first, data));
            std::copy(data.begin(), data.end(),
                      drive.begin() + static_cast<ptrdiff_t>(first * 512));
            if (op % 7 == 0) {
                std::vector<uint8_t> all(drive.size());
                ASSERT_TRUE(m.read(store, 0, all));
                ASSERT_TRUE(all == drive) << "after write " << op;
            }
        }
        ASSERT_TRUE(m.flush(store));
        EXPECT_EQ(m.cachedSectors(), 0u);
        std::vector<uint8_t> all(drive.size());
        ASSERT_TRUE(store.readSectors(0, all));
        EXPECT_TRUE(all == drive);
    }
}

// The cache's index on its own, a small table kept half full by random
// inserts and erases: runs of places that cross the table's end (where an
// erase's shift back must wrap) come up thousands of times.
TEST(SlotIndex, FindsExactlyWhatWasLeftAfterRandomErases) {
    SlotIndex index;
    index.reserve(8);
    std::map<uint64_t, uint64_t> kept;
    std::mt19937_64 random(11);
    for (uint64_t op = 0; op < 20000; ++op) {
        const uint64_t lba = random() % 64;
        if (kept.count(lba) != 0) {
            index.erase(lba);
            kept.erase(lba);
        } else if (kept.size() < 8) {
            index.insert(lba, op);
            kept[lba] = op;
        }
        for (uint64_t a = 0; a < 64; ++a) {
            const auto it = kept.find(a);
            ASSERT_EQ(index.find(a), it == kept.end() ? SlotIndex::kNone : it->second)
                << a << " after operation " << op;
        }
    }
}

TEST(FlashModel, NamesRoundTrip) {
    for (const char* name : {"wrap", "limbo", "chain"}) {
        FakeKind k{};
        ASSERT_TRUE(parseFakeKind(name, k));
        EXPECT_STREQ(fakeKindName(k), name);
    }
    for (const char* name : {"zeros", "ones", "stale", "noise"}) {
        PastEnd e{};
        ASSERT_TRUE(parsePastEnd(name, e));
        EXPECT_STREQ(pastEndName(e), name);
    }
    FakeKind k{};
    PastEnd e{};
    EXPECT_FALSE(parseFakeKind("wraparound", k));
    EXPECT_FALSE(parsePastEnd("", e));
}

} // namespace
} // namespace quorlink::sim
