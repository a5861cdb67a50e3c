// oru-uhid-tracker: the emulated pen tracker as a real kernel HID device
// (/dev/uhid), driven by commands on stdin, one per line; every command
// answers one line on stdout. For shell tests in a test guest; needs root.
//
//   plug [numbered] [ids VVVV:PPPP]  plugs it in  -> "plugged /dev/hidrawN 0003:0020:0002.000K"
//   unplug                           unplugs it   -> "unplugged"
//   wait-open [MS]                   until a program has the node open -> "open" | "timeout"
//   wait-closed [MS]                 until nobody has it open          -> "closed" | "timeout"
//   report HEX                       one report, bytes as sent (with the ID when numbered) -> "sent" | "refused"
//   pen STATE A B                    a pen report: state 0..3, distances A and B in units -> "sent" | "refused"
//   quit                             unplugs and ends (so does the end of stdin)
// A malformed line or a failure answers "error ..." and the program goes on.

#include "kernel/UhidTracker.h"

#include <cctype>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using oru::emulated::UhidTracker;

std::optional<std::vector<std::uint8_t>> parseHex(const std::string& text)
{
    if (text.empty() || text.size() % 2 != 0) return std::nullopt;
    for (const char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
    return oru::emulated::bytesFromHex(text);
}

std::string answer(std::unique_ptr<UhidTracker>& tracker, const std::string& line)
{
    std::istringstream words(line);
    std::string command;
    words >> command;
    if (command == "plug") {
        if (tracker) return "error already plugged in";
        UhidTracker::Options options;
        for (std::string word; words >> word;) {
            if (word == "numbered") {
                options.numberedReports = true;
            } else if (word == "ids") {
                std::string ids;
                words >> ids;
                unsigned vendor = 0, product = 0;
                if (std::sscanf(ids.c_str(), "%4x:%4x", &vendor, &product) != 2) return "error ids need VVVV:PPPP in hex";
                options.vendorId = static_cast<std::uint16_t>(vendor);
                options.productId = static_cast<std::uint16_t>(product);
            } else {
                return "error unknown plug option " + word;
            }
        }
        tracker = std::make_unique<UhidTracker>(options);
        return "plugged " + tracker->node() + " " + tracker->identity();
    }
    if (command == "quit") {
        tracker.reset();
        return "bye";
    }
    if (!tracker) return "error not plugged in";
    if (command == "unplug") {
        tracker.reset();
        return "unplugged";
    }
    if (command == "wait-open" || command == "wait-closed") {
        int ms = 10000;
        words >> ms;
        const bool open = command == "wait-open";
        if (tracker->waitOpen(open, std::chrono::milliseconds(ms))) return open ? "open" : "closed";
        return "timeout";
    }
    if (command == "report") {
        std::string hex;
        words >> hex;
        const auto bytes = parseHex(hex);
        if (!bytes) return "error report needs its bytes in hex";
        return tracker->send(bytes->data(), bytes->size()) ? "sent" : "refused";
    }
    if (command == "pen") {
        int state = 0, a = 0, b = 0;
        if (!(words >> state >> a >> b) || state < 0 || state > 3 || a < 0 || b < 0)
            return "error pen needs STATE (0..3) and two distances";
        return tracker->send(oru::emulated::makeReport(state, a, b)) ? "sent" : "refused";
    }
    return "error unknown command " + command;
}

} // namespace

int main()
{
    std::unique_ptr<UhidTracker> tracker;
    for (std::string line; std::getline(std::cin, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::string reply;
        try {
            reply = answer(tracker, line);
        } catch (const std::exception& error) {
            reply = std::string("error ") + error.what();
        }
        std::cout << reply << std::endl;
        if (reply == "bye") return 0;
    }
    return 0;
}
