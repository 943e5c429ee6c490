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

// A number the table does not hold finds no row (the reasons then say
// "unknown status"); the rows it does hold are found for the docs, which
// StatusReasons.TheDocsListTheTable reads back through FindStatusCode.
TEST(StatusCodes, NumbersOutsideTheTableFindNoRow) {
    for (const int number : {0, 0x7C, 0x1F5, -11}) {
        EXPECT_EQ(FindStatusCode(number), nullptr) << number;
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
