#pragma once

#include <cstdint>
#include <utility>

namespace oru {

class THidDevice;
class THidDeviceController;
struct HidReadProblem;

template <typename Signature>
class TMethod;

/// A handler: a function together with the object it is bound to. A default
/// TMethod is unset. Two handlers have the same function when they call the
/// same member function, whatever their receivers; setters compare that to
/// make "set it to what it already is" do nothing. Copying and calling
/// allocate nothing.
template <typename R, typename... Args>
class TMethod<R(Args...)> {
public:
    constexpr TMethod() = default;

    /// Binds a member function to its receiver:
    /// THidDataEvent::bind<&TMainForm::ShowRead>(form).
    template <auto Method, typename Receiver>
    static TMethod bind(Receiver& receiver)
    {
        TMethod method;
        method.code_ = &callMember<Method, Receiver>;
        method.data_ = &receiver;
        return method;
    }

    /// Binds a free function whose first parameter is the receiver.
    template <auto Function, typename Receiver>
    static TMethod bindFunction(Receiver& receiver)
    {
        TMethod method;
        method.code_ = &callFunction<Function, Receiver>;
        method.data_ = &receiver;
        return method;
    }

    /// Whether a function is set.
    explicit operator bool() const { return code_ != nullptr; }
    bool sameFunction(const TMethod& other) const { return code_ == other.code_; }
    /// Same function and same receiver.
    bool operator==(const TMethod& other) const = default;
    const void* receiver() const { return data_; }

    R operator()(Args... args) const { return code_(data_, std::forward<Args>(args)...); }

private:
    using Code = R (*)(void*, Args...);

    template <auto Method, typename Receiver>
    static R callMember(void* receiver, Args... args)
    {
        return (static_cast<Receiver*>(receiver)->*Method)(std::forward<Args>(args)...);
    }
    template <auto Function, typename Receiver>
    static R callFunction(void* receiver, Args... args)
    {
        return Function(*static_cast<Receiver*>(receiver), std::forward<Args>(args)...);
    }

    Code code_ = nullptr;
    void* data_ = nullptr;
};

/// Plain notification; the sender is the controller (OnDeviceChange).
using TNotifyEvent = TMethod<void(THidDeviceController& Sender)>;
/// A device came, went or was unplugged (OnArrival, OnRemoval, OnDeviceUnplug, OnUnplugged).
using THidPlugEvent = TMethod<void(THidDevice& HidDev)>;
/// One input report: its ID and its data bytes, valid only during the call.
using THidDataEvent =
    TMethod<void(THidDevice& HidDev, std::uint8_t ReportID, const std::uint8_t* Data, std::uint16_t Size)>;
/// A read request the system refused; Error is the system's error number.
using THidDataErrorEvent = TMethod<void(THidDevice& HidDev, std::uint32_t Error)>;
/// A claimed device that may be read turned out unreadable, and why.
using THidReadProblemEvent = TMethod<void(THidDevice& HidDev, const HidReadProblem& Problem)>;
/// Kept for completeness; nothing raises it.
using THidEnumerateEvent = TMethod<bool(THidDevice& HidDev, int Idx)>;

} // namespace oru
