#include "platform/platform.h"

namespace plat {

std::string OwnCommandLine() {
    const char* line = ::GetCommandLineA();
    return line ? line : "";
}

}  // namespace plat
