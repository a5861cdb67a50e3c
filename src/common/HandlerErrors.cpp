#include "common/HandlerErrors.h"

#include <cstdio>
#include <stdexcept>

namespace oru {

namespace {

void writeToStderr(const std::string& text)
{
    std::fprintf(stderr, "oruDriver: %s\n", text.c_str());
}

HandlerErrorReporter& reporter()
{
    static HandlerErrorReporter current = writeToStderr;
    return current;
}

bool reporting = false;

} // namespace

std::string handlerErrorText(const std::exception& error)
{
    std::string text = error.what();
    if (text.empty() || text.back() != '.') text += '.';
    return text;
}

void setHandlerErrorReporter(HandlerErrorReporter reporter_)
{
    reporter() = reporter_ ? std::move(reporter_) : HandlerErrorReporter(writeToStderr);
}

void reportHandlerError(const std::exception& error)
{
    const std::string text = handlerErrorText(error);
    // A message box runs a nested loop; an error raised inside it is shown
    // once on stderr rather than stacking boxes.
    if (reporting) {
        writeToStderr(text);
        return;
    }
    reporting = true;
    try {
        reporter()(text);
    } catch (...) {
    }
    reporting = false;
}

} // namespace oru
