// Linked into a test copy of pelc, these definitions of the C allocation functions come
// before the C library's (and the sanitizer runtime's) for every caller in the process:
// pelc, operator new (operator_new.cpp), libtiff and libjpeg. Each call is counted and
// forwarded to the next definition, except those the environment asks to fail:
//   PELC_FAIL_ALLOC_AT=k    the k-th call (from 1) returns null;
//   PELC_FAIL_ALLOC_FROM=k  the k-th and every later call return null;
//   PELC_ALLOC_COUNT=1      the number of calls made is written to stderr at exit, as
//                           "allocations N";
//   PELC_FAIL_ALLOC_TRACE=1 the stack of each failed call is written to stderr (frames in
//                           the executable as offsets, for addr2line), to find the caller
//                           of a failure that did harm.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <execinfo.h>
#include <stdatomic.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

typedef void* (*MallocFn)(size_t);
typedef void* (*CallocFn)(size_t, size_t);
typedef void* (*ReallocFn)(void*, size_t);
typedef void (*FreeFn)(void*);
typedef int (*PosixMemalignFn)(void**, size_t, size_t);
typedef void* (*AlignedFn)(size_t, size_t);
typedef void* (*VallocFn)(size_t);

static MallocFn nextMalloc;
static CallocFn nextCalloc;
static ReallocFn nextRealloc;
static FreeFn nextFree;
static PosixMemalignFn nextPosixMemalign;
static AlignedFn nextAlignedAlloc;
static AlignedFn nextMemalign;
static VallocFn nextValloc;

// dlsym may allocate while the next definitions are being looked up: such calls are served
// from here and never freed.
static _Alignas(16) unsigned char bootstrap[16384];
static atomic_size_t bootstrapUsed;
static _Thread_local int resolving;

static atomic_ulong calls;
static unsigned long failAt;
static unsigned long failFrom;
static int traceFailures;

static unsigned long readSetting(const char* name) {
    const char* value = getenv(name);
    return value != NULL ? strtoul(value, NULL, 10) : 0;
}

static void reportCount(void) {
    char line[64];
    const int length = snprintf(line, sizeof line, "allocations %lu\n", atomic_load(&calls));
    if (length > 0 && write(STDERR_FILENO, line, (size_t)length) < 0)
        return;
}

static void resolve(void) {
    if (nextMalloc != NULL)
        return;
    resolving = 1;
    nextCalloc = (CallocFn)dlsym(RTLD_NEXT, "calloc");
    nextRealloc = (ReallocFn)dlsym(RTLD_NEXT, "realloc");
    nextFree = (FreeFn)dlsym(RTLD_NEXT, "free");
    nextPosixMemalign = (PosixMemalignFn)dlsym(RTLD_NEXT, "posix_memalign");
    nextAlignedAlloc = (AlignedFn)dlsym(RTLD_NEXT, "aligned_alloc");
    nextMemalign = (AlignedFn)dlsym(RTLD_NEXT, "memalign");
    nextValloc = (VallocFn)dlsym(RTLD_NEXT, "valloc");
    nextMalloc = (MallocFn)dlsym(RTLD_NEXT, "malloc");
    resolving = 0;
}

// Read once the C library is up (the first calls may come before the environment is
// there); calls before it are counted and never fail.
__attribute__((constructor)) static void readSettings(void) {
    // backtrace() loads its unwinder on first use, allocating: done here, before any call
    // is made to fail.
    void* frame[1];
    (void)backtrace(frame, 1);
    failAt = readSetting("PELC_FAIL_ALLOC_AT");
    failFrom = readSetting("PELC_FAIL_ALLOC_FROM");
    traceFailures = readSetting("PELC_FAIL_ALLOC_TRACE") != 0;
    if (readSetting("PELC_ALLOC_COUNT") != 0)
        atexit(reportCount);
}

static void* bootstrapAlloc(size_t size) {
    const size_t rounded = (size + 15) & ~(size_t)15;
    const size_t at = atomic_fetch_add(&bootstrapUsed, rounded);
    if (at + rounded > sizeof bootstrap)
        return NULL;
    return bootstrap + at;
}

static int fromBootstrap(const void* p) {
    return (const unsigned char*)p >= bootstrap &&
           (const unsigned char*)p < bootstrap + sizeof bootstrap;
}

// Calls whose failure no program could survive, for reasons outside it, are let through:
// - realloc by libtiff: libtiff 4.5 loses its array of field descriptions when one fails
//   (_TIFFMergeFields) and then reads through a null pointer, or leaks the old block;
// - libjpeg's, while libtiff's old-style JPEG decoder creates its session: libtiff never
//   destroys a session whose creation failed, whose memory manager is then lost;
// - what a sanitizer runtime asks for on its own (a new thread's start, before any code of
//   the program runs on it): it stops the process when refused.
__attribute__((noinline)) static int beyondTheProgram(const void* caller, int isRealloc) {
    Dl_info info;
    if (isRealloc && dladdr(caller, &info) != 0 && info.dli_fname != NULL &&
        strstr(info.dli_fname, "libtiff") != NULL)
        return 1;
    Dl_info self;
    if (dladdr((void*)&beyondTheProgram, &self) == 0)
        return 0;
    void* frames[64];
    const int depth = backtrace(frames, 64);
    // The stack above the allocation function: from its caller's frame on.
    int first = 0;
    while (first < depth && frames[first] != caller)
        ++first;
    int runtime = 0;
    for (int i = first; i < depth; ++i) {
        if (dladdr(frames[i], &info) == 0 || info.dli_fname == NULL)
            continue;
        if (info.dli_fbase == self.dli_fbase)
            return 0; // the program's own call
        Dl_info next;
        if (info.dli_sname != NULL && strcmp(info.dli_sname, "jpeg_CreateDecompress") == 0 &&
            i + 1 < depth && dladdr(frames[i + 1], &next) != 0 && next.dli_fname != NULL &&
            strstr(next.dli_fname, "libtiff") != NULL)
            return 1;
        if (strstr(info.dli_fname, "libasan") != NULL || strstr(info.dli_fname, "libtsan") != NULL)
            runtime = 1;
    }
    return runtime;
}

// Called for each call made to fail: a place for a debugger to stop and show the caller.
__attribute__((noinline)) void pelcAllocationFailed(unsigned long call) {
    __asm__ volatile("" : : "r"(call) : "memory");
}

// True when this call, from `caller`, is to fail.
__attribute__((noinline)) static int failsNow(const void* caller, int isRealloc) {
    const unsigned long call = atomic_fetch_add(&calls, 1) + 1;
    if (((failAt != 0 && call == failAt) || (failFrom != 0 && call >= failFrom)) &&
        !beyondTheProgram(caller, isRealloc)) {
        pelcAllocationFailed(call);
        if (traceFailures) {
            // backtrace() may allocate on its first use: those calls go through here too.
            void* frames[32];
            const int depth = backtrace(frames, 32);
            static const char line[] = "failed allocation:\n";
            if (write(STDERR_FILENO, line, sizeof line - 1) >= 0)
                backtrace_symbols_fd(frames, depth, STDERR_FILENO);
        }
        return 1;
    }
    return 0;
}

void* malloc(size_t size) {
    if (resolving)
        return bootstrapAlloc(size);
    resolve();
    if (failsNow(__builtin_return_address(0), 0)) {
        errno = ENOMEM;
        return NULL;
    }
    return nextMalloc(size);
}

void* calloc(size_t count, size_t size) {
    if (resolving) {
        // The static buffer is zero and never reused.
        if (size != 0 && count > SIZE_MAX / size)
            return NULL;
        return bootstrapAlloc(count * size);
    }
    resolve();
    if (failsNow(__builtin_return_address(0), 0)) {
        errno = ENOMEM;
        return NULL;
    }
    return nextCalloc(count, size);
}

void* realloc(void* p, size_t size) {
    resolve();
    if (fromBootstrap(p)) {
        void* moved = malloc(size);
        const size_t left = (size_t)(bootstrap + sizeof bootstrap - (unsigned char*)p);
        if (moved != NULL)
            memcpy(moved, p, size < left ? size : left);
        return moved;
    }
    if (failsNow(__builtin_return_address(0), 1)) {
        errno = ENOMEM;
        return NULL;
    }
    return nextRealloc(p, size);
}

void free(void* p) {
    if (p == NULL || fromBootstrap(p))
        return;
    resolve();
    nextFree(p);
}

int posix_memalign(void** out, size_t alignment, size_t size) {
    resolve();
    if (failsNow(__builtin_return_address(0), 0))
        return ENOMEM;
    return nextPosixMemalign(out, alignment, size);
}

void* aligned_alloc(size_t alignment, size_t size) {
    resolve();
    if (failsNow(__builtin_return_address(0), 0)) {
        errno = ENOMEM;
        return NULL;
    }
    return nextAlignedAlloc(alignment, size);
}

void* memalign(size_t alignment, size_t size) {
    resolve();
    if (failsNow(__builtin_return_address(0), 0)) {
        errno = ENOMEM;
        return NULL;
    }
    return nextMemalign(alignment, size);
}

void* valloc(size_t size) {
    resolve();
    if (failsNow(__builtin_return_address(0), 0)) {
        errno = ENOMEM;
        return NULL;
    }
    return nextValloc(size);
}
