#include "pen/SmoothPoint.h"

#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace oru {
namespace {

using Point = std::pair<double, double>;

struct SmoothingRow {
    std::string name;
    std::vector<Point> pushed;                  // after a reset, in order
    std::vector<std::optional<Point>> results;  // what each push returns
};

void PrintTo(const SmoothingRow& row, std::ostream* os) { *os << row.name; }

class SmoothingSequence : public testing::TestWithParam<SmoothingRow> {};

TEST_P(SmoothingSequence, ReturnsTheMovingAverage)
{
    const auto& row = GetParam();
    TMainFormState state;
    ASSERT_EQ(row.pushed.size(), row.results.size());
    for (std::size_t i = 0; i < row.pushed.size(); ++i) {
        const auto result = SmoothPoint(state, row.pushed[i].first, row.pushed[i].second);
        const auto& expected = row.results[i];
        ASSERT_EQ(result.has_value(), expected.has_value()) << "push " << i;
        if (expected) {
            EXPECT_DOUBLE_EQ(result->x, expected->first) << "push " << i;
            EXPECT_DOUBLE_EQ(result->y, expected->second) << "push " << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, SmoothingSequence,
    testing::Values(
        SmoothingRow{"WindowGrowsAfterReset", {{10, 10}, {20, 20}, {30, 30}}, {Point{10, 10}, Point{15, 15}, Point{20, 20}}},
        SmoothingRow{"NewestFiveFromTheSixthOn",
                     {{1, 100}, {2, 200}, {3, 300}, {4, 400}, {5, 500}, {6, 600}, {7, 700}},
                     {Point{1, 100}, Point{1.5, 150}, Point{2, 200}, Point{2.5, 250}, Point{3, 300}, Point{4, 400},
                      Point{5, 500}}},
        SmoothingRow{"XOnTheLeftEdgeIsAveraged", {{0, 7}, {10, 1}}, {Point{0, 7}, Point{5, 4}}},
        SmoothingRow{"BeyondTheRightAndBottomEdgesIsAccepted", {{5000, 9000}}, {Point{5000, 9000}}},
        SmoothingRow{"ZeroEntryEndsTheWalk", {{10, 10}, {0, 0}, {20, 20}, {30, 30}},
                     {Point{10, 10}, std::nullopt, Point{20, 20}, Point{25, 25}}},
        SmoothingRow{"NegativePointsAreSkipped", {{10, 10}, {-0.5, 50}, {50, -0.5}, {20, 20}},
                     {Point{10, 10}, std::nullopt, std::nullopt, Point{15, 15}}}),
    [](const auto& info) { return info.param.name; });

TEST(SmoothPointRejection, NegativeCoordinateLeavesHistoryAndCountAlone)
{
    TMainFormState state;
    SmoothPoint(state, 10, 20);
    const auto history = state.SmoothHistory;
    for (const Point p : {Point{-0.5, 5}, Point{5, -0.5}, Point{-1e-300, 0}}) {
        EXPECT_FALSE(SmoothPoint(state, p.first, p.second));
        EXPECT_EQ(state.SmoothCount, 1);
        EXPECT_EQ(state.SmoothHistory[0].x, history[0].x);
        EXPECT_EQ(state.SmoothHistory[1].x, history[1].x);
    }
}

TEST(SmoothPointReset, OlderEntriesStayOutOfTheAverage)
{
    TMainFormState state;
    for (int i = 0; i < 6; ++i) SmoothPoint(state, 100, 100);
    state.SmoothCount = 0;
    const auto result = SmoothPoint(state, 10, 20);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->x, 10);
    EXPECT_EQ(result->y, 20);
    // The history itself is never cleared, only moved on.
    EXPECT_EQ(state.SmoothHistory[1].x, 100);
}

TEST(SmoothPointHistory, KeepsEightEntriesNewestFirst)
{
    TMainFormState state;
    for (int i = 1; i <= 9; ++i) SmoothPoint(state, i, i * 10.0);
    for (int entry = 0; entry < kSmoothHistoryEntries; ++entry) {
        EXPECT_EQ(state.SmoothHistory[entry].x, 9 - entry);
    }
    EXPECT_EQ(state.SmoothCount, 9);
}

TEST(SmoothPointCount, SaturatesAndKeepsTheFivePointWindow)
{
    TMainFormState state;
    for (int i = 0; i < 5; ++i) SmoothPoint(state, 10, 10);
    state.SmoothCount = std::numeric_limits<std::int32_t>::max();
    const auto result = SmoothPoint(state, 60, 60);
    EXPECT_EQ(state.SmoothCount, std::numeric_limits<std::int32_t>::max());
    ASSERT_TRUE(result);
    EXPECT_DOUBLE_EQ(result->x, 20);  // (60 + 4 * 10) / 5
}

} // namespace
} // namespace oru
