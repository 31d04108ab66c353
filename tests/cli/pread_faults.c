/* A fault-injecting image reader for the tests: preloaded into zembra, it
 * makes every read of a disc image (a file whose name ends in ".iso") that
 * touches the sectors ZEMBRA_BAD_SECTORS="FIRST-LAST" fail with EIO, as a
 * scratched disc does; every other read goes through. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <unistd.h>

typedef ssize_t (*pread_fn)(int, void*, size_t, off_t);

static int hits_bad_sectors(int fd, size_t count, off_t offset) {
    const char* range = getenv("ZEMBRA_BAD_SECTORS");
    long long first = 0, last = -1;
    if (!range || sscanf(range, "%lld-%lld", &first, &last) != 2) return 0;
    char link[64], path[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t n = readlink(link, path, sizeof path - 1);
    if (n < 4) return 0;
    path[n] = 0;
    if (strcmp(path + n - 4, ".iso") != 0) return 0;
    long long from = (long long)offset / 2048, to = ((long long)offset + (long long)count - 1) / 2048;
    return count > 0 && from <= last && to >= first;
}

static ssize_t faulty(const char* name, int fd, void* buf, size_t count, off_t offset) {
    if (hits_bad_sectors(fd, count, offset)) {
        errno = EIO;
        return -1;
    }
    pread_fn next = (pread_fn)dlsym(RTLD_NEXT, name);
    return next(fd, buf, count, offset);
}

ssize_t pread(int fd, void* buf, size_t count, off_t offset) {
    return faulty("pread", fd, buf, count, offset);
}

ssize_t pread64(int fd, void* buf, size_t count, off_t offset) {
    return faulty("pread64", fd, buf, count, offset);
}
