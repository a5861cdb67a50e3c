#include "common/ExtendedPrecision.h"

#include <cstdint>
#include <stdexcept>

#if !(defined(__x86_64__) || defined(__i386__)) || !defined(__GNUC__)
#error "The formulas need the x87 unit: build for x86 or x86-64 with GCC or Clang"
#endif

namespace oru {
namespace {

// The x87 control word's precision control: bits 8 and 9.
constexpr std::uint16_t kPrecisionMask = 0x0300;
constexpr std::uint16_t kPrecision24 = 0x0000;
constexpr std::uint16_t kPrecision53 = 0x0200;
constexpr std::uint16_t kPrecision64 = 0x0300;

std::uint16_t controlWord()
{
    std::uint16_t word;
    asm volatile("fnstcw %0" : "=m"(word));
    return word;
}

void loadControlWord(std::uint16_t word) { asm volatile("fldcw %0" : : "m"(word)); }

} // namespace

int x87PrecisionBits()
{
    switch (controlWord() & kPrecisionMask) {
    case kPrecision24: return 24;
    case kPrecision53: return 53;
    default: return 64;  // 0x0100 is reserved; the unit treats it as 64 bits
    }
}

void setX87PrecisionBits(int bits)
{
    const std::uint16_t precision = bits == 24 ? kPrecision24 : bits == 53 ? kPrecision53 : kPrecision64;
    loadControlWord(static_cast<std::uint16_t>((controlWord() & ~kPrecisionMask) | precision));
}

void useExtendedPrecision()
{
    if ((controlWord() & kPrecisionMask) == kPrecision64) return;
    setX87PrecisionBits(64);
    if ((controlWord() & kPrecisionMask) != kPrecision64) {
        throw std::logic_error("the x87 unit refused 64-bit precision: the formulas can't run correctly");
    }
}

} // namespace oru
