#include "device/DeviceTestSupport.h"
#include "tools/ReportRecorder.h"
#include "tools/ReplayScript.h"

#include <sstream>

namespace oru::test {
namespace {

class RecorderTest : public DeviceTest {
protected:
    ~RecorderTest() override { recorder.stop(); }

    std::vector<std::string> outLines() const
    {
        std::vector<std::string> lines;
        std::istringstream in(out.str());
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

    std::int64_t nowMicros = 5'000'000;
    std::ostringstream out;
    std::ostringstream err;
    ReportRecorder recorder{*controller, out, err, [this] { return nowMicros; }};
};

TEST_F(RecorderTest, WritesACommentLineThenOneReplayLinePerReport)
{
    plugTracker("0003:0020:0002.000A");
    ASSERT_EQ(recorder.start("2026-12-07 20:15:50 +0000"), ReportRecorder::kRecorded);

    const struct {
        std::int64_t atMicros;
        emulated::Report report;
        const char* line;
    } rows[] = {
        {5'000'000, emulated::makeReport(0, 0, 0), "report 0 00 00 00 00 00"},
        {5'012'125, emulated::makeReport(1, 1000, 700, 0xAB), "report 12.125 43 02 EB BE AB"},
        {5'250'500, emulated::makeReport(2, 16319, 255), "report 250.5 BF 01 FE 00 00"},
        {8'000'001, emulated::makeReport(3, 1, 2), "report 3000.001 C0 00 01 02 00"},
    };
    for (const auto& row : rows) {
        nowMicros = row.atMicros;
        pushTrackerReport("0003:0020:0002.000A", row.report);
        const std::size_t before = recorder.reportsWritten();
        ASSERT_TRUE(pumpUntil([&] { return recorder.reportsWritten() == before + 1; }));
    }
    const auto lines = outLines();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0].rfind("# oru-record 2026-12-07 20:15:50 +0000, pen tracker /dev/hidraw-0003:0020:0002.000A "
                             "(0003:0020:0002.000A, vendor 0020, product 0002, version 0100), input report length 6",
                             0),
              0u)
        << lines[0];
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        EXPECT_EQ(lines[i + 1], rows[i].line);
        // And oru-replay reads it back as the same report.
        const auto item = parseReplayLine(lines[i + 1]);
        const auto& report = std::get<ReplayReport>(item);
        EXPECT_EQ(report.time, rows[i].atMicros - 5'000'000);
        EXPECT_EQ(report.size, emulated::kReportDataBytes);
        EXPECT_TRUE(std::equal(rows[i].report.begin(), rows[i].report.end(), report.bytes.begin()));
    }
    EXPECT_TRUE(std::holds_alternative<ReplayBlank>(parseReplayLine(lines[0]))) << "the header is a comment";
    EXPECT_TRUE(err.str().empty());
}

TEST_F(RecorderTest, WithoutATrackerSaysSoAndFails)
{
    hid.plug("K", 0x046D, 0xC31C);
    EXPECT_EQ(recorder.start("now"), ReportRecorder::kNoPenTracker);
    EXPECT_NE(err.str().find("no pen tracker (USB HID 0020:0002)"), std::string::npos) << err.str();
    EXPECT_TRUE(out.str().empty());
}

TEST_F(RecorderTest, WithoutHidListingSaysWhyAndFails)
{
    hid.isAvailable = false;
    EXPECT_EQ(recorder.start("now"), ReportRecorder::kNoPenTracker);
    EXPECT_NE(err.str().find(hid.advice().unavailableAdvice()), std::string::npos) << err.str();
}

TEST_F(RecorderTest, WithoutReadAccessGivesThePlatformsAdviceAndFails)
{
    plugTracker("T1", HidAccess::QueryOnly);
    EXPECT_EQ(recorder.start("now"), ReportRecorder::kNoAccess);
    EXPECT_NE(err.str().find("/dev/hidraw-T1"), std::string::npos) << err.str();
    EXPECT_NE(err.str().find(hid.advice().grantAccessAdvice()), std::string::npos) << err.str();
    EXPECT_NE(err.str().find("Permission denied"), std::string::npos) << err.str();
    EXPECT_FALSE(controller->at(0).Claimed()) << "released again";
    EXPECT_TRUE(out.str().empty());
}

TEST_F(RecorderTest, TrackerThatCantBeReadIsToldOncePerPlug)
{
    plugTracker("T1")->descriptor = HidDescriptorStatus::Malformed;
    ASSERT_EQ(recorder.start("now"), ReportRecorder::kRecorded);
    hid.plug("K", 0x046D, 0xC31C);
    controller->DeviceChange();  // re-claimed: not told again
    const std::string text = err.str();
    EXPECT_NE(text.find("/dev/hidraw-T1 was found but its report descriptor is malformed"), std::string::npos) << text;
    EXPECT_EQ(text.find("oru-record", 1), std::string::npos) << "told once: " << text;
}

TEST_F(RecorderTest, UnplugAndReplugAreNotedAndRecordingGoesOn)
{
    plugTracker("T1.0001");
    ASSERT_EQ(recorder.start("now"), ReportRecorder::kRecorded);
    controller->Loaded();
    controller->runPending();

    nowMicros += 1'500'000;
    hid.unplug("T1.0001");
    controller->DeviceChange();
    nowMicros += 500'000;
    plugTracker("T1.0002");
    controller->DeviceChange();
    pushTrackerReport("T1.0002", emulated::makeReport(1, 10, 20));
    ASSERT_TRUE(pumpUntil([&] { return recorder.reportsWritten() == 1; }));

    const auto lines = outLines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1], "# 1500 pen tracker unplugged");
    EXPECT_EQ(lines[2].rfind("# 2000 pen tracker plugged in: /dev/hidraw-T1.0002", 0), 0u) << lines[2];
    EXPECT_EQ(lines[3], "report 2000 40 00 0A 14 00");
}

} // namespace
} // namespace oru::test
