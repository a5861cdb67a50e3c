#pragma once

#include "platform/HidAdvice.h"

namespace oru {

/// What an administrator does about a pen tracker the driver can't use on
/// this system: udev's rule for the logged-in user's access, the hidraw node and the kernel's log.
class LinuxHidAdvice final : public HidAdvice {
public:
    std::string unavailableAdvice() const override;
    std::string grantAccessAdvice() const override;
    std::string noAccessNotice() const override;
    std::string refusedAccessAdvice(const std::string& path) const override;
    std::string unopenableNodeAdvice(const std::string& path) const override;
    std::string deviceErrorsAdvice() const override;
};

} // namespace oru
