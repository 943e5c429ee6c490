#include "config/program_directory.h"

#include <gtest/gtest.h>

namespace ufd {
namespace {

TEST(ProgramDirectory, ExactlyOneTrailingSeparator) {
    const std::pair<QString, QString> cases[] = {
        {"/", "/"},
        {"/opt/station", "/opt/station/"},
        {"/opt/station/", "/opt/station/"},
        {"/opt/station//", "/opt/station/"},
        {"//", "/"},
        {"relative/dir", "relative/dir/"},
        {"/opt/st\u00e4tion", "/opt/st\u00e4tion/"},
    };
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(WithTrailingSeparator(in), out) << in.toStdString();
    }
}

} // namespace
} // namespace ufd
