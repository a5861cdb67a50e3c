#include "app/CalibrationChoice.h"

#include "common/ArithmeticError.h"
#include "common/CommandLine.h"
#include "common/FloatMath.h"

namespace oru {

std::string calibrationValueName(int edit)
{
    return "Edit" + std::to_string(edit + 1) + "_Text";
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
