// On POSIX a shared library can't refuse to load, so the library's process
// attach and detach run as a constructor/destructor pair; a refused attach
// leaves the library loaded but inert (tav::LibraryUsable() is false).
#include <dlfcn.h>

#include "core/attach.h"

namespace {

__attribute__((constructor)) void LibraryLoaded() {
    Dl_info info{};
    HMODULE module = nullptr;
    if (dladdr((void*)&LibraryLoaded, &info) && info.dli_fbase) module = (HMODULE)info.dli_fbase;
    tav::ProcessAttach(module);
}

__attribute__((destructor)) void LibraryUnloaded() {
    tav::ProcessDetach();
}

}  // namespace
