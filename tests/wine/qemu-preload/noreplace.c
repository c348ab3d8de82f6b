/* Preloaded into 32-bit Wine when it runs under qemu's user-mode emulation. Some qemu versions
 * take MAP_FIXED_NOREPLACE as a plain hint and hand back memory at another address. Wine keeps
 * such a mapping reserved and tries the next address; tens of thousands of tries fill the 32-bit
 * address space, and Wine stops, unable to map its shared user data. Here the flag gets the
 * kernel's meaning back: memory that did not land at the address asked for is given back and the
 * call fails with EEXIST. Where qemu honours the flag, nothing changes.
 *
 * Built without the C library's headers (only the compiler is needed for the i386 target);
 * the functions used here are bound at load time from the process's own C library. */
typedef unsigned int size_t;
typedef long long off64_t;
typedef long off_t;

#define MAP_FIXED_NOREPLACE 0x100000
#define EEXIST 17
#define MAP_FAILED ((void*)-1)
#define RTLD_NEXT ((void*)-1)

extern void* dlsym(void* handle, const char* name);
extern int munmap(void* address, size_t length);
extern int* __errno_location(void);

typedef void* (*Map)(void*, size_t, int, int, int, off_t);
typedef void* (*Map64)(void*, size_t, int, int, int, off64_t);

static void* Checked(void* wanted, void* got, size_t length, int flags) {
    if ((flags & MAP_FIXED_NOREPLACE) && got != MAP_FAILED && got != wanted) {
        munmap(got, length);
        *__errno_location() = EEXIST;
        return MAP_FAILED;
    }
    return got;
}

/* The C library's own function of that name, looked up once. */
static void* Next(void** found, const char* name) {
    void* next = __atomic_load_n(found, __ATOMIC_ACQUIRE);
    if (!next) {
        next = dlsym(RTLD_NEXT, name);
        __atomic_store_n(found, next, __ATOMIC_RELEASE);
    }
    return next;
}

__attribute__((visibility("default"))) void* mmap(void* address, size_t length, int protection,
                                                  int flags, int fd, off_t offset) {
    static void* found;
    Map next = (Map)Next(&found, "mmap");
    return Checked(address, next(address, length, protection, flags, fd, offset), length, flags);
}

__attribute__((visibility("default"))) void* mmap64(void* address, size_t length, int protection,
                                                    int flags, int fd, off64_t offset) {
    static void* found;
    Map64 next = (Map64)Next(&found, "mmap64");
    return Checked(address, next(address, length, protection, flags, fd, offset), length, flags);
}
