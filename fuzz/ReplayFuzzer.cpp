// Arbitrary text as an oru-replay file: parse errors are fine, crashes and
// undefined behaviour are not.

#include "tools/ReplayScript.h"

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    std::ostringstream out;
    std::ostringstream err;
    oru::runReplay(in, out, err, (size & 1) != 0);
    return 0;
}
