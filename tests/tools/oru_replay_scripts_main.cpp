// oru-replay-scripts: writes random replay files for comparing two builds of
// oru-replay (Linux and Windows) byte for byte.
//   oru-replay-scripts SEED COUNT FOLDER   writes FOLDER/000.replay ...
// The same seed gives the same files on every machine (own generator, no
// std:: distributions). Most files are valid sessions: a screen, a stored
// calibration (often degenerate or zero), pen strokes with both buttons,
// pauses that let the watchdog release, screen changes between reports;
// some carry CRLF line ends, a Ctrl+Z byte in a comment, or end on a bad line,
// which a text-mode reader would handle differently.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next()  // splitmix64
    {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    int below(int n) { return static_cast<int>(next() % static_cast<std::uint64_t>(n)); }
    int between(int lo, int hi) { return lo + below(hi - lo + 1); }
    bool chance(int percent) { return below(100) < percent; }

private:
    std::uint64_t state_;
};

std::string hexByte(int value)
{
    char text[3];
    std::snprintf(text, sizeof text, "%02X", value & 0xFF);
    return text;
}

// A report whose distances are near the board (both 200..1100 report units),
// with the pen state in the top bits of the first byte.
std::string report(Random& random, int state)
{
    const int a = random.chance(95) ? random.between(200, 1100) : random.between(0, 0x3F * 255 + 255);
    const int b = random.chance(95) ? random.between(200, 1100) : random.between(0, 0x3F * 255 + 255);
    int bytes[4] = {(state << 6) | ((a / 255) & 0x3F), (b / 255) & 0x3F, a % 255, b % 255};
    int count = 4;
    if (random.chance(5)) count = random.between(0, 8);
    std::string line;
    for (int i = 0; i < count; ++i) line += " " + hexByte(i < 4 ? bytes[i] : random.below(256));
    return line;
}

std::string script(Random& random)
{
    std::string text = "# random session\n";
    if (random.chance(85)) text += "screen " + std::to_string(random.between(1, 4000)) + " " +
                                   std::to_string(random.between(1, 3000)) + "\n";
    if (random.chance(90)) {
        text += "calibration";
        const bool zero = random.chance(5);
        for (int i = 0; i < 8; ++i) {
            if (zero && i < 4) text += " 0";
            else if (random.chance(2)) text += " 1.5";
            else text += " " + std::to_string(random.chance(5) ? random.between(-3, 3)
                                                              : (i % 2 ? -1 : 1) * random.between(50, 1000));
        }
        text += "\n";
    }
    long micros = 0;
    int state = 0;
    const int reports = random.between(5, 120);
    for (int i = 0; i < reports; ++i) {
        if (random.chance(10)) state = random.below(4);  // up, tip, other, right button
        micros += random.chance(8) ? random.between(0, 900000) : random.between(0, 20000);
        if (random.chance(1)) text += "screen " + std::to_string(random.between(1, 4000)) + " " +
                                      std::to_string(random.between(1, 3000)) + "\n";
        if (random.chance(2)) text += "# pause\x1A here\n";
        text += "report " + std::to_string(micros / 1000);
        if (micros % 1000) text += "." + std::to_string(1000 + micros % 1000).substr(1);
        text += report(random, state) + (random.chance(3) ? "  # note" : "") + "\n";
    }
    if (random.chance(5)) text += random.chance(50) ? "report 1 zz\n" : "bogus line\n";
    if (random.chance(5)) {
        std::string crlf;
        for (const char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
        text = crlf;
    }
    return text;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: oru-replay-scripts SEED COUNT FOLDER\n");
        return 2;
    }
    Random random(std::strtoull(argv[1], nullptr, 10));
    const int count = std::atoi(argv[2]);
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/%03d.replay", i);
        std::ofstream file(std::string(argv[3]) + name, std::ios::binary);
        file << script(random);
        if (!file.flush()) {
            std::fprintf(stderr, "oru-replay-scripts: cannot write %s%s\n", argv[3], name);
            return 1;
        }
    }
    return 0;
}
