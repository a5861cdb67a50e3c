#include "fakes/PenReports.h"
#include "fakes/RecordingPointerOutput.h"
#include "pen/PenPipeline.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace oru {
namespace {

// Uncalibrated pipeline: every report is decoded, nothing reaches the mouse.
struct Decoder {
    TMainFormState state;
    test::RecordingPointerOutput pointer;
    PenPipeline pipeline{state, pointer};

    void show(const std::vector<std::uint8_t>& bytes)
    {
        pipeline.ShowRead(bytes.data(), static_cast<std::uint16_t>(bytes.size()), PenTime{0});
    }
};

struct DecodingRow {
    std::vector<std::uint8_t> bytes;
    std::int32_t penState;
    std::int32_t distanceA;
    std::int32_t distanceB;
};

class ReportDecoding : public testing::TestWithParam<DecodingRow> {};

TEST_P(ReportDecoding, GivesPenStateAndBothDistances)
{
    Decoder decoder;
    decoder.show(GetParam().bytes);
    EXPECT_EQ(decoder.state.PenState, GetParam().penState);
    EXPECT_EQ(decoder.state.DistanceA, GetParam().distanceA);
    EXPECT_EQ(decoder.state.DistanceB, GetParam().distanceB);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ReportDecoding,
    testing::Values(DecodingRow{{0x41, 0x02, 0x10, 0x20}, 1, 271, 542},
                    DecodingRow{{0x81, 0x3F, 0xFF, 0xFF}, 2, 510, 16320},
                    DecodingRow{{0xC0, 0x00, 0x00, 0x00}, 3, 0, 0},
                    // The top two bits of byte 1 carry nothing.
                    DecodingRow{{0x00, 0xC5, 0x00, 0x07}, 0, 0, 5 * 255 + 7},
                    // The multiplier is 255: high 1 / low 0 and high 0 / low 255 are the same distance.
                    DecodingRow{{0x01, 0x40, 0x00, 0xFF}, 0, 255, 255},
                    // Byte 4 is kept but not decoded.
                    DecodingRow{{0x7F, 0x3F, 0xFF, 0xFF, 0xAB}, 1, 16320, 16320}));

TEST(ReportDecodingBuffer, StoresEachByteZeroExtended)
{
    Decoder decoder;
    decoder.show({0xFF, 0x80, 0x81, 0xFE, 0xAB});
    EXPECT_EQ(decoder.state.ReportBuffer, (std::array<std::int32_t, 5>{0xFF, 0x80, 0x81, 0xFE, 0xAB}));
}

TEST(ReportDecodingBuffer, ShortReportKeepsTheBytesOfTheEarlierReport)
{
    Decoder decoder;
    decoder.show({0x41});  // nothing before: the missing bytes are 0
    EXPECT_EQ(decoder.state.DistanceA, 255);
    EXPECT_EQ(decoder.state.DistanceB, 0);

    decoder.show({0x41, 0x02, 0x10, 0x20, 0x33});
    decoder.show({0x82, 0x01, 0x05});  // byte 3 (low part of B) and byte 4 stay
    EXPECT_EQ(decoder.state.PenState, 2);
    EXPECT_EQ(decoder.state.DistanceA, 2 * 255 + 0x05);
    EXPECT_EQ(decoder.state.DistanceB, 255 + 0x20);
    EXPECT_EQ(decoder.state.ReportBuffer, (std::array<std::int32_t, 5>{0x82, 0x01, 0x05, 0x20, 0x33}));

    decoder.show({});
    EXPECT_EQ(decoder.state.DistanceA, 2 * 255 + 0x05);
}

TEST(ReportDecodingBuffer, BytesPastTheFifthAreIgnoredAndNothingIsWrittenPastTheBuffer)
{
    Decoder decoder;
    TMainFormState& s = decoder.state;
    // Everything stored behind ReportBuffer, set to values a stray write would spoil.
    s.SmoothHistory.fill({12.5, 34.5});
    s.SmoothCount = 3;
    s.ScreenWidth = 1920;
    s.ScreenHeight = 1080;
    s.Warper.ResetIdentity();
    const TWarper warperBefore = s.Warper;

    std::vector<std::uint8_t> bytes(64, 0xFF);
    bytes[0] = 0x41;
    bytes[1] = 0x02;
    bytes[2] = 0x10;
    bytes[3] = 0x20;
    bytes[4] = 0x07;
    decoder.show(bytes);

    EXPECT_EQ(s.PenState, 1);
    EXPECT_EQ(s.DistanceA, 271);
    EXPECT_EQ(s.DistanceB, 542);
    EXPECT_EQ(s.ReportBuffer[4], 0x07);
    for (const auto& entry : s.SmoothHistory) {
        EXPECT_EQ(entry.x, 12.5);
        EXPECT_EQ(entry.y, 34.5);
    }
    EXPECT_EQ(s.SmoothCount, 3);
    EXPECT_EQ(s.ScreenWidth, 1920);
    EXPECT_EQ(s.ScreenHeight, 1080);
    EXPECT_EQ(s.Warper.WarpMatrix, warperBefore.WarpMatrix);
    EXPECT_EQ(s.Warper.BoardQuadX, warperBefore.BoardQuadX);
}

struct TrilaterationRow {
    int distanceA;
    int distanceB;
    double x;
    double y;
    std::int32_t rawX;
    std::int32_t rawY;
};

class Trilateration : public testing::TestWithParam<TrilaterationRow> {};

TEST_P(Trilateration, PlacesThePenOnTheBoardAndRoundsIntoRaw)
{
    const auto& row = GetParam();
    const BoardPoint board = trilaterate(row.distanceA, row.distanceB);
    EXPECT_NEAR(board.x, row.x, 0.5e-4);
    EXPECT_NEAR(board.y, row.y, 0.5e-4);

    Decoder decoder;
    const auto report = test::penReport(0, row.distanceA, row.distanceB);
    decoder.show({report.begin(), report.end()});
    EXPECT_EQ(decoder.state.RawX, row.rawX);
    EXPECT_EQ(decoder.state.RawY, row.rawY);
}

INSTANTIATE_TEST_SUITE_P(Table, Trilateration,
                         testing::Values(TrilaterationRow{0, 0, 317.0325, +317.0325, 317, 317},
                                         TrilaterationRow{300, 300, 317.0325, +102.5164, 317, 103},
                                         TrilaterationRow{500, 500, 317.0325, -386.6399, 317, -387},
                                         TrilaterationRow{1000, 800, 600.9151, -799.3129, 601, -799},
                                         TrilaterationRow{800, 1000, 33.1499, -799.3129, 33, -799},
                                         TrilaterationRow{100, 700, -61.4776, -78.8702, -61, -79}));

TEST(TrilaterationEdges, EqualDistancesPutThePenHalfwayAlongTheBaseline)
{
    for (int distance : {0, 1, 317, 318, 5000, test::kMaxPenDistance}) {
        EXPECT_DOUBLE_EQ(trilaterate(distance, distance).x, ReceiverBaseline / 2) << distance;
    }
}

TEST(TrilaterationEdges, CirclesThatDontMeetGiveAPositiveYWithoutError)
{
    // A + B < D, |A - B| > D either way, and the extremes of the report.
    for (const auto [a, b] : {std::pair{100, 200}, {2000, 100}, {100, 2000}, {test::kMaxPenDistance, 0},
                              {0, test::kMaxPenDistance}}) {
        const BoardPoint board = trilaterate(a, b);
        EXPECT_TRUE(std::isfinite(board.x)) << a << ' ' << b;
        EXPECT_GT(board.y, 0) << a << ' ' << b;
        EXPECT_LE(std::abs(board.x), 210345.0);
    }
}

TEST(TrilaterationEdges, YPassesThroughZeroWhereTheCirclesTouch)
{
    // A + B = D rounds to circles that nearly touch: |y| stays small on both sides.
    EXPECT_LT(std::abs(trilaterate(317, 317).y), 5.0);
    EXPECT_GT(trilaterate(317, 317).y, 0);
    EXPECT_LT(trilaterate(318, 318).y, 0);
}

TEST(ReportDecodingState, StateThreeIsDecodedAsThree)
{
    Decoder decoder;
    decoder.show({0xC1, 0x00, 0x00, 0x00});
    EXPECT_EQ(decoder.state.PenState, 3);
    EXPECT_EQ(decoder.state.DistanceA, 255);
}

} // namespace
} // namespace oru
