// Sense data as drives send it, both formats, and the names the trace shows.
#include "sense.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<uint8_t> fixed(uint8_t code, uint8_t key, uint8_t asc, uint8_t additional = 10) {
    std::vector<uint8_t> b(18, 0);
    b[0] = code;
    b[2] = key;
    b[7] = additional;
    b[12] = asc;
    return b;
}

TEST(Sense, DecodesToReadableReason) {
    const std::pair<std::vector<uint8_t>, const char*> cases[] = {
        {fixed(0x70, 0x03, 0x11), "MEDIUM ERROR 3/11/00"},
        {fixed(0xF0, 0x02, 0x3A), "NOT READY 2/3A/00"}, // valid bit set
        {fixed(0x71, 0x04, 0x44), "HARDWARE ERROR 4/44/00"},
        {fixed(0x70, 0xE7, 0x27), "DATA PROTECT 7/27/00"}, // flag bits around the key
        // An additional length of 4 stops before the ASC: the drive did not say.
        {fixed(0x70, 0x06, 0x29, 4), "UNIT ATTENTION 6/00/00"},
        {{0x70, 0x00, 0x05}, "ILLEGAL REQUEST 5/00/00"},
        {{0x72, 0x02, 0x04, 0x01, 0, 0, 0, 0}, "NOT READY 2/04/01"},
        {{0x73, 0x0B, 0x47, 0x03}, "ABORTED COMMAND B/47/03"},
        {{0x72, 0x07}, "DATA PROTECT 7/00/00"},
        {fixed(0x70, 0x0C, 0x00), "SENSE KEY 0xC C/00/00"},
        {fixed(0x70, 0x09, 0x00), "VENDOR DEFINED 9/00/00"},
        {{0x00, 0x03, 0x11}, nullptr},
        {{0x7F, 0x03, 0x11, 0x00}, nullptr},
        {{}, nullptr},
        {{0x70, 0x00}, nullptr},
        {{0x72}, nullptr},
    };
    for (const auto& [bytes, expected] : cases) {
        const auto sense = quorlink::sg::decodeSense(bytes);
        ASSERT_EQ(sense.has_value(), expected != nullptr) << (expected ? expected : "not sense");
        if (sense) {
            EXPECT_EQ(quorlink::sg::describeSense(*sense), expected);
        }
    }
}

} // namespace
