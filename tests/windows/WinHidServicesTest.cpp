// The HID backend on a system whose HID services are incomplete: loading from
// its own folder, whose hid.dll lacks HidP_GetCaps, and with hid.dll disabled
// (tests/windows/hid-standin/CMakeLists.txt). The driver then finds no
// device and never rescans, as without a pen tracker.

#include "platform/windows/WinHidSystem.h"

#include "device/HidDeviceController.h"
#include "fakes/TestMainThread.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace oru::test {
namespace {

TEST(WinHidServices, UnavailableWithoutEveryEntryPoint)
{
    wchar_t path[MAX_PATH];
    const std::wstring file(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
    WinHidSystem system(file.substr(0, file.find_last_of(L'\\') + 1));
    EXPECT_FALSE(system.available());
    EXPECT_TRUE(system.listInterfaces().empty());
    EXPECT_EQ(system.openMonitor(), nullptr);
    TestMainThread mainThread;
    THidDeviceController controller(system, mainThread);
    EXPECT_FALSE(controller.servicesAvailable());
    controller.DeviceChange();
    EXPECT_EQ(controller.Count(), 0u);
}

} // namespace
} // namespace oru::test
