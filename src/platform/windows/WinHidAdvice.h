#pragma once

#include "platform/HidAdvice.h"

namespace oru {

/// What an administrator does about a pen tracker the driver can't use on
/// this system: Device Manager, the exclusive opens of other programs and the system event log.
class WinHidAdvice final : public HidAdvice {
public:
    std::string unavailableAdvice() const override;
    std::string grantAccessAdvice() const override;
    std::string noAccessNotice() const override;
    std::string refusedAccessAdvice(const std::string& path) const override;
    std::string unopenableNodeAdvice(const std::string& path) const override;
    std::string deviceErrorsAdvice() const override;
};

} // namespace oru
