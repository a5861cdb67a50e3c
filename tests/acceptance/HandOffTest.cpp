// The hand-off before the mouse is taken (PenSession::handOff) against a
// stand-in for the driver that reads the emulated tracker's node and places
// the X pointer at the average of the last five reports it read, as the
// driver does. While the script is held up between two steps (a busy
// machine), the tracker repeats the previous step on its beat; the hand-off
// must expect the point those repeats lead to, not the average of its steps.

// First: Xlib's macros (None) would break it.
#include <gtest/gtest.h>

#include "harness/BoardModel.h"
#include "harness/PenSession.h"
#include "harness/TrackerTestbed.h"
#include "harness/XScreen.h"

#include <array>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace oru::harness {
namespace {

using namespace std::chrono_literals;

/// Reads the tracker's node and moves the X pointer to the mean of the last
/// five pen positions read (screen px), in a thread of its own.
class AveragingReader {
public:
    AveragingReader(const TrackerTestbed& tracker, const BoardModel& board) : board_(board)
    {
        const char* root = std::getenv("UMOCKDEV_DIR");
        if (!root) throw std::runtime_error("no umockdev test bed");
        fd_ = ::open((std::string(root) + tracker.nodePath()).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (fd_ < 0) throw std::runtime_error("cannot open the tracker's node");
        termios raw{};
        ::tcgetattr(fd_, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(fd_, TCSANOW, &raw);
        thread_ = std::thread([this] { run(); });
    }
    ~AveragingReader()
    {
        stop_ = true;
        thread_.join();
        ::close(fd_);
    }
    long reportsRead() const { return read_; }

private:
    void run()
    {
        const XScreen screen;
        std::array<std::uint8_t, emulated::kReportDataBytes> report{};
        std::size_t filled = 0;
        std::array<PointD, 5> last{};
        long count = 0;
        while (!stop_) {
            pollfd ready{fd_, POLLIN, 0};
            if (::poll(&ready, 1, 20) != 1) continue;
            const ssize_t n = ::read(fd_, report.data() + filled, report.size() - filled);
            if (n <= 0) continue;
            filled += static_cast<std::size_t>(n);
            if (filled < report.size()) continue;
            filled = 0;
            last[count++ % last.size()] = screenPoint(report);
            ++read_;
            const long averaged = std::min<long>(count, last.size());
            PointD mean{0, 0};
            for (long i = 0; i < averaged; ++i) {
                mean.x += last[(count - 1 - i) % last.size()].x / averaged;
                mean.y += last[(count - 1 - i) % last.size()].y / averaged;
            }
            screen.movePointer(static_cast<int>(std::lround(mean.x)), static_cast<int>(std::lround(mean.y)));
        }
    }

    /// Where the two distances of a report put the pen: receiver A at the
    /// board's origin, B on its x axis, the pen below them.
    PointD screenPoint(const emulated::Report& r) const
    {
        constexpr double kBaseline = 634.065;
        const double a = (r[emulated::kStateAndHighAByte] & 0x3F) * emulated::kHighPartWeight + r[emulated::kLowAByte];
        const double b = (r[emulated::kHighBByte] & 0x3F) * emulated::kHighPartWeight + r[emulated::kLowBByte];
        const double x = (a * a - b * b + kBaseline * kBaseline) / (2 * kBaseline);
        return board_.screenFromBoard({x, -std::sqrt(std::max(0.0, a * a - x * x))});
    }

    const BoardModel& board_;
    int fd_ = -1;
    std::atomic<bool> stop_{false};
    std::atomic<long> read_{0};
    std::thread thread_;
};

TEST(HandOff, ExpectsThePointerWhereTheReportsSentPutIt)
{
    XScreen screen;
    const BoardModel board(screen.width(), screen.height());
    TrackerTestbed tracker;
    tracker.plug();
    const AveragingReader reader(tracker, board);

    constexpr auto kPeriod = 4ms;  // the tracker's beat
    // The script's pause before each step: none, and long enough for the
    // tracker to repeat a step a few and many times over.
    for (const auto hesitation : {0ms, 13ms, 40ms}) {
        SCOPED_TRACE("held up " + std::to_string(hesitation.count()) + " ms before each step");
        PenSession pen(tracker, screen, board, kPeriod);
        pen.setHandOffHesitation(hesitation);
        pen.moveTo(kPenUp, {300, 200}, 40);
        pen.rest(kPenUp, 5);
        const long before = pen.reportsSent();
        EXPECT_TRUE(pen.handOff(2000ms));
        // With a hesitation the tracker did repeat steps: the case under test happened.
        if (hesitation > 2 * kPeriod) EXPECT_GT(pen.reportsSent() - before, 6 + 6);
    }
    EXPECT_GT(reader.reportsRead(), 0);
}

} // namespace
} // namespace oru::harness
