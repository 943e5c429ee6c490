// Reading rack files: what is refused and how it says so.
#include "sim_fixture.h"

#include <sys/stat.h>

using quorlink::sim::RackError;
using namespace simtest;

namespace {

class RackTest : public SimTest {};

// Broken or unbounded rack files are refused at once with a message that
// says what is wrong: never a hang, a crash or memory without bound.
TEST_F(RackTest, BrokenRackFilesSayWhatIsWrong) {
    const int deep = 100000;
    std::ofstream(dir_ / "deep.json")
        << R"({"drives": [], "x": )" << std::string(deep, '[') << std::string(deep, ']') << "}";
    std::ofstream(dir_ / "huge.json") << R"({"drives": []})";
    std::filesystem::resize_file(dir_ / "huge.json", quorlink::sim::kMaxRackBytes + 1);
    ASSERT_EQ(::mkfifo((dir_ / "fifo.json").c_str(), 0600), 0);
    // rack file (or the name of one made above), part of the error
    const std::pair<const char*, const char*> cases[] = {
        {"", "not valid JSON"},
        {"[1,2]", "\"drives\" array"},
        {R"({"drives": {}})", "\"drives\" array"},
        {R"({"drives": [{"kind": "usb"}]})", "no index"},
        {R"({"drives": [{"index": 17}]})", "0 to 16"},
        {R"({"drives": [{"index": -1}]})", "0 to 16"},
        {R"({"drives": [{"index": 1}, {"index": 1}]})", "appears twice"},
        {R"({"drives": [{"index": 1, "kind": "floppy"}]})", "floppy"},
        {R"({"drives": [{"index": 1, "chips": ["0x100"]}]})", "not a byte"},
        {R"({"drives": [{"index": 1, "chips": ["zz"]}]})", "expected a number"},
        {R"({"drives": [{"index": 1, "info": [12]}]})", "info"},
        {R"({"drives": [{"index": 1, "mode": [1, 2, 3]}]})", "mode"},
        {R"({"drives": [{"index": 1, "units95": {"0-1": 3}}]})", "chip:unit"},
        {R"({"drives": [{"index": 1, "faults": [{"op": "erase"}]}]})", "erase"},
        {R"({"drives": [{"index": 1, "faults": [{"op": "tur", "effect": "explode"}]}]})",
         "explode"},
        {R"({"drives": [{"index": 1, "capacity": "lots"}]})", "capacity"},
        {R"({"drives": [{"index": 1, "latency_ms": {"0x100": 5}}]})", "0x100"},
        {"deep.json", "nests deeper than 64 levels"},
        {"huge.json", "larger than 16 MiB"},
        {"fifo.json", "not a regular file"},
        {"absent.json", "absent.json"},
    };
    for (const auto& [text, message] : cases) {
        SCOPED_TRACE(text);
        const std::string name = std::string(text).ends_with(".json") ? text : "bad.json";
        if (name == "bad.json") {
            std::ofstream(dir_ / name) << text;
        }
        try {
            quorlink::sim::loadRack(dir_ / name);
            ADD_FAILURE() << "accepted";
        } catch (const RackError& e) {
            EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
        }
    }
}

} // namespace
