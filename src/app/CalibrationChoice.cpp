#include "app/CalibrationChoice.h"

#include "app/MainFormState.h"
#include "calibration/CalibrationGeometry.h"
#include "common/ArithmeticError.h"
#include "common/CommandLine.h"
#include "common/FloatMath.h"

namespace oru {

std::string calibrationValueName(int edit)
{
    return calibrationEditName(edit) + "_Text";
}

bool holdsCalibration(const CalibrationTexts& texts)
{
    // Edit1..Edit4 carry x and y of targets 0 and 1.
    for (int edit = 0; edit < 4; ++edit) {
        try {
            if (textToInt(texts[edit]) != 0) return true;
        } catch (const EConvertError&) {
            return true;
        }
    }
    return false;
}

ChosenCalibration chooseCalibration(const CalibrationTexts& own,
                                    const std::function<std::optional<CalibrationTexts>()>& loadMachine)
{
    if (holdsCalibration(own)) return {CalibrationSource::Own, own};
    if (loadMachine) {
        if (auto machine = loadMachine()) return {CalibrationSource::Machine, *machine};
    }
    return {CalibrationSource::None, own};
}

std::optional<CalibrationTexts> calibrationIn(const StoreContents& store, std::string& problem)
{
    problem.clear();
    CalibrationTexts texts;
    texts.fill("0");
    for (int edit = 0; edit < 8; ++edit) {
        const std::string name = calibrationValueName(edit);
        const StoredValue* value = store.value(kCalibrationKey, name);
        if (!value) continue;
        if (value->kind == StoredKind::Number) {
            problem = "\"" + name + "\" holds a number where a text belongs";
            return std::nullopt;
        }
        try {
            textToInt(value->text);
        } catch (const EConvertError&) {
            problem = "\"" + name + "\" holds '" + printableExcerpt(value->text) + "', not a decimal integer";
            return std::nullopt;
        }
        texts[edit] = value->text;
    }
    if (!holdsCalibration(texts)) return std::nullopt;
    return texts;
}

std::optional<std::string> unusableCalibration(const CalibrationTexts& texts)
{
    std::array<float, 8> calValues{};
    try {
        // As the first show converts them.
        for (int edit = 0; edit < 8; ++edit) {
            calValues[kEditToCalValue[edit]] = static_cast<float>(textToInt(texts[edit]));
        }
        // Whether the board quad fits does not depend on the screen's size:
        // any screen's corners form a rectangle.
        TWarper warper;
        fitWarp(warper, calValues, 1920, 1080, kInsetRatio);
    } catch (const std::exception& error) {
        return std::string("its four board points can't be fitted (") + error.what() + ")";
    }
    if (!boardPointsPlausible(boardPoints(calValues))) {
        return "its four board points can't be where the board saw the four targets (two on one spot, three nearly "
               "in line, or out of order)";
    }
    return std::nullopt;
}

std::optional<CalibrationTexts> servingCalibrationIn(const StoreContents& store, std::string& problem)
{
    auto texts = calibrationIn(store, problem);
    if (!texts) return std::nullopt;
    if (const auto unusable = unusableCalibration(*texts)) {
        problem = "the calibration can't serve: " + *unusable;
        return std::nullopt;
    }
    return texts;
}

std::string shareRefusal(const std::string& user, const std::string& where, const std::string& problem)
{
    if (problem.empty()) {
        return "nothing saved: " + user + " has no calibration of their own in " + where +
               "; calibrate first (tray menu \"Kalibre\"), end the driver so that it saves, then run this again";
    }
    return "nothing saved: in " + user + "'s settings " + where + ", " + problem +
           "; calibrate again (tray menu \"Kalibre\"), end the driver, then run this again";
}

StoreContents calibrationStore(const CalibrationTexts& texts)
{
    StoreContents store;
    store.createKey(kCalibrationKey);
    for (int edit = 0; edit < 8; ++edit) {
        store.setValue(kCalibrationKey, calibrationValueName(edit), StoredValue::ofText(texts[edit]));
    }
    return store;
}

} // namespace oru
