// stderr's lines reach the debugger's output stream (here a sink), whole,
// in order, also the last one without a line end, and once each.

#include "platform/windows/WideText.h"
#include "platform/windows/WinDebugOutput.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace oru {
namespace {

TEST(WinDebugOutput, ForwardsStderrLineByLine)
{
    struct Row {
        const char* written;
        std::vector<std::string> forwarded;
    };
    const Row rows[] = {
        {"one\ntwo\n", {"one", "two"}},
        {"crlf\r\nlast without an end", {"crlf", "last without an end"}},
        {"\n", {""}},
        {"Çıkış ü\n", {"Çıkış ü"}},
    };
    for (const Row& row : rows) {
        std::mutex mutex;
        std::vector<std::string> lines;
        {
            WinDebugOutput forwarder([&](const std::string& line) {
                std::lock_guard lock(mutex);
                lines.push_back(line);
            });
            EXPECT_TRUE(WinDebugOutput::active());
            std::fputs(row.written, stderr);
        }
        EXPECT_FALSE(WinDebugOutput::active());
        EXPECT_EQ(lines, row.forwarded) << row.written;
    }
}

TEST(WinDebugOutput, DiagnosticsGoThroughOnce)
{
    std::vector<std::string> lines;
    {
        WinDebugOutput forwarder([&](const std::string& line) { lines.push_back(line); });
        diagnostic("the tray icon could not be painted");
    }
    EXPECT_EQ(lines, std::vector<std::string>{"oruDriver: the tray icon could not be painted"});
    // stderr is the test's own again.
    EXPECT_GE(std::fputs("", stderr), 0);
}

} // namespace
} // namespace oru
