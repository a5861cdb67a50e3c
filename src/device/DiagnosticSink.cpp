#include "device/DiagnosticSink.h"

#include <cstdio>

namespace oru {

void writeDiagnosticToStderr(const std::string& line)
{
    const std::string text = line + '\n';
    std::fwrite(text.data(), 1, text.size(), stderr);
}

} // namespace oru
