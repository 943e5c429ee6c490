// The one table of status codes: what every row must hold for the tools, the
// records and the docs to name a code without doubt, and the hexadecimal
// digits every code is shown with.
#include "base/hex_digits.h"
#include "base/status_codes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

namespace ufd {
namespace {

// A number or a name given twice would show one code with another's words; a
// code outside one byte would not fit "Error Status = XX"; a reason must be
// one line of plain words (it is printed in tables and CSV cells).
TEST(StatusCodes, EveryRowHasItsOwnNumberNameAndWords) {
    std::set<std::string_view> names;
    int previous = 0;
    for (const StatusCode& code : kStatusCodes) {
        SCOPED_TRACE(std::string(code.name));
        EXPECT_TRUE(names.insert(code.name).second) << "name given twice";
        // Strictly ascending: no number is given twice either.
        EXPECT_GT(code.number, previous) << "the tools list the codes in ascending order";
        previous = code.number;
        EXPECT_TRUE(code.number > 0 && code.number <= 0xFF) << code.number;
        EXPECT_FALSE(code.name.empty());
        EXPECT_GE(code.reason.size(), 8U);
        EXPECT_TRUE(std::ranges::all_of(code.reason, [](char c) { return c >= ' ' && c <= '~'; }))
            << code.reason;
    }
}

TEST(StatusCodes, NamesAndNumbersFindTheirRows) {
    const std::pair<int, const char*> cases[] = {{0x10, "UnitRejected"},
                                                 {0x9A, "NoCapacity"},
                                                 {0xE0, "FakeCapacity"},
                                                 {0xF4, "IdentityMismatch"},
                                                 {0xFF, "ExtendedBootRecordFailed"},
                                                 {0, nullptr},
                                                 {0x7C, nullptr},
                                                 {0x1F5, nullptr},
                                                 {-11, nullptr}};
    for (const auto& [number, name] : cases) {
        const StatusCode* code = FindStatusCode(number);
        EXPECT_EQ(code ? code->name : "none", name ? name : "none") << number;
    }
}

TEST(HexDigits, UpperCasePaddedNeverCut) {
    const std::tuple<uint32_t, int, const char*> cases[] = {
        {7, 2, "07"}, {0x1234, 2, "1234"},         {0xab, 4, "00AB"},    {0xF5, 0, "F5"},
        {0, 0, "0"},  {0xFFFFFFF5, 2, "FFFFFFF5"}, {1, 10, "0000000001"}};
    for (const auto& [value, width, digits] : cases) {
        EXPECT_EQ(HexDigits(value, width), digits) << value << " width " << width;
    }
}

} // namespace
} // namespace ufd
