// Sense data as drives send it, both formats, and the names the trace shows.
#include "sense.h"

#include <gtest/gtest.h>

#include <vector>

namespace {
using quorlink::sg::decodeSense;
using quorlink::sg::describeSense;

struct SenseCase {
    const char* name;
    std::vector<uint8_t> bytes;
    const char* expected; // nullptr: not sense data
};

void PrintTo(const SenseCase& c, std::ostream* os) {
    *os << c.name;
}

std::vector<uint8_t> fixed(uint8_t code, uint8_t key, uint8_t asc, uint8_t ascq,
                           uint8_t additional = 10) {
    std::vector<uint8_t> b(18, 0);
    b[0] = code;
    b[2] = key;
    b[7] = additional;
    b[12] = asc;
    b[13] = ascq;
    return b;
}

class SenseTable : public ::testing::TestWithParam<SenseCase> {};

TEST_P(SenseTable, DecodesToReadableReason) {
    const auto& c = GetParam();
    const auto sense = decodeSense(c.bytes);
    if (c.expected == nullptr) {
        EXPECT_FALSE(sense.has_value());
        return;
    }
    ASSERT_TRUE(sense.has_value());
    EXPECT_EQ(describeSense(*sense), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, SenseTable,
    ::testing::Values(
        SenseCase{"FixedMediumError", fixed(0x70, 0x03, 0x11, 0x00), "MEDIUM ERROR 3/11/00"},
        SenseCase{"FixedValidBitSet", fixed(0xF0, 0x02, 0x3A, 0x00), "NOT READY 2/3A/00"},
        SenseCase{"FixedDeferred", fixed(0x71, 0x04, 0x44, 0x00), "HARDWARE ERROR 4/44/00"},
        SenseCase{"FixedFlagBitsAroundKey", fixed(0x70, 0xE7, 0x27, 0x00), "DATA PROTECT 7/27/00"},
        // An additional length of 4 stops before the ASC: the drive did not say.
        SenseCase{"FixedShortAdditional", fixed(0x70, 0x06, 0x29, 0x00, 4),
                  "UNIT ATTENTION 6/00/00"},
        SenseCase{"FixedTruncatedBuffer", {0x70, 0x00, 0x05}, "ILLEGAL REQUEST 5/00/00"},
        SenseCase{"Descriptor", {0x72, 0x02, 0x04, 0x01, 0, 0, 0, 0}, "NOT READY 2/04/01"},
        SenseCase{"DescriptorDeferred", {0x73, 0x0B, 0x47, 0x03}, "ABORTED COMMAND B/47/03"},
        SenseCase{"DescriptorKeyOnly", {0x72, 0x07}, "DATA PROTECT 7/00/00"},
        SenseCase{"ReservedKey", fixed(0x70, 0x0C, 0x00, 0x00), "SENSE KEY 0xC C/00/00"},
        SenseCase{"NotSense", {0x00, 0x03, 0x11}, nullptr},
        SenseCase{"VendorFormat", {0x7F, 0x03, 0x11, 0x00}, nullptr},
        SenseCase{"Empty", {}, nullptr}, SenseCase{"FixedTooShort", {0x70, 0x00}, nullptr},
        SenseCase{"DescriptorTooShort", {0x72}, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
