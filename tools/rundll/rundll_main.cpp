// tavcam-rundll: our POSIX stand-in for the system's DLL host.
//
// Usage: tavcam-rundll <library path>,<entry>
// Loads the library, calls the entry with the four arguments a DLL host
// passes (window 0, instance 0, the rest of the command line, show command 0)
// and exits with 0 when the entry returns. Loading the library runs its
// process attach and exiting runs its detach, as for any process.
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "tavcam_posix.h"

// The entry's exact type, as the library declares its monitor entry: calling
// through any other function type is undefined.
typedef int32_t (*HostEntry)(HWND window, HINSTANCE instance, char* commandLine, int32_t show);

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s <library>,<entry>\n", argv[0]);
        return 2;
    }
    std::string spec = argv[1];
    size_t comma = spec.rfind(',');
    if (comma == std::string::npos || comma == 0 || comma + 1 == spec.size()) {
        fprintf(stderr, "%s: expected <library>,<entry>\n", argv[0]);
        return 2;
    }
    std::string library = spec.substr(0, comma);
    std::string entry = spec.substr(comma + 1);
    void* module = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        fprintf(stderr, "%s: %s\n", argv[0], dlerror());
        return 1;
    }
    HostEntry run = (HostEntry)dlsym(module, entry.c_str());
    if (!run) {
        fprintf(stderr, "%s: no entry %s\n", argv[0], entry.c_str());
        dlclose(module);
        return 1;
    }
    char rest[] = "";
    run(nullptr, nullptr, rest, 0);
    dlclose(module);
    return 0;
}
