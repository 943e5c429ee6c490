#include "monitor/rack_watch.h"

#include <gtest/gtest.h>

#include <deque>
#include <initializer_list>
#include <vector>

namespace ufd {
namespace {

PluggedStates Plugged(std::initializer_list<int> indexes) {
    PluggedStates states{};
    for (const int index : indexes) {
        states[index] = true;
    }
    return states;
}

// Readings in order; an empty optional is an unreadable rack.
class ScriptedRack final : public PluggedStateSource {
public:
    explicit ScriptedRack(std::vector<std::optional<PluggedStates>> readings)
        : readings_(readings.begin(), readings.end()) {}
    std::optional<PluggedStates> Read() override {
        if (!readings_.empty()) {
            last_ = readings_.front();
            readings_.pop_front();
        }
        return last_;
    }

private:
    std::deque<std::optional<PluggedStates>> readings_;
    std::optional<PluggedStates> last_;
};

TEST(RackWatch, PollsJudgeAgainstTheLastReadableStates) {
    using Kinds = std::vector<std::optional<NoticeKind>>;
    const auto none = std::optional<NoticeKind>();
    struct Case {
        std::vector<std::optional<PluggedStates>> readings; // the first one at Start
        Kinds notices;
    };
    const Case cases[] = {
        // Drives plugged before the start were found by the station itself.
        {{Plugged({1, 2}), Plugged({1, 2}), Plugged({1, 2, 5}), Plugged({2, 5})},
         {none, NoticeKind::In, NoticeKind::Out}},
        // A rack caught mid-rewrite neither pulls every drive nor hides the
        // change after it.
        {{Plugged({1}), std::nullopt, Plugged({1}), std::nullopt, Plugged({})},
         {none, none, none, NoticeKind::Out}},
        // Unreadable at start: its drives are news once it can be read.
        {{std::nullopt, std::nullopt, Plugged({4}), Plugged({4})}, {none, NoticeKind::In, none}},
        // A swap between two polls must still release the pulled drive; the
        // first and last indexes count like any other.
        {{Plugged({1}), Plugged({2}), Plugged({0, 2, 16}), Plugged({})},
         {NoticeKind::Out, NoticeKind::In, NoticeKind::Out}},
    };
    for (const Case& c : cases) {
        ScriptedRack rack(c.readings);
        RackWatch watch(rack);
        watch.Start();
        Kinds got;
        for (size_t i = 1; i < c.readings.size(); ++i) {
            got.push_back(watch.Poll());
        }
        EXPECT_EQ(got, c.notices);
    }
}

} // namespace
} // namespace ufd
