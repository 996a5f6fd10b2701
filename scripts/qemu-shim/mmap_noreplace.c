/* Preloaded into 32-bit Wine when it runs under QEMU's user-mode emulator.
 *
 * Wine reserves the upper part of the 32-bit address space with mmap(MAP_FIXED_NOREPLACE),
 * halving the range on each failure down to 64 KiB pieces. QEMU 7.2 treats MAP_FIXED_NOREPLACE
 * as a plain hint and, when the hinted range is taken, searches the whole guest address space
 * for another place; Wine then unmaps that and splits again. Tens of thousands of such searches
 * cost about a minute at the start of every Wine process.
 *
 * Here the request is answered the way the kernel would: when the range overlaps an existing
 * mapping (as /proc/self/maps, which QEMU emulates for the guest, shows), fail with EEXIST at
 * once; otherwise map it with MAP_FIXED, which cannot replace anything. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#ifndef MAP_FIXED_NOREPLACE
#define MAP_FIXED_NOREPLACE 0x100000
#endif

static int range_is_free(uintptr_t start, uintptr_t end) {
    FILE* maps = fopen("/proc/self/maps", "r");
    if (!maps)
        return 0;
    unsigned long lo, hi;
    char line[512];
    int free_range = 1;
    while (fgets(line, sizeof line, maps)) {
        if (sscanf(line, "%lx-%lx", &lo, &hi) == 2 && lo < end && start < hi) {
            free_range = 0;
            break;
        }
    }
    fclose(maps);
    return free_range;
}

static void* real_mmap(void* addr, size_t len, int prot, int flags, int fd, off_t off) {
    static void* (*next)(void*, size_t, int, int, int, off_t);
    if (!next)
        next = (void* (*)(void*, size_t, int, int, int, off_t))dlsym(RTLD_NEXT, "mmap");
    return next(addr, len, prot, flags, fd, off);
}

void* mmap(void* addr, size_t len, int prot, int flags, int fd, off_t off) {
    if ((flags & MAP_FIXED_NOREPLACE) && addr && len) {
        uintptr_t start = (uintptr_t)addr;
        uintptr_t end = start + len;
        if (end < start || !range_is_free(start, end)) {
            errno = EEXIST;
            return MAP_FAILED;
        }
        flags = (flags & ~MAP_FIXED_NOREPLACE) | MAP_FIXED;
    }
    return real_mmap(addr, len, prot, flags, fd, off);
}

void* mmap64(void* addr, size_t len, int prot, int flags, int fd, off64_t off) {
    return mmap(addr, len, prot, flags, fd, (off_t)off);
}
