#include "monitor/rack_watch.h"

#include <gtest/gtest.h>

#include <deque>
#include <initializer_list>
#include <string>
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

struct RackCase {
    const char* name;
    PluggedStates before;
    PluggedStates after;
    std::optional<NoticeKind> expected;
};

class RackComparison : public ::testing::TestWithParam<RackCase> {};

TEST_P(RackComparison, NamesTheChange) {
    const auto kind = CompareRack(GetParam().before, GetParam().after);
    ASSERT_EQ(kind.has_value(), GetParam().expected.has_value());
    if (kind) {
        EXPECT_EQ(NoticeText(*kind), NoticeText(*GetParam().expected));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Racks, RackComparison,
    ::testing::Values(RackCase{"Unchanged", Plugged({1, 3}), Plugged({1, 3}), std::nullopt},
                      RackCase{"EmptyRack", Plugged({}), Plugged({}), std::nullopt},
                      RackCase{"OnePlugged", Plugged({1}), Plugged({1, 2}), NoticeKind::In},
                      RackCase{"LastIndexPlugged", Plugged({}), Plugged({16}), NoticeKind::In},
                      RackCase{"FirstIndexPulled", Plugged({0}), Plugged({}), NoticeKind::Out},
                      RackCase{"OnePulled", Plugged({1, 2}), Plugged({1}), NoticeKind::Out},
                      RackCase{"SwappedBetweenPolls", Plugged({1}), Plugged({2}), NoticeKind::Out}),
    [](const ::testing::TestParamInfo<RackCase>& info) { return std::string(info.param.name); });

// Readings in order; an empty optional is an unreadable rack.
class ScriptedRack final : public PluggedStateSource {
public:
    explicit ScriptedRack(std::vector<std::optional<PluggedStates>> readings)
        : readings_(readings.begin(), readings.end()) {}
    std::optional<PluggedStates> Read() override {
        if (readings_.empty()) {
            return last_;
        }
        last_ = readings_.front();
        readings_.pop_front();
        return last_;
    }

private:
    std::deque<std::optional<PluggedStates>> readings_;
    std::optional<PluggedStates> last_;
};

TEST(RackWatch, DrivesPluggedBeforeTheStartAreNotNews) {
    ScriptedRack rack({Plugged({1, 2}), Plugged({1, 2}), Plugged({1, 2, 5}), Plugged({2, 5})});
    RackWatch watch(rack);
    watch.Start();
    EXPECT_FALSE(watch.Poll());
    EXPECT_EQ(watch.Poll(), NoticeKind::In);
    EXPECT_EQ(watch.Poll(), NoticeKind::Out);
}

TEST(RackWatch, AnUnreadablePollChangesNothing) {
    // A rack file caught mid-rewrite must neither look like every drive
    // pulled nor lose the change that comes after it.
    ScriptedRack rack({Plugged({1}), std::nullopt, Plugged({1}), std::nullopt, Plugged({})});
    RackWatch watch(rack);
    watch.Start();
    EXPECT_FALSE(watch.Poll());
    EXPECT_FALSE(watch.Poll());
    EXPECT_FALSE(watch.Poll());
    EXPECT_EQ(watch.Poll(), NoticeKind::Out);
}

TEST(RackWatch, ARackUnreadableAtStartAnnouncesItsDrivesOnceReadable) {
    ScriptedRack rack({std::nullopt, std::nullopt, Plugged({4}), Plugged({4})});
    RackWatch watch(rack);
    watch.Start();
    EXPECT_FALSE(watch.Last());
    EXPECT_FALSE(watch.Poll());
    EXPECT_EQ(watch.Poll(), NoticeKind::In);
    EXPECT_FALSE(watch.Poll());
}

} // namespace
} // namespace ufd
