#pragma once

#include "platform/PointerOutput.h"
#include "platform/linux/PointerBackendChoice.h"
#include "platform/linux/UniqueFd.h"

#include <atomic>
#include <cstdint>
#include <cstddef>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

namespace oru {

/// The desktop's bounding box over all screens, in the pixels the pen is
/// mapped in, and the device's resolution for it (units per millimetre).
struct DesktopBox {
    int xPx = 0;
    int yPx = 0;
    int widthPx = 1;
    int heightPx = 1;
    int unitsPerMm = 4;  // about 96 dpi
    /// The output the compositor is to bind the device to, given as the
    /// device's phys (udev's rule turns it into WL_OUTPUT); empty: none, the
    /// box is the whole desktop.
    std::string boundOutput;
    bool operator==(const DesktopBox&) const = default;
};

/// Identity of the virtual pointer as udev and the compositor see it.
inline constexpr const char* kUinputDeviceName = "oruDriver pen";
inline constexpr std::uint16_t kUinputVendorId = 0x0020;
inline constexpr std::uint16_t kUinputProductId = 0x0002;
/// The rule that gives the logged-in user /dev/uinput.
inline constexpr const char* kUinputUdevRule = "71-oru-uinput.rules";

/// One ioctl on the uinput node: request and argument as ioctl takes them
/// (a number, or the address of the request's struct); 0 or an errno.
using UinputControl = std::function<int(int fd, unsigned long request, std::uintptr_t argument)>;

/// The kernel's ioctl, retried on EINTR.
UinputControl kernelUinputControl();

/// What to tell an administrator when path can't be opened with error:
/// one English sentence naming the module or the udev rule.
std::string uinputOpenFailure(const char* path, int error);

/// /dev/uinput could not be opened or its device not be made; what() is one
/// English sentence saying what failed and how to fix it.
class UinputUnavailable : public std::runtime_error {
public:
    UinputUnavailable(int errorCode, const std::string& message)
        : std::runtime_error(message), errorCode_(errorCode) {}
    int errorCode() const { return errorCode_; }

private:
    int errorCode_;
};

/// Pointer output through a virtual input device of the kernel's uinput: an
/// absolute pointer (ABS_X, ABS_Y, BTN_LEFT, BTN_RIGHT) whose ranges cover
/// the desktop's bounding box, one pixel per unit. udev classifies such a
/// device as a mouse with absolute axes; libinput hands its values to the
/// compositor, which stretches the range over the whole desktop (mutter,
/// KWin, wlroots, X11's libinput driver) or over the one output it binds the
/// device to (weston; see PointerSpan), so a value lands on the pixel it
/// names. Positions are pixels of the board's screen; its origin in the box
/// is added and each placement is clipped to the box, as with XTest. Every
/// placement and every button event is one write ending in SYN_REPORT;
/// nothing is allocated per event.
class UinputPointerOutput final : public PointerOutput {
public:
    /// Takes fd (an open uinput node; closed at the end, also on a throw)
    /// and makes the device on it. Throws UinputUnavailable when the kernel
    /// refuses.
    UinputPointerOutput(int fd, const DesktopBox& box, int originXPx, int originYPx,
                        UinputControl control = kernelUinputControl());
    /// Removes the device (UI_DEV_DESTROY) and closes the node.
    ~UinputPointerOutput() override;
    UinputPointerOutput(const UinputPointerOutput&) = delete;
    UinputPointerOutput& operator=(const UinputPointerOutput&) = delete;

    /// Takes fd like the above, but makes the device only at the first
    /// followScreens, once the board's screen is known: a device made for a
    /// guessed layout and made again a moment later would make the
    /// compositor take up two devices.
    UinputPointerOutput(int fd, PointerSpan span, UinputControl control = kernelUinputControl());
    /// Opens path (normally /dev/uinput) for a device made at the first
    /// followScreens. Throws UinputUnavailable naming the module or the udev
    /// rule to install.
    static std::unique_ptr<UinputPointerOutput> open(const char* path, PointerSpan span);

    /// Moves the board screen's top-left within the box (any int).
    void setOrigin(int originXPx, int originYPx);
    /// Replaces the device by one whose ranges cover box (the desktop's
    /// screens changed). Throws UinputUnavailable when the new device can't
    /// be made; the pointer then stays silent until a later call succeeds.
    void recreate(const DesktopBox& box);
    const DesktopBox& box() const { return box_; }
    /// The compositor swaps the device's buttons (a left-handed setting that
    /// covers it): the tip goes out as BTN_RIGHT and the side button as
    /// BTN_LEFT, so what arrives is the tip as the primary button. Any thread;
    /// a button keeps the code it was pressed with until its release.
    void setButtonsSwapped(bool swapped) { swapped_.store(swapped, std::memory_order_relaxed); }

    void setCursorPos(int xPx, int yPx) override;
    void mouseEvent(MouseButtonEvent event, int dx, int dy) override;
    void pause(int ms) override;
    /// Takes the board screen's origin; a new bounding box (or a new board
    /// output, where the compositor spans one) makes the device afresh
    /// (recreate), since its ranges are fixed at creation.
    void followScreens(const std::vector<ScreenArea>& screens, std::size_t boardScreen) override;

private:
    void create();
    void destroy();
    /// One frame of input_event records, SYN_REPORT last, in one write.
    void writeFrame(const void* events, std::size_t bytes);

    UniqueFd fd_;
    DesktopBox box_;
    int originXPx_;
    int originYPx_;
    UinputControl control_;
    PointerSpan span_ = PointerSpan::Desktop;
    bool created_ = false;
    bool toldMixedScales_ = false;
    std::atomic<bool> swapped_{false};
    // The code each of the pen's buttons went down with.
    std::uint16_t tipCode_ = 0;
    std::uint16_t sideCode_ = 0;
    bool toldWriteFailure_ = false;
};

} // namespace oru
