// tavcam-test-dlopen: a process that loads and unloads libtavcam at run time,
// for the process tests. Started with the library's path, it answers:
//   open    dlopen of the library (its attach runs); 1, or 0 on failure
//   close   dlclose of it; "loaded" when the library stays in the process
//           nevertheless, "unloaded" when it is gone
//   exit    leaves main normally
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    setvbuf(stdout, nullptr, _IOLBF, 0);
    void* library = nullptr;
    char line[64];
    while (fgets(line, sizeof line, stdin)) {
        line[strcspn(line, "\r\n")] = 0;
        if (!strcmp(line, "open")) {
            library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
            printf("%d\n", library ? 1 : 0);
        } else if (!strcmp(line, "close")) {
            if (library) dlclose(library);
            library = nullptr;
            void* still = dlopen(argv[1], RTLD_NOW | RTLD_NOLOAD);
            printf("%s\n", still ? "loaded" : "unloaded");
            if (still) dlclose(still);
        } else if (!strcmp(line, "exit")) {
            return 0;
        } else {
            printf("?\n");
        }
    }
    return 0;
}
