#include <stdio.h>

#include "platform/platform.h"

namespace plat {

std::string OwnCommandLine() {
    std::string line;
    FILE* f = fopen("/proc/self/cmdline", "rb");
    if (!f) return line;
    int c;
    while ((c = fgetc(f)) != EOF) line += c ? (char)c : ' ';
    fclose(f);
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line;
}

}  // namespace plat
