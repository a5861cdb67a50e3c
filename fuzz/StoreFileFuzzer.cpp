// Arbitrary text as the per-user store file (it may be hand-edited,
// truncated or overwritten with garbage): parsed or rejected, never a crash;
// what parses is written back and must parse again to the same contents.

#include "settings/StoreContents.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string problem;
    const auto contents =
        oru::StoreContents::parse(std::string_view(reinterpret_cast<const char*>(data), size), problem);
    if (!contents) return 0;
    const std::string written = contents->format();
    const auto again = oru::StoreContents::parse(written, problem);
    if (!again || again->format() != written) std::abort();
    return 0;
}
