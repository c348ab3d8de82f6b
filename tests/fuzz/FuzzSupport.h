// What the fuzz targets share: the module's factory, linked in directly, a check that ends the
// run with a message, and allocation counting through the sanitizer's allocation hooks.
#pragma once

#include "Probe.h"
#include "se_types.h"

#include <cstdio>
#include <cstdlib>

extern "C" void* makeModule(int32_t index, int32_t type, HostCallback callback,
                            intptr_t host_argument);

#define FUZZ_CHECK(condition, message)                                                             \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", message, __FILE__, __LINE__);  \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

extern "C" void __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*,
                                                                              size_t),
                                                          void (*free_hook)(const volatile void*));

namespace fuzz {

inline void OnMalloc(const volatile void*, size_t) {
    probe::NoteAllocation();
}
inline void OnFree(const volatile void*) {}

// Every allocation of the process goes through the sanitizer's allocator: malloc as well as new.
inline void InstallAllocationHooks() {
    __sanitizer_install_malloc_and_free_hooks(&OnMalloc, &OnFree);
}

// At most `allowed` allocations and, where none are allowed, no lock.
inline void CheckQuiet(const probe::Counts& c, unsigned allowed, const char* where) {
    if (c.allocations > allowed || (allowed == 0 && c.locks != 0)) {
        std::fprintf(stderr, "fuzz check failed: %s allocated %llu times and took %llu locks\n",
                     where, static_cast<unsigned long long>(c.allocations),
                     static_cast<unsigned long long>(c.locks));
        std::abort();
    }
}

// The routine that EVENT_RUN_ROUTINE events name.
inline void Routine(void*) {}

} // namespace fuzz
