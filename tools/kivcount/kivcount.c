/* A preload library that counts the work a program does through the C
 * library and the C++ allocator, for tests that hold kiv's cost per record
 * flat: a search of the rest of a table per record, or a copy of it, shows
 * as bytes that grow with the square of the records, whatever the code that
 * does it. Counted, never timed, so that a loaded machine changes nothing.
 *
 *   bytes        searched (memchr, memrchr, strlen, strchr), compared
 *                (memcmp, bcmp) or copied (memcpy, memmove) for the program
 *   allocations  calls of operator new
 *   allocated    the bytes they asked for
 *   peak         the most bytes operator new's blocks held at once: a
 *                program that holds a whole table grows it with the rows
 *   syncs        calls of fsync, fdatasync and syncfs: a job's commit
 *                must not sync once per file it writes
 *
 * At exit the figures go, one "name value" line each, to the file named
 * by KIV_COUNT_FILE (if set). The real functions are found with dlsym on
 * first use; while dlsym itself runs, plain loops stand in. Built without
 * the sanitizers and without the compiler's own calls of these functions
 * (-fno-builtin -fno-tree-loop-distribute-patterns), so a loop here never
 * calls itself. Operator new goes to malloc and delete to free, so that a
 * sanitizer's allocator, when there is one, still sees every block. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <malloc.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static unsigned long long bytes, allocations, allocated, syncs, peak;
/* Signed: a block that some other allocator gave and operator delete frees
 * may take it below the truth, never above. */
static long long held;
static __thread int resolving;

/* kiv writes its CSV from a thread of its own. */
static void Count(unsigned long long* counter, size_t n) { __atomic_add_fetch(counter, n, __ATOMIC_RELAXED); }

static void* Real(const char* name)
{
    resolving = 1;
    void* f = dlsym(RTLD_NEXT, name);
    resolving = 0;
    return f;
}

typedef void* (*FindFn)(const void*, int, size_t);
typedef size_t (*LengthFn)(const char*);
typedef char* (*FindCharFn)(const char*, int);
typedef int (*CompareFn)(const void*, const void*, size_t);
typedef void* (*MoveFn)(void*, const void*, size_t);

#define REAL(type, name)                                                                                     \
    static type real_##name;                                                                                 \
    if (!real_##name && !resolving)                                                                          \
    real_##name = (type)Real(#name)

void* memchr(const void* s, int c, size_t n)
{
    REAL(FindFn, memchr);
    const unsigned char* p = s;
    const unsigned char* hit = real_memchr ? real_memchr(s, c, n) : NULL;
    if (!real_memchr)
        for (size_t i = 0; i < n && !hit; i++)
            hit = p[i] == (unsigned char)c ? p + i : NULL;
    Count(&bytes, hit ? (size_t)(hit - p) + 1 : n);
    return (void*)hit;
}

void* memrchr(const void* s, int c, size_t n)
{
    REAL(FindFn, memrchr);
    const unsigned char* p = s;
    const unsigned char* hit = real_memrchr ? real_memrchr(s, c, n) : NULL;
    if (!real_memrchr)
        for (size_t i = n; i-- > 0 && !hit;)
            hit = p[i] == (unsigned char)c ? p + i : NULL;
    Count(&bytes, hit ? n - (size_t)(hit - p) : n);
    return (void*)hit;
}

size_t strlen(const char* s)
{
    REAL(LengthFn, strlen);
    size_t n = 0;
    if (real_strlen)
        n = real_strlen(s);
    else
        while (s[n])
            n++;
    Count(&bytes, n + 1);
    return n;
}

char* strchr(const char* s, int c)
{
    REAL(FindCharFn, strchr);
    const char* hit = NULL;
    if (real_strchr)
        hit = real_strchr(s, c);
    else
        for (const char* p = s;; p++)
            if (*p == (char)c || !*p) {
                hit = *p == (char)c ? p : NULL;
                break;
            }
    size_t n = 0;
    if (hit)
        n = (size_t)(hit - s) + 1;
    else
        while (s[n++])
            ;
    Count(&bytes, n);
    return (char*)hit;
}

int memcmp(const void* a, const void* b, size_t n)
{
    REAL(CompareFn, memcmp);
    Count(&bytes, n);
    if (real_memcmp)
        return real_memcmp(a, b, n);
    const unsigned char *x = a, *y = b;
    for (size_t i = 0; i < n; i++)
        if (x[i] != y[i])
            return x[i] < y[i] ? -1 : 1;
    return 0;
}

int bcmp(const void* a, const void* b, size_t n) { return memcmp(a, b, n) != 0; }

void* memmove(void* to, const void* from, size_t n)
{
    REAL(MoveFn, memmove);
    Count(&bytes, n);
    if (real_memmove)
        return real_memmove(to, from, n);
    unsigned char* t = to;
    const unsigned char* f = from;
    if (t < f)
        for (size_t i = 0; i < n; i++)
            t[i] = f[i];
    else
        for (size_t i = n; i-- > 0;)
            t[i] = f[i];
    return to;
}

void* memcpy(void* to, const void* from, size_t n) { return memmove(to, from, n); }

typedef int (*SyncFn)(int);

int fsync(int fd)
{
    REAL(SyncFn, fsync);
    Count(&syncs, 1);
    return real_fsync(fd);
}

int fdatasync(int fd)
{
    REAL(SyncFn, fdatasync);
    Count(&syncs, 1);
    return real_fdatasync(fd);
}

int syncfs(int fd)
{
    REAL(SyncFn, syncfs);
    Count(&syncs, 1);
    return real_syncfs(fd);
}

/* The blocks' sizes as the allocator has them, the same when a block is
 * given and when it is freed. */
static void Hold(void* p)
{
    long long now = __atomic_add_fetch(&held, (long long)malloc_usable_size(p), __ATOMIC_RELAXED);
    unsigned long long most = __atomic_load_n(&peak, __ATOMIC_RELAXED);
    while (now > (long long)most && !__atomic_compare_exchange_n(&peak, &most, (unsigned long long)now, 1,
                                                                 __ATOMIC_RELAXED, __ATOMIC_RELAXED))
        ;
}

static void Release(void* p)
{
    if (p)
        __atomic_sub_fetch(&held, (long long)malloc_usable_size(p), __ATOMIC_RELAXED);
    free(p);
}

/* operator new (size_t) and new[] (size_t); a test tool, so a failed
 * allocation ends the program rather than throwing. */
static void* New(size_t n)
{
    Count(&allocations, 1);
    Count(&allocated, n);
    void* p = malloc(n ? n : 1);
    if (!p)
        abort();
    Hold(p);
    return p;
}

void* _Znwm(size_t n) { return New(n); }
void* _Znam(size_t n) { return New(n); }
void _ZdlPv(void* p) { Release(p); }
void _ZdaPv(void* p) { Release(p); }
void _ZdlPvm(void* p, size_t n)
{
    (void)n;
    Release(p);
}
void _ZdaPvm(void* p, size_t n)
{
    (void)n;
    Release(p);
}

__attribute__((destructor)) static void Report(void)
{
    const char* path = getenv("KIV_COUNT_FILE");
    FILE* f = path ? fopen(path, "w") : NULL;
    if (!f)
        return;
    fprintf(f, "bytes %llu\nallocations %llu\nallocated %llu\nsyncs %llu\npeak %llu\n", bytes, allocations,
            allocated, syncs, peak);
    fclose(f);
}
