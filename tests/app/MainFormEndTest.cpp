// Where the end's save errors go. Nobody may be at the screen at an end by
// quit signal or session end: a message box there would hold the end up for
// good, so the error goes to stderr. At "Çıkış" and while the driver runs the
// user is there and sees the box.

#include "qtui/MainForm.h"
#include "common/HandlerErrors.h"

#include "MainWindowTestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace oru {
namespace {

const char* const kStderrLine = "the settings were not saved at the end";

struct Driver : test::MainWindowSet<> {
    Driver()
    {
        const CalibrationTexts stored{"100", "-150", "550", "-160", "110", "-500", "540", "-510"};
        for (int i = 0; i < 8; ++i) store.put("Software\\oruDriver", "Edit" + std::to_string(i + 1) + "_Text",
                                               StoredValue::ofText(stored[i]));
        open();
        // The first show restores the stored calibration; a save is due from then on.
        test::pumpUntil([this] { return main->state.Calibrated == 1; });
    }
    /// The end of main().
    void end()
    {
        main->shutdown();
        close();
    }
};

TEST(MainWindowEnd, SaveErrorGoesToStderrWhenNobodyIsThereAndToABoxOtherwise)
{
    struct Row {
        const char* name;
        std::function<void(Driver&)> act;
        bool box;
    };
    const Row rows[] = {
        {"session end, then the end", [](Driver& d) { d.main->sessionEnding(); d.end(); }, false},
        {"quit signal", [](Driver& d) { d.main->setEndingUnattended(); d.main->k1Click(); d.end(); }, false},
        {"\"Çıkış\"", [](Driver& d) { d.main->k1Click(); d.end(); }, true},
        {"save after a calibration, while running", [](Driver& d) { d.main->calibrationCompleted(); }, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<std::string> boxes;
        setHandlerErrorReporter([&](const std::string& text) { boxes.push_back(text); });
        Driver driver;
        ASSERT_EQ(driver.main->state.Calibrated, 1);
        driver.store.failCreate = true;
        driver.store.failUpdate = true;

        testing::internal::CaptureStderr();
        row.act(driver);
        const std::string said = testing::internal::GetCapturedStderr();

        EXPECT_EQ(boxes.size(), row.box ? 1u : 0u);
        EXPECT_EQ(said.find(kStderrLine) != std::string::npos, !row.box) << said;
        if (driver.main) driver.end();
        setHandlerErrorReporter(nullptr);
    }
}

} // namespace
} // namespace oru
