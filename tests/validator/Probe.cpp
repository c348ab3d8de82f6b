#include "Probe.h"

#include <dlfcn.h>
#include <pthread.h>

namespace {

// One thread drives the module; the flags are per thread so that a helper thread of a runtime
// (a sanitizer's, a fuzzer's) is never counted.
thread_local bool t_watching = false;
thread_local int t_host_depth = 0;
thread_local probe::Counts t_counts;

bool Counting() {
    return t_watching && t_host_depth == 0;
}

} // namespace

void probe::Begin() {
    t_counts = Counts{};
    t_host_depth = 0;
    t_watching = true;
}

probe::Counts probe::End() {
    t_watching = false;
    return t_counts;
}

probe::HostScope::HostScope() {
    ++t_host_depth;
}

probe::HostScope::~HostScope() {
    --t_host_depth;
}

void probe::NoteLock() {
    if (Counting()) {
        ++t_counts.locks;
    }
}

void probe::NoteAllocation() {
    if (Counting()) {
        ++t_counts.allocations;
    }
}

// ---- Lock interposers ---------------------------------------------------------------------------
// Defined in the program, they take precedence over the C library's for every library the program
// loads; each counts and hands on to the next definition.

namespace {

template <typename Fn> Fn Next(const char* name) {
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

using MutexFn = int (*)(pthread_mutex_t*);
using RwFn = int (*)(pthread_rwlock_t*);

MutexFn g_mutex_lock = nullptr;
MutexFn g_mutex_trylock = nullptr;
RwFn g_rdlock = nullptr;
RwFn g_wrlock = nullptr;

// Resolved before main, while the program is still single-threaded.
__attribute__((constructor(101))) void ResolveLocks() {
    g_mutex_lock = Next<MutexFn>("pthread_mutex_lock");
    g_mutex_trylock = Next<MutexFn>("pthread_mutex_trylock");
    g_rdlock = Next<RwFn>("pthread_rwlock_rdlock");
    g_wrlock = Next<RwFn>("pthread_rwlock_wrlock");
}

} // namespace

extern "C" int pthread_mutex_lock(pthread_mutex_t* mutex) {
    probe::NoteLock();
    if (g_mutex_lock == nullptr) {
        ResolveLocks();
    }
    return g_mutex_lock(mutex);
}

extern "C" int pthread_mutex_trylock(pthread_mutex_t* mutex) {
    probe::NoteLock();
    if (g_mutex_trylock == nullptr) {
        ResolveLocks();
    }
    return g_mutex_trylock(mutex);
}

extern "C" int pthread_rwlock_rdlock(pthread_rwlock_t* lock) {
    probe::NoteLock();
    if (g_rdlock == nullptr) {
        ResolveLocks();
    }
    return g_rdlock(lock);
}

extern "C" int pthread_rwlock_wrlock(pthread_rwlock_t* lock) {
    probe::NoteLock();
    if (g_wrlock == nullptr) {
        ResolveLocks();
    }
    return g_wrlock(lock);
}
