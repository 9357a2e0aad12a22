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

// Runs at the process's exit (or at dlclose, for a library that never
// started a thread of its own), outside any lock of the loader the library's
// threads need: the detach may wait, bounded, for them.
__attribute__((destructor)) void LibraryUnloaded() {
    tav::ProcessDetach(false);
}

}  // namespace
