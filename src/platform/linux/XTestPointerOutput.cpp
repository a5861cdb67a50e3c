#include "platform/linux/XTestPointerOutput.h"

#include "platform/linux/DesktopLayout.h"

#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <sys/uio.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace oru {

namespace {

// The XTEST extension as XCB looks it up (the name the server knows it by).
xcb_extension_t xtestExtension = {"XTEST", 0};

// XTEST's FakeInput request (protocol 2.2): 36 bytes, the first two (major
// and minor opcode) and the length filled in by xcb_send_request.
constexpr std::uint8_t kFakeInputOpcode = 2;
struct FakeInputRequest {
    std::uint8_t majorOpcode;
    std::uint8_t minorOpcode;
    std::uint16_t length;
    std::uint8_t type;    // MotionNotify, ButtonPress or ButtonRelease
    std::uint8_t detail;  // motion: 0 = absolute; button: its number
    std::uint16_t pad0;
    std::uint32_t time;   // delay before the event, ms; 0 = at once
    std::uint32_t root;   // 0 = the root of the screen the pointer is on
    std::uint32_t pad1[2];
    std::int16_t rootX;
    std::int16_t rootY;
    std::uint8_t pad2[7];
    std::uint8_t deviceId;  // 0: the core pointer
};
static_assert(sizeof(FakeInputRequest) == 36, "XTEST FakeInput is 36 bytes on the wire");

constexpr std::uint8_t kButtonLeft = 1;
constexpr std::uint8_t kButtonRight = 3;

// origin + point in 64 bits (no int overflow), clipped to [0, sizePx - 1].
int clipToDesktop(int originPx, int pointPx, int sizePx)
{
    const std::int64_t rootPx = std::int64_t{originPx} + pointPx;
    return static_cast<int>(std::clamp<std::int64_t>(rootPx, 0, sizePx - 1));
}

} // namespace

void XTestPointerOutput::ConnectionCloser::operator()(xcb_connection_t* connection) const
{
    // A round trip first: the server has then acted on every event sent (a
    // release at the program's end), which a disconnect alone doesn't wait for.
    if (!xcb_connection_has_error(connection)) {
        std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
    }
    xcb_disconnect(connection);
}

XTestPointerOutput::XTestPointerOutput(const char* displayName, int originXPx, int originYPx)
    : originXPx_(originXPx), originYPx_(originYPx)
{
    int screenNumber = 0;
    connection_.reset(xcb_connect(displayName, &screenNumber));
    // xcb_connect returns an object in the error state, never null, when it fails.
    if (xcb_connection_has_error(connection_.get())) {
        const char* shownName = displayName ? displayName : std::getenv("DISPLAY");
        throw std::runtime_error(std::string("Cannot open X display '") + (shownName ? shownName : "") +
                                 "': start the driver inside an X11 session (DISPLAY must be set)");
    }
    xcb_connection_t* const c = connection_.get();
    const xcb_query_extension_reply_t* xtest = xcb_get_extension_data(c, &xtestExtension);
    if (!xtest || !xtest->present) {
        throw std::runtime_error("The X server has no XTest extension: the driver cannot move the pointer. "
                                 "Enable XTest in the X server configuration");
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber && screens.rem > 1; ++i) xcb_screen_next(&screens);
    root_ = screens.data->root;
    desktopWidthPx_ = std::max<int>(screens.data->width_in_pixels, 1);
    desktopHeightPx_ = std::max<int>(screens.data->height_in_pixels, 1);
    if (xcb_get_geometry_reply_t* geometry = xcb_get_geometry_reply(c, xcb_get_geometry(c, root_), nullptr)) {
        desktopWidthPx_ = std::max<int>(geometry->width, 1);
        desktopHeightPx_ = std::max<int>(geometry->height, 1);
        std::free(geometry);
    }
    // RandR resizes the root window when monitors come, go or change mode; the
    // server then sends ConfigureNotify to clients watching its structure.
    const std::uint32_t events = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, root_, XCB_CW_EVENT_MASK, &events);
    readPointerMapping();
}

void XTestPointerOutput::readPointerMapping()
{
    xcb_connection_t* const c = connection_.get();
    pointerMapLength_ = 0;
    pointerMapStale_ = false;
    xcb_get_pointer_mapping_reply_t* reply = xcb_get_pointer_mapping_reply(c, xcb_get_pointer_mapping(c), nullptr);
    if (!reply) return;
    const std::uint8_t* map = xcb_get_pointer_mapping_map(reply);
    pointerMapLength_ = std::min<std::size_t>(xcb_get_pointer_mapping_map_length(reply), pointerMap_.size());
    std::copy(map, map + pointerMapLength_, pointerMap_.begin());
    std::free(reply);
}

std::uint8_t XTestPointerOutput::physicalButton(std::uint8_t logical)
{
    followDesktopSize();
    if (pointerMapStale_) readPointerMapping();
    for (std::size_t i = 0; i < pointerMapLength_; ++i) {
        if (pointerMap_[i] == logical) return static_cast<std::uint8_t>(i + 1);
    }
    return logical;
}

XTestPointerOutput::~XTestPointerOutput() = default;

void XTestPointerOutput::setOrigin(int originXPx, int originYPx)
{
    originXPx_ = originXPx;
    originYPx_ = originYPx;
}

void XTestPointerOutput::followScreens(const std::vector<ScreenArea>& screens, std::size_t boardScreen)
{
    if (screens.empty()) return;
    const PointerPlacement placement = pointerPlacement(screens, boardScreen);
    setOrigin(placement.originXPx, placement.originYPx);
    // The root's ConfigureNotify may still be unread: a screen change is
    // rare, so one round trip here costs nothing the pen would notice.
    xcb_connection_t* const c = connection_.get();
    if (xcb_get_geometry_reply_t* geometry = xcb_get_geometry_reply(c, xcb_get_geometry(c, root_), nullptr)) {
        desktopWidthPx_ = std::max<int>(geometry->width, 1);
        desktopHeightPx_ = std::max<int>(geometry->height, 1);
        std::free(geometry);
    }
}

void XTestPointerOutput::followDesktopSize()
{
    // Only the root's own structure events are selected, so this queue is
    // empty but for the rare resize. A flush reads whatever the server has
    // sent by then, so looking at the queue costs no system call; a resize is
    // followed from the placement after the flush that read it.
    while (xcb_generic_event_t* event = xcb_poll_for_queued_event(connection_.get())) {
        // Sent to every client when someone (a mouse setting) changes it.
        if ((event->response_type & 0x7F) == XCB_MAPPING_NOTIFY &&
            reinterpret_cast<const xcb_mapping_notify_event_t*>(event)->request == XCB_MAPPING_POINTER) {
            pointerMapStale_ = true;
        }
        if ((event->response_type & 0x7F) == XCB_CONFIGURE_NOTIFY) {
            const auto* configure = reinterpret_cast<const xcb_configure_notify_event_t*>(event);
            if (configure->window == root_) {
                desktopWidthPx_ = std::max<int>(configure->width, 1);
                desktopHeightPx_ = std::max<int>(configure->height, 1);
            }
        }
        std::free(event);
    }
}

void XTestPointerOutput::fakeInput(std::uint8_t type, std::uint8_t detail, int rootXPx, int rootYPx)
{
    FakeInputRequest request{};
    request.type = type;
    request.detail = detail;
    request.rootX = static_cast<std::int16_t>(rootXPx);
    request.rootY = static_cast<std::int16_t>(rootYPx);
    // xcb_send_request uses the two iovecs before the request for itself.
    iovec parts[3] = {};
    parts[2].iov_base = &request;
    parts[2].iov_len = sizeof request;
    const xcb_protocol_request_t protocol = {1, &xtestExtension, kFakeInputOpcode, 1};
    // Unchecked: an error would only come back as an event, which
    // followDesktopSize drops; XTest has none for a valid core event.
    xcb_send_request(connection_.get(), 0, parts + 2, &protocol);
}

void XTestPointerOutput::setCursorPos(int xPx, int yPx)
{
    followDesktopSize();
    // Root 0: coordinates relative to the root window of the screen the
    // pointer is on, which is the only screen of a modern X display. Button
    // events need no clipping of their own: XTest presses where the pointer
    // is, and every placement that put it there was clipped.
    fakeInput(XCB_MOTION_NOTIFY, 0, clipToDesktop(originXPx_, xPx, desktopWidthPx_),
              clipToDesktop(originYPx_, yPx, desktopHeightPx_));
    xcb_flush(connection_.get());
}

void XTestPointerOutput::mouseEvent(MouseButtonEvent event, int /*dx*/, int /*dy*/)
{
    // The tip is the primary button and the side button the secondary one on
    // every account.
    const bool press = event == MouseButtonEvent::LeftDown || event == MouseButtonEvent::RightDown;
    const bool tip = event == MouseButtonEvent::LeftDown || event == MouseButtonEvent::LeftUp;
    std::uint8_t& held = tip ? heldTip_ : heldSide_;
    std::uint8_t button = held;
    if (press || !held) button = physicalButton(tip ? kButtonLeft : kButtonRight);
    held = press ? button : 0;
    fakeInput(press ? XCB_BUTTON_PRESS : XCB_BUTTON_RELEASE, button, 0, 0);
    xcb_flush(connection_.get());
}

void XTestPointerOutput::pause(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

} // namespace oru
