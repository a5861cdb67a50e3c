// oru-replay: runs recorded pen tracker reports through the driver's own pen
// pipeline and prints what the mouse would do. See docs/diagnostics.md for the format.
//
// Input and output go straight through file descriptors, so that a failed
// read or write keeps its errno for the message (iostreams lose it); they are
// bytes on every platform (tools/ToolFiles.h), so the output is the same
// file on Linux and Windows.

#include "common/CommandLine.h"
#include "common/ExtendedPrecision.h"
#include "tools/ReplayScript.h"
#include "tools/ToolFiles.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <istream>
#include <ostream>
#include <streambuf>
#include <string>
#include <system_error>

namespace {

constexpr std::size_t kBufferBytes = 64 * 1024;

/// Reads a file descriptor; a failed read makes the stream bad (the stream
/// turns the exception into badbit) and keeps the errno.
class FdReadBuffer final : public std::streambuf {
public:
    explicit FdReadBuffer(int fd) : fd_(fd) {}
    int error() const { return error_; }

protected:
    int_type underflow() override
    {
        const std::ptrdiff_t n = oru::readSome(fd_, buffer_.data(), buffer_.size());
        if (n < 0) {
            error_ = errno;
            throw std::system_error(error_, std::generic_category());
        }
        if (n == 0) return traits_type::eof();
        setg(buffer_.data(), buffer_.data(), buffer_.data() + n);
        return traits_type::to_int_type(buffer_[0]);
    }

private:
    int fd_;
    int error_ = 0;
    std::array<char, kBufferBytes> buffer_{};
};

/// Writes a file descriptor; after the first failed write every write fails,
/// the stream goes bad, and the errno is kept.
class FdWriteBuffer final : public std::streambuf {
public:
    explicit FdWriteBuffer(int fd) : fd_(fd) { setp(buffer_.data(), buffer_.data() + buffer_.size()); }
    int error() const { return error_; }

protected:
    int_type overflow(int_type c) override
    {
        if (!drain()) return traits_type::eof();
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        *pptr() = traits_type::to_char_type(c);
        pbump(1);
        return c;
    }
    int sync() override { return drain() ? 0 : -1; }

private:
    bool drain()
    {
        if (error_) return false;
        const char* from = pbase();
        while (from < pptr()) {
            const std::ptrdiff_t n = oru::writeSome(fd_, from, static_cast<std::size_t>(pptr() - from));
            if (n < 0) {
                error_ = errno;
                return false;
            }
            from += n;
        }
        setp(buffer_.data(), buffer_.data() + buffer_.size());
        return true;
    }

    int fd_;
    int error_ = 0;
    std::array<char, kBufferBytes> buffer_{};
};

} // namespace

int main(int argc, char** argv)
{
    // Before anything is opened: a closed 0, 1 or 2 must not become a pipe or file of ours.
    oru::prepareStandardStreams();
    oru::useExtendedPrecision();
    const oru::ProgramDescription program{
        "oru-replay", "[FILE]", 1,
        "Runs recorded pen tracker reports (FILE, or standard input; the format is in\n"
        "oru-replay(1)) through the driver's own pen pipeline and prints what the mouse\n"
        "would have done, one action a line with the replay clock's time.\n"
        "Exit status: 0 when the whole input was replayed, 2 on bad input (the message\n"
        "names the line), 1 when the input can't be read or the output can't be written.",
        {{"--raw", "", "also print each report's decoding (pen state, board point)"}}};
    const auto parsed = oru::parseCommandLine(argc, argv, program, std::cout, std::cerr);
    // 0 answered, 1 (kReplayIoFailed) the answer could not be written, 2 (kReplayBadInput) a usage error.
    if (parsed.exitStatus) return *parsed.exitStatus;
    const bool raw = parsed.has("--raw");
    const char* path = parsed.operands.empty() ? nullptr : parsed.operands.front().c_str();

    int fd = oru::kStandardInputFd;
    std::string inputName = "standard input";
    if (path) {
        inputName = std::string("'") + path + "'";
        int error = 0;
        fd = oru::openForReading(path, error);
        if (error) {
            std::cerr << "oru-replay: cannot open " << inputName << ": " << std::strerror(error) << '\n';
            return oru::kReplayBadInput;
        }
    }

    FdReadBuffer input(fd);
    FdWriteBuffer output(oru::kStandardOutputFd);
    std::istream in(&input);
    std::ostream out(&output);
    const int status = oru::runReplay(in, out, std::cerr, raw);
    if (status == oru::kReplayIoFailed) {
        if (input.error()) {
            std::cerr << "oru-replay: cannot read " << inputName << ": " << std::strerror(input.error()) << '\n';
        } else {
            std::cerr << "oru-replay: cannot write standard output: " << std::strerror(output.error()) << '\n';
        }
    }
    return status;
}
