#include "platform/linux/UinputPointerOutput.h"

#include "fakes/CountingAllocator.h"

#include <gtest/gtest.h>

#include <linux/uinput.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

namespace oru {
namespace {

// The backend writes its events into the write end of a pipe instead of
// /dev/uinput; its ioctls go to a fake that logs them as text.
class UinputPointer : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(::pipe2(ends_, O_CLOEXEC | O_NONBLOCK), 0); }
    void TearDown() override
    {
        if (ends_[0] >= 0) ::close(ends_[0]);
        if (!handedOver_ && ends_[1] >= 0) ::close(ends_[1]);
    }

    std::unique_ptr<UinputPointerOutput> make(const DesktopBox& box, int originX = 0, int originY = 0)
    {
        handedOver_ = true;
        return std::make_unique<UinputPointerOutput>(ends_[1], box, originX, originY, control());
    }

    UinputControl control()
    {
        return [this](int fd, unsigned long request, std::uintptr_t argument) {
            EXPECT_EQ(fd, ends_[1]);
            const std::string line = describe(request, argument);
            ioctls.push_back(line);
            const auto failure = failures.find(line.substr(0, line.find(' ')));
            return failure == failures.end() ? 0 : failure->second;
        };
    }

    static std::string describe(unsigned long request, std::uintptr_t argument)
    {
        // Event types, key codes and axis codes overlap (EV_KEY == ABS_Y): one table each.
        const auto name = [](const std::map<unsigned, std::string>& names, std::uintptr_t code) {
            const auto found = names.find(static_cast<unsigned>(code));
            return found == names.end() ? std::to_string(code) : found->second;
        };
        const std::map<unsigned, std::string> types = {{EV_KEY, "EV_KEY"}, {EV_ABS, "EV_ABS"}};
        const std::map<unsigned, std::string> keys = {{BTN_LEFT, "BTN_LEFT"}, {BTN_RIGHT, "BTN_RIGHT"}};
        const std::map<unsigned, std::string> axes = {{ABS_X, "ABS_X"}, {ABS_Y, "ABS_Y"}};
        switch (request) {
        case UI_SET_EVBIT: return "UI_SET_EVBIT " + name(types, argument);
        case UI_SET_KEYBIT: return "UI_SET_KEYBIT " + name(keys, argument);
        case UI_SET_ABSBIT: return "UI_SET_ABSBIT " + name(axes, argument);
        case UI_SET_PROPBIT: return "UI_SET_PROPBIT " + std::to_string(argument);
        case UI_SET_PHYS: return "UI_SET_PHYS " + std::string(reinterpret_cast<const char*>(argument));
        case UI_DEV_CREATE: return "UI_DEV_CREATE";
        case UI_DEV_DESTROY: return "UI_DEV_DESTROY";
        case UI_ABS_SETUP: {
            const auto* setup = reinterpret_cast<const uinput_abs_setup*>(argument);
            return "UI_ABS_SETUP " + name(axes, setup->code) + " " + std::to_string(setup->absinfo.minimum) + ".." +
                   std::to_string(setup->absinfo.maximum) + " res " + std::to_string(setup->absinfo.resolution) +
                   " fuzz " + std::to_string(setup->absinfo.fuzz) + " flat " + std::to_string(setup->absinfo.flat);
        }
        case UI_DEV_SETUP: {
            const auto* setup = reinterpret_cast<const uinput_setup*>(argument);
            char id[64];
            std::snprintf(id, sizeof id, "bus 0x%02x %04x:%04x ff %u", setup->id.bustype, setup->id.vendor,
                          setup->id.product, setup->ff_effects_max);
            return "UI_DEV_SETUP " + std::string(id) + " '" + std::string(setup->name) + "'";
        }
        default: return "request " + std::to_string(request);
        }
    }

    // Everything written so far, one "TYPE CODE VALUE" line per event.
    std::vector<std::string> written()
    {
        std::vector<std::string> lines;
        input_event event{};
        ssize_t got = 0;
        while ((got = ::read(ends_[0], &event, sizeof event)) == sizeof event) {
            static const std::map<std::pair<int, int>, std::string> names = {
                {{EV_ABS, ABS_X}, "ABS_X"},       {{EV_ABS, ABS_Y}, "ABS_Y"},
                {{EV_KEY, BTN_LEFT}, "BTN_LEFT"}, {{EV_KEY, BTN_RIGHT}, "BTN_RIGHT"},
                {{EV_SYN, SYN_REPORT}, "SYN_REPORT"},
            };
            const auto found = names.find({event.type, event.code});
            const std::string name = found == names.end()
                                         ? std::to_string(event.type) + ":" + std::to_string(event.code)
                                         : found->second;
            lines.push_back(name + (event.type == EV_SYN ? "" : " " + std::to_string(event.value)));
        }
        EXPECT_TRUE(got == 0 || (got < 0 && errno == EAGAIN)) << "a partial input_event in the pipe";
        return lines;
    }

    static std::vector<std::string> creation(const std::string& x, const std::string& y)
    {
        return {"UI_SET_EVBIT EV_KEY", "UI_SET_KEYBIT BTN_LEFT", "UI_SET_KEYBIT BTN_RIGHT", "UI_SET_EVBIT EV_ABS",
                "UI_SET_ABSBIT ABS_X", "UI_SET_ABSBIT ABS_Y",    "UI_ABS_SETUP ABS_X " + x,
                "UI_ABS_SETUP ABS_Y " + y, "UI_DEV_SETUP bus 0x06 0020:0002 ff 0 'oruDriver pen'", "UI_DEV_CREATE"};
    }

    int ends_[2] = {-1, -1};
    bool handedOver_ = false;
    std::vector<std::string> ioctls;
    std::map<std::string, int> failures;  // request name -> errno it fails with
};

TEST_F(UinputPointer, CreatesOneAbsolutePointerWhoseRangesCoverTheBox)
{
    struct Row {
        DesktopBox box;
        std::string x, y;
    };
    const Row rows[] = {
        {{0, 0, 1920, 1080, 4}, "0..1919 res 4 fuzz 0 flat 0", "0..1079 res 4 fuzz 0 flat 0"},
        {{-1280, -200, 3200, 1280, 5}, "-1280..1919 res 5 fuzz 0 flat 0", "-200..1079 res 5 fuzz 0 flat 0"},
        {{0, 0, 1, 0, 0}, "0..0 res 1 fuzz 0 flat 0", "0..0 res 1 fuzz 0 flat 0"},  // degenerate screen
        {{INT_MAX - 9, 0, 100, 600, 4}, std::to_string(INT_MAX - 9) + ".." + std::to_string(INT_MAX) +
                                            " res 4 fuzz 0 flat 0", "0..599 res 4 fuzz 0 flat 0"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.x);
        TearDown();
        handedOver_ = false;
        ioctls.clear();
        SetUp();
        {
            const auto pointer = make(row.box);
            EXPECT_EQ(ioctls, creation(row.x, row.y));
            ioctls.clear();
        }
        EXPECT_EQ(ioctls, std::vector<std::string>{"UI_DEV_DESTROY"});
        char byte = 0;
        EXPECT_EQ(::read(ends_[0], &byte, 1), 0) << "the node stays open after the end";
    }
}

TEST_F(UinputPointer, WritesOneFramePerPlacementAndButtonEventWithoutAllocating)
{
    // The worked stroke of the pen's state machine (tip down, a drag, tip up)
    // and a right click, on a board screen at (1920, 0) of a two-screen box.
    const auto pointer = make({0, 0, 3840, 1080, 4}, 1920, 0);
    struct Step {
        const char* call;
        std::vector<std::string> events;
    };
    const std::vector<Step> steps = {
        {"cursor 100 201", {"ABS_X 2020", "ABS_Y 201", "SYN_REPORT"}},
        {"down left", {"BTN_LEFT 1", "SYN_REPORT"}},
        {"pause 10", {}},
        {"cursor 100 201", {"ABS_X 2020", "ABS_Y 201", "SYN_REPORT"}},
        {"cursor 105 205", {"ABS_X 2025", "ABS_Y 205", "SYN_REPORT"}},
        {"cursor 120 220", {"ABS_X 2040", "ABS_Y 220", "SYN_REPORT"}},
        {"up left", {"BTN_LEFT 0", "SYN_REPORT"}},
        {"down right", {"BTN_RIGHT 1", "SYN_REPORT"}},
        {"up right", {"BTN_RIGHT 0", "SYN_REPORT"}},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.call);
        const std::string call = step.call;
        const long allocationsBefore = test::allocationCount();
        if (call.rfind("cursor ", 0) == 0) {
            int x = 0, y = 0;
            std::sscanf(step.call, "cursor %d %d", &x, &y);
            pointer->setCursorPos(x, y);
        } else if (call == "down left") {
            pointer->mouseEvent(MouseButtonEvent::LeftDown, 0, 0);
        } else if (call == "up left") {
            pointer->mouseEvent(MouseButtonEvent::LeftUp, 0, 0);
        } else if (call == "down right") {
            pointer->mouseEvent(MouseButtonEvent::RightDown, 0, 0);
        } else if (call == "up right") {
            pointer->mouseEvent(MouseButtonEvent::RightUp, 0, 0);
        } else {
            pointer->pause(10);
        }
        EXPECT_EQ(test::allocationCount(), allocationsBefore);
        EXPECT_EQ(written(), step.events);
    }
    EXPECT_TRUE(ioctls.size() == creation("", "").size()) << "no ioctl after the device is made";
}

TEST_F(UinputPointer, ClipsEveryPlacementToTheBox)
{
    struct Row {
        int originX, originY, x, y;
        int absX, absY;
    };
    // Box: two screens side by side, the right one 1280x1024 at (1920, 0).
    const DesktopBox box{0, 0, 3200, 1080, 4};
    const Row rows[] = {
        {1920, 0, 0, 0, 1920, 0},
        {1920, 0, 1279, 1023, 3199, 1023},
        {1920, 0, 1280, 1080, 3199, 1079},            // off the board screen, still in the box
        {1920, 0, 5000, 5000, 3199, 1079},            // off the box: its last pixel
        {1920, 0, -100, -7, 1820, 0},                 // onto the left screen, top edge
        {1920, 0, -5000, -5000, 0, 0},
        {1920, 0, INT_MAX, INT_MAX, 3199, 1079},      // no int overflow
        {-1920, -1080, INT_MIN, INT_MIN, 0, 0},
        {INT_MAX, INT_MAX, INT_MAX, INT_MAX, 3199, 1079},
    };
    const auto pointer = make(box);
    const auto expectPlaced = [&](const Row& row) {
        SCOPED_TRACE(std::to_string(row.originX) + "+" + std::to_string(row.x));
        pointer->setOrigin(row.originX, row.originY);
        pointer->setCursorPos(row.x, row.y);
        EXPECT_EQ(written(), (std::vector<std::string>{"ABS_X " + std::to_string(row.absX),
                                                       "ABS_Y " + std::to_string(row.absY), "SYN_REPORT"}));
    };
    for (const auto& row : rows) expectPlaced(row);
    // A screen left of and above the primary: the box starts below zero, and so does its clipping.
    pointer->recreate({-1280, -200, 3200, 1280, 4});
    for (const auto& row : {Row{0, 0, -100, -7, -100, -7}, Row{0, 0, -5000, -5000, -1280, -200}}) expectPlaced(row);
}

TEST_F(UinputPointer, RecreationReplacesTheDeviceAndClipsToTheNewBox)
{
    const auto pointer = make({0, 0, 1920, 1080, 4});
    ioctls.clear();

    pointer->recreate({0, 0, 3200, 1200, 3});
    std::vector<std::string> expected = {"UI_DEV_DESTROY"};
    const auto made = creation("0..3199 res 3 fuzz 0 flat 0", "0..1199 res 3 fuzz 0 flat 0");
    expected.insert(expected.end(), made.begin(), made.end());
    EXPECT_EQ(ioctls, expected);
    pointer->setCursorPos(3000, 1150);
    EXPECT_EQ(written(), (std::vector<std::string>{"ABS_X 3000", "ABS_Y 1150", "SYN_REPORT"}));

    // A new device the kernel refuses: nothing is written (on a device-less
    // node the bytes would read as a setup record), until a later try works.
    ioctls.clear();
    failures["UI_DEV_CREATE"] = ENOMEM;
    EXPECT_THROW(pointer->recreate({0, 0, 800, 600, 4}), UinputUnavailable);
    EXPECT_EQ(ioctls.back(), "UI_DEV_DESTROY") << "the half-made setup is dropped";
    pointer->setCursorPos(10, 10);
    pointer->mouseEvent(MouseButtonEvent::LeftDown, 10, 10);
    EXPECT_EQ(written(), std::vector<std::string>{});

    failures.clear();
    pointer->recreate({0, 0, 800, 600, 4});
    pointer->setCursorPos(5000, 10);
    EXPECT_EQ(written(), (std::vector<std::string>{"ABS_X 799", "ABS_Y 10", "SYN_REPORT"}));
}

TEST_F(UinputPointer, FollowsScreensByANewOriginAndANewDeviceOnlyForANewBox)
{
    const auto pointer = make({0, 0, 1920, 1080, 4});
    ioctls.clear();
    // The board's screen moves right of a new screen: a wider box, a new device.
    pointer->followScreens({{0, 0, 1366, 768}, {1366, 0, 1920, 1080}}, 1);
    ASSERT_FALSE(ioctls.empty());
    EXPECT_EQ(ioctls.front(), "UI_DEV_DESTROY");
    EXPECT_EQ(pointer->box().widthPx, 3286);
    pointer->setCursorPos(0, 0);
    EXPECT_EQ(written(), (std::vector<std::string>{"ABS_X 1366", "ABS_Y 0", "SYN_REPORT"}));

    // Another board among the same screens: the same box, the same device.
    ioctls.clear();
    pointer->followScreens({{0, 0, 1366, 768}, {1366, 0, 1920, 1080}}, 0);
    EXPECT_TRUE(ioctls.empty());
    pointer->setCursorPos(10, 10);
    EXPECT_EQ(written(), (std::vector<std::string>{"ABS_X 10", "ABS_Y 10", "SYN_REPORT"}));
}

TEST_F(UinputPointer, MakesOneDeviceOnceTheBoardIsKnownOverTheBoardAloneWhereTheCompositorSpansOneOutput)
{
    struct Row {
        PointerSpan span;
        std::vector<std::string> made;
        const char* firstPlacement;
    };
    auto alone = creation("0..1023 res 4 fuzz 0 flat 0", "0..767 res 4 fuzz 0 flat 0");
    alone.insert(alone.end() - 2, "UI_SET_PHYS Virtual-2");
    const Row rows[] = {
        {PointerSpan::Desktop, creation("0..2303 res 4 fuzz 0 flat 0", "0..799 res 4 fuzz 0 flat 0"), "ABS_X 1280"},
        {PointerSpan::BoardOutput, alone, "ABS_X 0"},
    };
    for (const auto& row : rows) {
        TearDown();
        SetUp();
        ioctls.clear();
        handedOver_ = true;
        UinputPointerOutput pointer(ends_[1], row.span, control());
        pointer.setCursorPos(0, 0);
        EXPECT_TRUE(ioctls.empty() && written().empty()) << "a device before the board's screen is known";
        const std::vector<ScreenArea> screens = {{0, 0, 1280, 800, 1.0, 0, "Virtual-1"},
                                                 {1280, 0, 1024, 768, 1.0, 0, "Virtual-2"}};
        pointer.followScreens(screens, 1);
        pointer.followScreens(screens, 1);
        EXPECT_EQ(ioctls, row.made);
        pointer.setCursorPos(0, 0);
        EXPECT_EQ(written(), (std::vector<std::string>{row.firstPlacement, "ABS_Y 0", "SYN_REPORT"}));
    }
}

TEST_F(UinputPointer, ALeftHandedDesktopGetsTheButtonsSwappedAndEveryReleaseItsPressCode)
{
    using E = MouseButtonEvent;
    const auto pointer = make({0, 0, 1920, 1080, 4});
    // The setting flips while the tip is down, and back while the side button is.
    pointer->setButtonsSwapped(true);
    pointer->mouseEvent(E::LeftDown, 0, 0);
    pointer->setButtonsSwapped(false);
    pointer->mouseEvent(E::LeftUp, 0, 0);
    pointer->mouseEvent(E::RightDown, 0, 0);
    pointer->setButtonsSwapped(true);
    pointer->mouseEvent(E::RightUp, 0, 0);
    pointer->mouseEvent(E::RightDown, 0, 0);
    pointer->mouseEvent(E::RightUp, 0, 0);
    std::vector<std::string> keys;
    for (const auto& line : written())
        if (line != "SYN_REPORT") keys.push_back(line);
    EXPECT_EQ(keys, (std::vector<std::string>{"BTN_RIGHT 1", "BTN_RIGHT 0", "BTN_RIGHT 1", "BTN_RIGHT 0",
                                              "BTN_LEFT 1", "BTN_LEFT 0"}));
}

TEST_F(UinputPointer, ARefusedCreationSaysWhichRequestFailedAndClosesTheNode)
{
    struct Row {
        const char* failing;
        int error;
    };
    const Row rows[] = {{"UI_SET_EVBIT", EINVAL}, {"UI_ABS_SETUP", EINVAL}, {"UI_DEV_CREATE", ENOMEM}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.failing);
        TearDown();
        handedOver_ = false;
        SetUp();
        failures = {{row.failing, row.error}};
        try {
            make({0, 0, 1920, 1080, 4});
            ADD_FAILURE() << "no error";
        } catch (const UinputUnavailable& error) {
            EXPECT_EQ(error.errorCode(), row.error);
            EXPECT_NE(std::string(error.what()).find(row.failing), std::string::npos) << error.what();
            EXPECT_NE(std::string(error.what()).find(std::strerror(row.error)), std::string::npos) << error.what();
        }
        char byte = 0;
        EXPECT_EQ(::read(ends_[0], &byte, 1), 0) << "the node stays open after a refused creation";
    }
}

TEST(UinputOpenFailure, NamesTheModuleOrTheRuleToInstall)
{
    struct Row {
        int error;
        const char* remedy;
    };
    const Row rows[] = {
        {ENOENT, "sudo modprobe uinput"},
        {ENOENT, "71-oru-uinput.rules"},
        {ENODEV, "sudo modprobe uinput"},
        {EACCES, "71-oru-uinput.rules"},
        {EPERM, "71-oru-uinput.rules"},
        {EIO, "is the kernel's uinput device node"},
    };
    for (const auto& row : rows) {
        const std::string message = uinputOpenFailure("/dev/uinput", row.error);
        EXPECT_NE(message.find("/dev/uinput (" + std::string(std::strerror(row.error)) + ")"), std::string::npos)
            << message;
        EXPECT_NE(message.find(row.remedy), std::string::npos) << message;
        EXPECT_EQ(message.find('\n'), std::string::npos) << "one line";
    }
}

TEST(UinputOpenFailure, OpeningAMissingNodeThrowsTheModuleAdvice)
{
    try {
        UinputPointerOutput::open("/nonexistent/uinput", PointerSpan::Desktop);
        ADD_FAILURE() << "opened a missing node";
    } catch (const UinputUnavailable& error) {
        EXPECT_EQ(error.errorCode(), ENOENT);
        EXPECT_NE(std::string(error.what()).find("modprobe uinput"), std::string::npos) << error.what();
    }
}

} // namespace
} // namespace oru
