// Which calibration an account maps with: its own, the machine's, or none.

#include "app/CalibrationChoice.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace oru {
namespace {

const CalibrationTexts kZero{"0", "0", "0", "0", "0", "0", "0", "0"};
const CalibrationTexts kOwn{"100", "-150", "550", "-160", "110", "-500", "540", "-510"};
const CalibrationTexts kMachine{"90", "-140", "560", "-150", "100", "-490", "550", "-500"};
// Only Edit3 (x of target 1) set: a calibration by the first show's rule.
const CalibrationTexts kOnlyEdit3{"0", "0", "7", "0", "0", "0", "0", "0"};
// Targets 0 and 1 zero: counts as none, whatever targets 2 and 3 hold.
const CalibrationTexts kOnlyLowerTargets{"0", "0", "0", "0", "110", "-500", "540", "-510"};
// The user's damaged value stays theirs: its error shows where it is used.
const CalibrationTexts kOwnDamaged{"1.5", "0", "0", "0", "0", "0", "0", "0"};

TEST(CalibrationChoice, OwnWinsAndTheMachineServesOnlyAnAccountWithout)
{
    struct Row {
        const char* name;
        CalibrationTexts own;
        std::optional<CalibrationTexts> machine;
        CalibrationSource source;
        CalibrationTexts texts;
        bool machineAsked;
    };
    const Row rows[] = {
        {"own, machine too", kOwn, kMachine, CalibrationSource::Own, kOwn, false},
        {"own from one text", kOnlyEdit3, kMachine, CalibrationSource::Own, kOnlyEdit3, false},
        {"own damaged", kOwnDamaged, kMachine, CalibrationSource::Own, kOwnDamaged, false},
        {"none of its own, machine", kZero, kMachine, CalibrationSource::Machine, kMachine, true},
        {"lower targets only, machine", kOnlyLowerTargets, kMachine, CalibrationSource::Machine, kMachine, true},
        {"neither", kZero, std::nullopt, CalibrationSource::None, kZero, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        bool asked = false;
        const ChosenCalibration chosen = chooseCalibration(row.own, [&] {
            asked = true;
            return row.machine;
        });
        EXPECT_EQ(chosen.source, row.source);
        EXPECT_EQ(chosen.texts, row.texts);
        EXPECT_EQ(asked, row.machineAsked);
    }
}

TEST(CalibrationChoice, StoreYieldsACalibrationOnlyFromEightDecimalTexts)
{
    struct Row {
        const char* name;
        std::string file;  // the text after the key line
        std::optional<CalibrationTexts> texts;
        std::string problemMentions;  // empty: no problem
    };
    const auto lines = [](const CalibrationTexts& texts) {
        std::string file;
        for (int i = 0; i < 8; ++i) file += "\"" + calibrationValueName(i) + "\" = text \"" + texts[i] + "\"\n";
        return file;
    };
    CalibrationTexts lastNotANumber = kMachine;
    lastNotANumber[7] = "abc";
    const Row rows[] = {
        {"all eight", lines(kMachine), kMachine, ""},
        {"missing texts read 0, names in any case", "\"EDIT3_TEXT\" = text \"7\"\n", kOnlyEdit3, ""},
        {"no calibration", "\"Edit5_Text\" = text \"9\"\n", std::nullopt, ""},
        {"all zero", lines(kZero), std::nullopt, ""},
        {"non-numeric", lines(lastNotANumber), std::nullopt, "Edit8_Text"},
        {"decimal point", "\"Edit2_Text\" = text \"1.5\"\n", std::nullopt, "1.5"},
        {"blank", "\"Edit4_Text\" = text \"\"\n", std::nullopt, "Edit4_Text"},
        {"a number kind", "\"Edit1_Text\" = int 12\n", std::nullopt, "number"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::string parseProblem;
        const auto store = StoreContents::parse("[Software\\oruDriver]\n" + row.file, parseProblem);
        ASSERT_TRUE(store) << parseProblem;
        std::string problem = "left over";
        EXPECT_EQ(calibrationIn(*store, problem), row.texts);
        if (row.problemMentions.empty()) {
            EXPECT_EQ(problem, "");
        } else {
            EXPECT_NE(problem.find(row.problemMentions), std::string::npos) << problem;
        }
    }
}

TEST(CalibrationChoice, OnlyAStoredCalibrationThatWouldPassACompletedOneServesEveryAccount)
{
    struct Row {
        const char* name;
        CalibrationTexts texts;
        bool serves;
        std::string refusalMentions;  // what --save-for-all-users says instead
    };
    CalibrationTexts notANumber = kMachine;
    notANumber[5] = "x";
    const Row rows[] = {
        {"completed calibration", kMachine, true, ""},
        {"none", kZero, false, "has no calibration of their own in HOME; calibrate first"},
        {"all points alike", {"7", "7", "7", "7", "7", "7", "7", "7"}, false, "can't serve: its four board points"},
        {"three in line", {"0", "0", "100", "0", "200", "0", "300", "0"}, false, "can't serve"},
        {"not a number", notANumber, false, "in ann's settings HOME, \"Edit6_Text\" holds 'x'"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::string problem = "left over";
        const auto texts = servingCalibrationIn(calibrationStore(row.texts), problem);
        EXPECT_EQ(texts.has_value(), row.serves);
        if (row.serves) {
            EXPECT_EQ(*texts, row.texts);
            EXPECT_EQ(problem, "");
            continue;
        }
        const std::string refusal = shareRefusal("ann", "HOME", problem);
        EXPECT_NE(refusal.find(row.refusalMentions), std::string::npos) << refusal;
        EXPECT_EQ(refusal.rfind("nothing saved: ", 0), 0u) << refusal;
    }
}

TEST(CalibrationChoice, SavedStoreHoldsOnlyTheCalibrationAndReadsBack)
{
    const StoreContents store = calibrationStore(kMachine);
    ASSERT_EQ(store.keys().size(), 1u);
    EXPECT_EQ(store.keys()[0].path, kCalibrationKey);
    EXPECT_EQ(store.keys()[0].values.size(), 8u);
    std::string problem;
    const auto reread = StoreContents::parse(store.format(), problem);
    ASSERT_TRUE(reread) << problem;
    EXPECT_EQ(calibrationIn(*reread, problem), kMachine);
}

} // namespace
} // namespace oru
