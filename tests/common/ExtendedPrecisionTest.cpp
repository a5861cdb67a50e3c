#include "common/ExtendedPrecision.h"
#include "pen/PenPipeline.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

namespace oru {
namespace {

// Board points of a grid of distance pairs around the board (report units),
// computed on the calling thread.
std::vector<BoardPoint> boardPoints()
{
    std::vector<BoardPoint> points;
    for (std::int32_t a = 200; a <= 1100; a += 9) {
        for (std::int32_t b = 200; b <= 1100; b += 11) points.push_back(trilaterate(a, b));
    }
    return points;
}

int differences(const std::vector<BoardPoint>& expected, const std::vector<BoardPoint>& actual)
{
    int count = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        count += std::memcmp(&expected[i], &actual[i], sizeof(BoardPoint)) != 0;
    }
    return count;
}

// A thread that starts at 53 bits (as one made by CreateThread or the thread
// pool does on Windows) computes other board points than the main thread,
// unless it begins with useExtendedPrecision(), as the reader threads do.
TEST(ExtendedPrecision, ThreadsMatchTheMainThreadOnlyAtTheFullMantissa)
{
    ASSERT_EQ(x87PrecisionBits(), 64) << "the test program's main thread runs at reduced precision";
    const std::vector<BoardPoint> reference = boardPoints();
    struct Row {
        int startBits;
        bool useExtended;
        bool sameAsMain;
    };
    const Row rows[] = {
        {53, false, false},
        {24, false, false},
        {53, true, true},
        {24, true, true},
        {64, true, true},
    };
    for (const Row& row : rows) {
        std::vector<BoardPoint> points;
        int bitsWhenComputing = 0;
        std::thread([&] {
            setX87PrecisionBits(row.startBits);
            if (row.useExtended) useExtendedPrecision();
            bitsWhenComputing = x87PrecisionBits();
            points = boardPoints();
        }).join();
        const int different = differences(reference, points);
        if (row.sameAsMain) {
            EXPECT_EQ(bitsWhenComputing, 64) << "started at " << row.startBits;
            EXPECT_EQ(different, 0) << "started at " << row.startBits;
        } else {
            EXPECT_EQ(bitsWhenComputing, row.startBits);
            EXPECT_GT(different, 0) << "started at " << row.startBits << ": the grid can't tell the precisions apart";
        }
    }
    EXPECT_EQ(x87PrecisionBits(), 64);
}

} // namespace
} // namespace oru
