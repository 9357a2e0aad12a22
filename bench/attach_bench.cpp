// Cost of a client's attach and detach while a monitor runs.
//
// The benchmark process loads libtavcam once as the first client (which starts
// the monitor) and waits for the monitor window. Each iteration then forks a
// child that loads a second copy of the library file — a separate instance
// with its own globals, so its load runs a full process attach against the
// running block — and exits (its detach: the library is never unloaded
// before its process ends). BM_ForkAndExit is the same child without the
// library, the part of the figure that isn't the library's. Runs in a private
// namespace of named objects.
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>
#include <dlfcn.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <thread>

#include "support/exe_dir.h"

namespace {

typedef int32_t (*CopyShared)(void*, uint32_t);

// Runs work in a forked child that then exits normally (its libraries'
// detach runs); true when the child reported success.
template <typename Work>
bool ChildRuns(Work work) {
    pid_t pid = fork();
    if (pid == 0) exit(work() ? 0 : 1);
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

void BM_ClientAttachDetach(benchmark::State& state) {
    char pattern[] = "/tmp/tavcam-bench-XXXXXX";
    std::string runtime = mkdtemp(pattern);
    setenv("TAVCAM_RUNTIME_DIR", runtime.c_str(), 1);
    setenv("TAVCAM_DEVICE_DIR", (runtime + "/no-devices").c_str(), 1);
    std::string library = bench_support::ExeDir() + "/libtavcam.so";
    std::string copy = runtime + "/libtavcam-copy.so";
    std::filesystem::copy_file(library, copy);

    void* first = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!first) {
        state.SkipWithError(dlerror());
        return;
    }
    auto copyShared = (CopyShared)dlsym(first, "TavcamCopySharedData");
    uint32_t block[4784 / 4] = {};
    for (int i = 0; i < 500; ++i) {  // the monitor window appears within a few ms
        if (copyShared && copyShared(block, sizeof block) && block[1] != 0) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (block[1] == 0) state.SkipWithError("the monitor window did not appear");

    for (auto _ : state) {
        if (!ChildRuns([&] { return dlopen(copy.c_str(), RTLD_NOW | RTLD_LOCAL) != nullptr; })) {
            state.SkipWithError("the client could not load the library");
            break;
        }
    }
    std::filesystem::remove_all(runtime);
}
BENCHMARK(BM_ClientAttachDetach)->Unit(benchmark::kMicrosecond)->Iterations(200);

void BM_ForkAndExit(benchmark::State& state) {
    for (auto _ : state) ChildRuns([] { return true; });
}
BENCHMARK(BM_ForkAndExit)->Unit(benchmark::kMicrosecond)->Iterations(200);

}  // namespace

BENCHMARK_MAIN();
