#include "platform/linux/UinputPointerOutput.h"

#include "platform/linux/DesktopLayout.h"

#include <linux/uinput.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/ioctl.h>
#include <thread>
#include <utility>
#include <unistd.h>

namespace oru {

namespace {

// The device's version field; bump it when its capabilities change.
constexpr std::uint16_t kDeviceVersion = 1;

int clampToInt(std::int64_t value)
{
    return static_cast<int>(std::clamp<std::int64_t>(value, std::numeric_limits<int>::min(),
                                                     std::numeric_limits<int>::max()));
}

// Last pixel of an axis that starts at firstPx and spans sizePx (at least 1).
int lastPx(int firstPx, int sizePx)
{
    return clampToInt(std::int64_t{firstPx} + std::max(sizePx, 1) - 1);
}

// origin + point in 64 bits (no int overflow), clipped to the box's axis.
int clipToBox(int originPx, int pointPx, int firstPx, int sizePx)
{
    const std::int64_t desktopPx = std::int64_t{originPx} + pointPx;
    return static_cast<int>(std::clamp<std::int64_t>(desktopPx, firstPx, lastPx(firstPx, sizePx)));
}

} // namespace

std::string uinputOpenFailure(const char* path, int error)
{
    const std::string what = std::string("cannot open ") + path + " (" + std::strerror(error) + ")";
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return what + ": the kernel's uinput module is not loaded, so the pen can't move the pointer. Load it "
                      "(sudo modprobe uinput; the package loads it at every boot through "
                      "/usr/lib/modules-load.d/oru-driver.conf and gives the logged-in user the node with the udev "
                      "rule " + kUinputUdevRule + "), then start the driver again";
    case EACCES:
    case EPERM:
        return what + ", so the pen can't move the pointer: this user may not create input devices. Install the "
                      "udev rule " + kUinputUdevRule + " into /etc/udev/rules.d/ and apply it (sudo udevadm control "
                      "--reload && sudo udevadm trigger --action=change --sysname-match=uinput), then start the "
                      "driver again";
    default:
        return what + ", so the pen can't move the pointer. Check that " + path +
               " is the kernel's uinput device node";
    }
}

UinputControl kernelUinputControl()
{
    return [](int fd, unsigned long request, std::uintptr_t argument) {
        int result = 0;
        do {
            result = ::ioctl(fd, request, argument);
        } while (result < 0 && errno == EINTR);
        return result < 0 ? errno : 0;
    };
}

UinputPointerOutput::UinputPointerOutput(int fd, const DesktopBox& box, int originXPx, int originYPx,
                                         UinputControl control)
    : fd_(fd), box_(box), originXPx_(originXPx), originYPx_(originYPx), control_(std::move(control))
{
    create();
}

UinputPointerOutput::~UinputPointerOutput()
{
    // Closing the node would remove the device as well; the explicit destroy
    // makes the end visible to the compositor before the process goes.
    destroy();
}

UinputPointerOutput::UinputPointerOutput(int fd, PointerSpan span, UinputControl control)
    : fd_(fd), originXPx_(0), originYPx_(0), control_(std::move(control)), span_(span)
{
}

std::unique_ptr<UinputPointerOutput> UinputPointerOutput::open(const char* path, PointerSpan span)
{
    const int fd = ::open(path, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        throw UinputUnavailable(error, uinputOpenFailure(path, error));
    }
    return std::make_unique<UinputPointerOutput>(fd, span);
}

void UinputPointerOutput::create()
{
    const auto step = [this](const char* name, unsigned long request, std::uintptr_t argument) {
        if (const int error = control_(fd_.get(), request, argument); error != 0) {
            // A half-made setup would otherwise be taken up by the next try.
            control_(fd_.get(), UI_DEV_DESTROY, 0);
            throw UinputUnavailable(error, std::string("cannot create the virtual pointer '") + kUinputDeviceName +
                                               "' through uinput (" + name + ": " + std::strerror(error) +
                                               "), so the pen can't move the pointer. Check the kernel log "
                                               "(journalctl -k)");
        }
    };
    // Buttons and two absolute axes, nothing else: udev's input_id then tags
    // the device ID_INPUT_MOUSE (absolute axes with mouse buttons, like a
    // virtual machine's tablet), not a touchscreen (that would need
    // INPUT_PROP_DIRECT or BTN_TOUCH) and not a tablet (BTN_TOOL_PEN).
    step("UI_SET_EVBIT EV_KEY", UI_SET_EVBIT, EV_KEY);
    step("UI_SET_KEYBIT BTN_LEFT", UI_SET_KEYBIT, BTN_LEFT);
    step("UI_SET_KEYBIT BTN_RIGHT", UI_SET_KEYBIT, BTN_RIGHT);
    step("UI_SET_EVBIT EV_ABS", UI_SET_EVBIT, EV_ABS);
    step("UI_SET_ABSBIT ABS_X", UI_SET_ABSBIT, ABS_X);
    step("UI_SET_ABSBIT ABS_Y", UI_SET_ABSBIT, ABS_Y);

    // libinput maps value v of [min, max] to (v - min) / (max - min + 1) of the
    // desktop's extent: with one unit per pixel, v lands on pixel v.
    uinput_abs_setup x{};
    x.code = ABS_X;
    x.absinfo.minimum = box_.xPx;
    x.absinfo.maximum = lastPx(box_.xPx, box_.widthPx);
    x.absinfo.value = box_.xPx;
    x.absinfo.resolution = std::max(box_.unitsPerMm, 1);
    step("UI_ABS_SETUP ABS_X", UI_ABS_SETUP, reinterpret_cast<std::uintptr_t>(&x));
    uinput_abs_setup y{};
    y.code = ABS_Y;
    y.absinfo.minimum = box_.yPx;
    y.absinfo.maximum = lastPx(box_.yPx, box_.heightPx);
    y.absinfo.value = box_.yPx;
    y.absinfo.resolution = std::max(box_.unitsPerMm, 1);
    step("UI_ABS_SETUP ABS_Y", UI_ABS_SETUP, reinterpret_cast<std::uintptr_t>(&y));
    if (!box_.boundOutput.empty()) {
        step("UI_SET_PHYS", UI_SET_PHYS, reinterpret_cast<std::uintptr_t>(box_.boundOutput.c_str()));
    }

    uinput_setup setup{};
    setup.id.bustype = BUS_VIRTUAL;
    setup.id.vendor = kUinputVendorId;
    setup.id.product = kUinputProductId;
    setup.id.version = kDeviceVersion;
    std::strncpy(setup.name, kUinputDeviceName, UINPUT_MAX_NAME_SIZE - 1);
    step("UI_DEV_SETUP", UI_DEV_SETUP, reinterpret_cast<std::uintptr_t>(&setup));
    step("UI_DEV_CREATE", UI_DEV_CREATE, 0);
    created_ = true;
    toldWriteFailure_ = false;
}

void UinputPointerOutput::destroy()
{
    if (!created_) return;
    created_ = false;
    control_(fd_.get(), UI_DEV_DESTROY, 0);
}

void UinputPointerOutput::recreate(const DesktopBox& box)
{
    destroy();
    box_ = box;
    create();
}

void UinputPointerOutput::followScreens(const std::vector<ScreenArea>& screens, std::size_t boardScreen)
{
    if (screens.empty()) return;
    const PointerPlacement placement = pointerPlacement(screens, boardScreen, span_);
    if (placement.mixedScales && !std::exchange(toldMixedScales_, true)) {
        std::fprintf(stderr, "oruDriver: the screens run at different scale factors; the pen may miss the board's "
                             "screen. Give all screens the same scale in the display settings\n");
    }
    setOrigin(placement.originXPx, placement.originYPx);
    if (created_ && placement.box == box_) return;
    recreate(placement.box);
}

void UinputPointerOutput::setOrigin(int originXPx, int originYPx)
{
    originXPx_ = originXPx;
    originYPx_ = originYPx;
}

void UinputPointerOutput::writeFrame(const void* events, std::size_t bytes)
{
    // Without a device the node would take the bytes as the old-style setup
    // record (struct uinput_user_dev) instead of events.
    if (!created_) return;
    ssize_t written = 0;
    do {
        written = ::write(fd_.get(), events, bytes);
    } while (written < 0 && errno == EINTR);
    if (written == static_cast<ssize_t>(bytes) || toldWriteFailure_) return;
    toldWriteFailure_ = true;
    std::fprintf(stderr,
                 "oruDriver: writing pointer events to the uinput device failed (%s); the pen does not move the "
                 "pointer until the device is made again. Restart the driver; if this persists, check the kernel "
                 "log (journalctl -k)\n",
                 written < 0 ? std::strerror(errno) : "short write");
}

void UinputPointerOutput::setCursorPos(int xPx, int yPx)
{
    // The kernel stamps the time; it ignores ours.
    input_event frame[3]{};
    frame[0].type = EV_ABS;
    frame[0].code = ABS_X;
    frame[0].value = clipToBox(originXPx_, xPx, box_.xPx, box_.widthPx);
    frame[1].type = EV_ABS;
    frame[1].code = ABS_Y;
    frame[1].value = clipToBox(originYPx_, yPx, box_.yPx, box_.heightPx);
    frame[2].type = EV_SYN;
    frame[2].code = SYN_REPORT;
    writeFrame(frame, sizeof frame);
}

void UinputPointerOutput::mouseEvent(MouseButtonEvent event, int /*dx*/, int /*dy*/)
{
    // Like a real mouse, the press happens where the pointer is: every
    // placement that put it there was clipped.
    // A release goes out with its press's code, also when the setting
    // changed in between: the other code would leave the button held.
    const bool swapped = swapped_.load(std::memory_order_relaxed);
    input_event frame[2]{};
    frame[0].type = EV_KEY;
    switch (event) {
    case MouseButtonEvent::LeftDown: frame[0].code = tipCode_ = swapped ? BTN_RIGHT : BTN_LEFT; frame[0].value = 1; break;
    case MouseButtonEvent::LeftUp: frame[0].code = tipCode_ ? tipCode_ : BTN_LEFT; frame[0].value = 0; break;
    case MouseButtonEvent::RightDown: frame[0].code = sideCode_ = swapped ? BTN_LEFT : BTN_RIGHT; frame[0].value = 1; break;
    case MouseButtonEvent::RightUp: frame[0].code = sideCode_ ? sideCode_ : BTN_RIGHT; frame[0].value = 0; break;
    }
    frame[1].type = EV_SYN;
    frame[1].code = SYN_REPORT;
    writeFrame(frame, sizeof frame);
}

void UinputPointerOutput::pause(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

} // namespace oru
