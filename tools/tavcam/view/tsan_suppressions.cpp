// ThreadSanitizer builds only. cpp-httplib comes from Debian's package,
// built without the sanitizer: its thread-safe statics and atomics order its
// threads' work in code the sanitizer does not see, so what its own code
// passes to the C library's functions (memcmp of a string another of its
// threads made) looks like a race. Calls made from inside that library go
// unchecked; every access of the program's own code still is.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define TAVCAM_THREAD_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define TAVCAM_THREAD_SANITIZER 1
#endif

#if defined(TAVCAM_THREAD_SANITIZER)
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libcpp-httplib.so\n";
}
#endif
