// oru-pen-standin.exe: emulates plugged-in HID devices for the stand-in
// hid.dll and setupapi.dll (HidStandin.cpp), so that Windows programs under
// test find, open and read a pen tracker without hardware.
//
// Start it, then drive it through its standard streams: one command per line
// on stdin, one reply line on stdout per command, written once the command's
// effect is complete ("ok ..." or "error <why>"). It prints "ok ready" first.
// Programs that should see the devices need the same ORU_HID_STANDIN value
// (default "oru-hid-standin"; it names the pipes), the two DLLs in the
// system folder and, under wine, WINEDLLOVERRIDES="hid,setupapi=n,b".
//
//   plug SLOT [VID PID [VERSION [LENGTH]]]
//        Plugs a device into "USB port" SLOT (0-99): hexadecimal IDs, default
//        the pen tracker 0020 0002 version 0100; LENGTH is the input report
//        length with the report-ID byte, default 6 (ID 0 + 5 data bytes).
//        Re-plugging the same IDs into the same slot gives the same path, as
//        Windows does, with a new arrival time. Reply: "ok plugged PATH".
//   unplug SLOT
//        Unplugs it: its open handles break (pending reads fail), it leaves
//        the device list. Reply: "ok unplugged".
//   pen SLOT STATE A B [COUNT [INTERVAL_MS]]
//        Sends COUNT (default 1) pen reports, INTERVAL_MS (default 0) apart:
//        report ID 0, pen state STATE (0 up, 1 tip/left, 2 right, 3) and the
//        distances A and B (0-16320, coded high*255 + low). Nothing is sent
//        but what is asked for. Reply: "ok sent N", N the handles the last
//        report reached (0: nobody has the device open).
//   report SLOT BYTE...
//        Sends one raw report (hexadecimal bytes, report-ID byte first).
//        Reply as for pen.
//   handles SLOT
//        "ok handles N": the handles open on the device now (the driver's
//        reader holds one while it reads; brief query opens come and go).
//   quit (or the end of stdin)
//        Unplugs everything and ends.
//
// Every plug and unplug posts WM_DEVICECHANGE with DBT_DEVNODES_CHANGED to
// all top-level windows, as Windows does when device nodes change.
// The device list is served on the pipe \\.\pipe\<ORU_HID_STANDIN> to the
// setupapi stand-in; each device is a message pipe whose every open handle
// receives a copy of each report, as the HID class driver's handles do.

#include "StandinProtocol.h"

#include <windows.h>
#include <dbt.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace oru::standin;

namespace {

std::string narrowAscii(const std::wstring& text) { return std::string(text.begin(), text.end()); }

// Spare instances waiting for clients. A client's open takes one; one that
// finds none fails with ERROR_PIPE_BUSY, which no HID device gives, so there
// are enough for a burst of opens (a rescan's query, access and capability
// opens, a reader's) while this thread is still re-arming the last ones.
constexpr int kListeners = 16;

class EmulatedDevice {
public:
    EmulatedDevice(const DeviceIds& ids, DWORD devInst, ULONGLONG arrival)
        : ids_(ids), path_(devicePath(ids)), devInst_(devInst), arrival_(arrival),
          stop_(::CreateEventW(nullptr, TRUE, FALSE, nullptr))
    {
        // Listed and announced only once it can be opened: a program that
        // rescans at the announcement must find it.
        const HANDLE listening = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        listener_ = std::thread([this, listening] { listen(listening); });
        ::WaitForSingleObject(listening, INFINITE);
        ::CloseHandle(listening);
    }

    ~EmulatedDevice()
    {
        ::SetEvent(stop_);
        listener_.join();
        const std::lock_guard lock(mutex_);
        for (HANDLE instance : connected_) {
            ::DisconnectNamedPipe(instance);
            ::CloseHandle(instance);
        }
        ::CloseHandle(stop_);
    }

    const std::wstring& path() const { return path_; }
    DWORD devInst() const { return devInst_; }
    ULONGLONG arrival() const { return arrival_; }

    // Writes one report to every open handle; the count it reached.
    int send(const std::vector<unsigned char>& report)
    {
        const std::lock_guard lock(mutex_);
        int reached = 0;
        for (auto it = connected_.begin(); it != connected_.end();) {
            if (write(*it, report)) {
                ++reached;
                ++it;
            } else {
                drop(*it);
                it = connected_.erase(it);
            }
        }
        return reached;
    }

    int handles()
    {
        const std::lock_guard lock(mutex_);
        for (auto it = connected_.begin(); it != connected_.end();) {
            DWORD available = 0;
            if (::PeekNamedPipe(*it, nullptr, 0, nullptr, &available, nullptr)) {
                ++it;
            } else {
                drop(*it);
                it = connected_.erase(it);
            }
        }
        return static_cast<int>(connected_.size());
    }

private:
    static void drop(HANDLE instance)
    {
        ::DisconnectNamedPipe(instance);
        ::CloseHandle(instance);
    }

    static bool write(HANDLE instance, const std::vector<unsigned char>& report)
    {
        OVERLAPPED overlapped{};
        overlapped.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        DWORD written = 0;
        bool done = ::WriteFile(instance, report.data(), static_cast<DWORD>(report.size()), nullptr, &overlapped);
        if (!done && ::GetLastError() == ERROR_IO_PENDING) {
            // A handle nobody reads fills its buffer: give it up after a while.
            if (::WaitForSingleObject(overlapped.hEvent, 2000) != WAIT_OBJECT_0) ::CancelIoEx(instance, &overlapped);
            done = true;
        }
        if (done) done = ::GetOverlappedResult(instance, &overlapped, &written, TRUE) && written == report.size();
        ::CloseHandle(overlapped.hEvent);
        return done;
    }

    struct Listener {
        HANDLE instance = INVALID_HANDLE_VALUE;
        HANDLE event = nullptr;
        OVERLAPPED overlapped{};
    };

    bool startListening(Listener& listener)
    {
        listener.instance = ::CreateNamedPipeW(path_.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                               PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                                               PIPE_UNLIMITED_INSTANCES, 64 * 1024, 64 * 1024, 0, nullptr);
        if (listener.instance == INVALID_HANDLE_VALUE) return false;
        while (true) {
            listener.overlapped = {};
            ::ResetEvent(listener.event);
            listener.overlapped.hEvent = listener.event;
            if (::ConnectNamedPipe(listener.instance, &listener.overlapped)) return true;
            const DWORD error = ::GetLastError();
            if (error == ERROR_IO_PENDING) return true;
            if (error == ERROR_PIPE_CONNECTED) {
                ::SetEvent(listener.event);
                return true;
            }
            // A client that opened and closed again before we listened
            // (a quick query): free the instance and listen again.
            if (error != ERROR_NO_DATA || !::DisconnectNamedPipe(listener.instance)) {
                ::CloseHandle(listener.instance);
                listener.instance = INVALID_HANDLE_VALUE;
                ::SetLastError(error);
                return false;
            }
        }
    }

    void listen(HANDLE listening)
    {
        Listener listeners[kListeners];
        HANDLE events[kListeners + 1] = {stop_};
        for (int i = 0; i < kListeners; ++i) {
            listeners[i].event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
            events[i + 1] = listeners[i].event;
            if (!startListening(listeners[i])) {
                std::cerr << "oru-pen-standin: cannot serve " << narrowAscii(path_) << ": error " << ::GetLastError()
                          << '\n';
            }
        }
        ::SetEvent(listening);
        while (true) {
            const DWORD waited = ::WaitForMultipleObjects(kListeners + 1, events, FALSE, INFINITE);
            if (waited == WAIT_OBJECT_0 || waited == WAIT_FAILED) break;
            Listener& listener = listeners[waited - WAIT_OBJECT_0 - 1];
            DWORD ignored = 0;
            if (::GetOverlappedResult(listener.instance, &listener.overlapped, &ignored, FALSE) ||
                ::GetLastError() == ERROR_PIPE_CONNECTED) {
                const std::lock_guard lock(mutex_);
                connected_.push_back(listener.instance);
            } else {
                ::CloseHandle(listener.instance);
            }
            startListening(listener);
        }
        for (Listener& listener : listeners) {
            if (listener.instance != INVALID_HANDLE_VALUE) {
                ::CancelIoEx(listener.instance, &listener.overlapped);
                DWORD ignored = 0;
                ::GetOverlappedResult(listener.instance, &listener.overlapped, &ignored, TRUE);
                ::CloseHandle(listener.instance);
            }
            ::CloseHandle(listener.event);
        }
    }

    DeviceIds ids_;
    std::wstring path_;
    DWORD devInst_;
    ULONGLONG arrival_;
    HANDLE stop_;
    std::thread listener_;
    std::mutex mutex_;
    std::vector<HANDLE> connected_;
};

class Standin {
public:
    Standin() { control_ = std::thread([this] { serveList(); }); }

    std::string plug(const DeviceIds& ids)
    {
        if (ids.slot > 99 || ids.inputReportLength == 0) return "error slot must be 0-99 and length at least 1";
        {
            const std::lock_guard lock(mutex_);
            if (devices_.count(ids.slot)) return "error slot " + std::to_string(ids.slot) + " is taken";
        }
        FILETIME now{};
        ::GetSystemTimeAsFileTime(&now);
        const ULONGLONG time = (ULONGLONG{now.dwHighDateTime} << 32) | now.dwLowDateTime;
        lastArrival_ = std::max(time, lastArrival_ + 1);
        auto device = std::make_unique<EmulatedDevice>(ids, 0x100 + ids.slot, lastArrival_);
        const std::string path = narrowAscii(device->path());
        {
            const std::lock_guard lock(mutex_);
            devices_[ids.slot] = std::move(device);
        }
        announce();
        return "ok plugged " + path;
    }

    std::string unplug(unsigned slot)
    {
        std::unique_ptr<EmulatedDevice> device;
        {
            const std::lock_guard lock(mutex_);
            const auto it = devices_.find(slot);
            if (it == devices_.end()) return "error nothing in slot " + std::to_string(slot);
            device = std::move(it->second);
            devices_.erase(it);
        }
        device.reset();  // breaks its handles
        announce();
        return "ok unplugged";
    }

    EmulatedDevice* device(unsigned slot)
    {
        const std::lock_guard lock(mutex_);
        const auto it = devices_.find(slot);
        return it == devices_.end() ? nullptr : it->second.get();
    }

    void unplugAll()
    {
        std::vector<unsigned> slots;
        {
            const std::lock_guard lock(mutex_);
            for (const auto& [slot, device] : devices_) slots.push_back(slot);
        }
        for (unsigned slot : slots) unplug(slot);
    }

private:
    static void announce()
    {
        // What Windows broadcasts when device nodes come or go.
        ::PostMessageW(HWND_BROADCAST, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
    }

    std::string listText()
    {
        const std::lock_guard lock(mutex_);
        std::string text;
        for (const auto& [slot, device] : devices_) {
            text += std::to_string(device->devInst()) + ' ' + std::to_string(device->arrival()) + ' ' +
                    narrowAscii(device->path()) + '\n';
        }
        return text;
    }

    void serveList()
    {
        const std::wstring path = controlPipePath();
        while (true) {
            const HANDLE pipe = ::CreateNamedPipeW(path.c_str(), PIPE_ACCESS_DUPLEX,
                                                   PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                                                   PIPE_UNLIMITED_INSTANCES, 64 * 1024, 64 * 1024, 0, nullptr);
            if (pipe == INVALID_HANDLE_VALUE) {
                std::cerr << "oru-pen-standin: cannot serve " << narrowAscii(path) << ": error " << ::GetLastError()
                          << '\n';
                setReady(false);
                return;
            }
            setReady(true);
            if (::ConnectNamedPipe(pipe, nullptr) || ::GetLastError() == ERROR_PIPE_CONNECTED) {
                char request[64];
                DWORD got = 0;
                if (::ReadFile(pipe, request, sizeof request, &got, nullptr)) {
                    const std::string reply = listText();
                    DWORD written = 0;
                    ::WriteFile(pipe, reply.data(), static_cast<DWORD>(reply.size()), &written, nullptr);
                    ::FlushFileBuffers(pipe);
                }
            }
            ::DisconnectNamedPipe(pipe);
            ::CloseHandle(pipe);
        }
    }

    void setReady(bool serving)
    {
        {
            const std::lock_guard lock(readyMutex_);
            if (ready_) return;
            ready_ = true;
            serving_ = serving;
        }
        readyEvent_.notify_all();
    }

public:
    /// Whether the device list is served (false: the control pipe can't be made).
    bool waitReady()
    {
        std::unique_lock lock(readyMutex_);
        readyEvent_.wait(lock, [this] { return ready_; });
        return serving_;
    }

private:
    std::mutex mutex_;
    std::map<unsigned, std::unique_ptr<EmulatedDevice>> devices_;
    ULONGLONG lastArrival_ = 0;
    std::thread control_;
    bool ready_ = false;
    bool serving_ = false;
    std::mutex readyMutex_;
    std::condition_variable readyEvent_;
};

// The pen tracker's report: ID 0, then the pen state in the top two bits of
// data byte 0, the distances' high parts (6 bits) in bytes 0 and 1 and their
// low parts in bytes 2 and 3, each distance high * 255 + low.
std::vector<unsigned char> penReport(unsigned state, unsigned distanceA, unsigned distanceB, std::size_t length)
{
    const auto high = [](unsigned distance) { return std::min(distance / 255u, 63u); };
    std::vector<unsigned char> report(std::max<std::size_t>(length, 5), 0);
    report[1] = static_cast<unsigned char>((state & 3u) << 6 | high(distanceA));
    report[2] = static_cast<unsigned char>(high(distanceB));
    report[3] = static_cast<unsigned char>(distanceA - high(distanceA) * 255u);
    report[4] = static_cast<unsigned char>(distanceB - high(distanceB) * 255u);
    return report;
}

std::string run(Standin& standin, const std::string& line, bool& quit)
{
    std::istringstream words(line);
    std::string command;
    words >> command;
    if (command.empty()) return "error empty command";
    if (command == "quit") {
        quit = true;
        return "ok quit";
    }
    unsigned slot = 0;
    if (!(words >> slot)) return "error " + command + " needs a slot number";
    if (command == "plug") {
        DeviceIds ids{0x0020, 0x0002, 0x0100, 6, slot};
        // Each value is optional; a failed extraction would store 0.
        unsigned value = 0;
        if (words >> std::hex >> value) ids.vendorId = value;
        if (words >> std::hex >> value) ids.productId = value;
        if (words >> std::hex >> value) ids.version = value;
        if (words >> std::dec >> value) ids.inputReportLength = value;
        return standin.plug(ids);
    }
    if (command == "unplug") return standin.unplug(slot);
    EmulatedDevice* device = standin.device(slot);
    if (!device) return "error nothing in slot " + std::to_string(slot);
    if (command == "handles") return "ok handles " + std::to_string(device->handles());
    std::vector<unsigned char> report;
    unsigned count = 1, intervalMs = 0;
    if (command == "pen") {
        unsigned state = 0, distanceA = 0, distanceB = 0;
        if (!(words >> state >> distanceA >> distanceB) || state > 3 || distanceA > 16320 || distanceB > 16320) {
            return "error pen SLOT STATE(0-3) A B(0-16320) [COUNT [INTERVAL_MS]]";
        }
        unsigned value = 0;
        if (words >> value) count = value;
        if (words >> value) intervalMs = value;
        DeviceIds ids;
        parseDeviceName(device->path(), ids);
        report = penReport(state, distanceA, distanceB, ids.inputReportLength);
    } else if (command == "report") {
        unsigned byte = 0;
        while (words >> std::hex >> byte) report.push_back(static_cast<unsigned char>(byte));
        if (report.empty()) return "error report SLOT BYTE...";
    } else {
        return "error unknown command " + command;
    }
    int reached = 0;
    for (unsigned i = 0; i < count; ++i) {
        if (i > 0 && intervalMs > 0) ::Sleep(intervalMs);
        reached = device->send(report);
    }
    return "ok sent " + std::to_string(reached);
}

} // namespace

int main()
{
    std::ios::sync_with_stdio(false);
    Standin standin;
    if (!standin.waitReady()) {
        std::cout << "error cannot serve the device list" << std::endl;
        ::ExitProcess(1);
    }
    std::cout << "ok ready" << std::endl;
    std::string line;
    bool quit = false;
    while (!quit && std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::cout << run(standin, line, quit) << std::endl;
    }
    standin.unplugAll();
    std::cout.flush();
    // The list server's thread waits for clients for ever.
    ::ExitProcess(0);
}
