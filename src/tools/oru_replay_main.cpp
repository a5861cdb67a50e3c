// oru-replay: runs recorded pen tracker reports through the driver's own pen
// pipeline and prints what the mouse would do. See README.md for the format.

#include "tools/ReplayScript.h"

#include <cstring>
#include <fstream>
#include <iostream>

int main(int argc, char** argv)
{
    bool raw = false;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--raw") == 0) {
            raw = true;
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::cout << "usage: oru-replay [--raw] [FILE]\n"
                         "Replays pen tracker reports (FILE, or standard input) and prints the mouse's actions.\n";
            return 0;
        } else if (!path && argv[i][0] != '-') {
            path = argv[i];
        } else {
            std::cerr << "oru-replay: unknown argument '" << argv[i] << "' (usage: oru-replay [--raw] [FILE])\n";
            return 2;
        }
    }
    std::ios::sync_with_stdio(false);
    if (!path) return oru::runReplay(std::cin, std::cout, std::cerr, raw);
    std::ifstream file(path);
    if (!file) {
        std::cerr << "oru-replay: cannot open '" << path << "': " << std::strerror(errno) << '\n';
        return 2;
    }
    return oru::runReplay(file, std::cout, std::cerr, raw);
}
