#pragma once

#include "calibration/CalibrationTexts.h"
#include "settings/StoreContents.h"

#include <functional>
#include <optional>
#include <string>

namespace oru {

/// The key of the store that holds the calibration texts, in the user's store
/// and in the machine's alike.
inline constexpr const char* kCalibrationKey = "Software\\oruDriver";

/// "Edit1_Text" ... "Edit8_Text" for edit 0..7: the stored name of each text.
std::string calibrationValueName(int edit);

/// Where the calibration the driver maps with comes from.
enum class CalibrationSource {
    Own,      // the user's store holds one (made by this user's calibration)
    Machine,  // the user has none; the machine's serves and is never saved as the user's
    None,     // neither: a calibration must run
};

/// Whether texts hold a calibration, by the first show's rule: targets 0 and 1
/// (Edit1..Edit4) not all zero. A text that isn't a decimal integer counts as
/// held: it is the user's damaged value and fails loudly where it is used.
bool holdsCalibration(const CalibrationTexts& texts);

/// The calibration chosen at the first show and the texts it maps with.
struct ChosenCalibration {
    CalibrationSource source = CalibrationSource::None;
    CalibrationTexts texts;  // the user's own for Own and None, the machine's for Machine
};

/// The user's own texts win; the machine's serve only an account without any.
/// loadMachine is asked only then, so a machine store nobody needs is never read.
ChosenCalibration chooseCalibration(const CalibrationTexts& own,
                                    const std::function<std::optional<CalibrationTexts>()>& loadMachine);

/// The calibration a store holds under kCalibrationKey, as the first show
/// would take it: a missing text reads "0". Nothing when it holds none
/// (targets 0 and 1 zero, or no key), or when a text is not a decimal integer;
/// problem then names the value and what it holds.
std::optional<CalibrationTexts> calibrationIn(const StoreContents& store, std::string& problem);

/// Why texts that hold decimal integers can't serve as a calibration by the
/// rules a completed calibration must pass: the warp's fit, then the
/// plausibility of the four board points (boardPointsPlausible). Nothing when
/// they can. English, for an administrator's stderr line.
std::optional<std::string> unusableCalibration(const CalibrationTexts& texts);

/// The calibration a store holds when it may serve every account of the
/// machine: calibrationIn, then unusableCalibration. Nothing with problem
/// empty when the store holds none; nothing with problem set (English, for an
/// administrator's stderr line) when what it holds can't serve.
std::optional<CalibrationTexts> servingCalibrationIn(const StoreContents& store, std::string& problem);

/// The line `--save-for-all-users` refuses with when user's own settings (at
/// where) give nothing to share: no calibration (problem empty, from
/// servingCalibrationIn) or one that can't serve (problem).
std::string shareRefusal(const std::string& user, const std::string& where, const std::string& problem);

/// A store holding only the calibration texts under kCalibrationKey.
StoreContents calibrationStore(const CalibrationTexts& texts);

} // namespace oru
