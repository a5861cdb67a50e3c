#pragma once

#include <exception>
#include <functional>
#include <stdexcept>
#include <string>

namespace oru {

/// The text the user sees for an error that left a handler: the error's own
/// text plus a full stop when it doesn't end in one.
std::string handlerErrorText(const std::exception& error);

/// Where handler errors go: a line on stderr until a reporter is set. The
/// program's application object sets a critical message box captioned
/// "oruDriver"; tests collect the texts instead. An empty reporter restores stderr.
using HandlerErrorReporter = std::function<void(const std::string& text)>;
void setHandlerErrorReporter(HandlerErrorReporter reporter);

/// Reports an error that left a handler; the event loop then goes on.
void reportHandlerError(const std::exception& error);

/// Runs a handler so that no exception unwinds into the toolkit.
template <class Handler>
void guarded(Handler&& handler) noexcept
{
    try {
        handler();
    } catch (const std::exception& error) {
        reportHandlerError(error);
    } catch (...) {
        reportHandlerError(std::runtime_error("Unknown error"));
    }
}

} // namespace oru
