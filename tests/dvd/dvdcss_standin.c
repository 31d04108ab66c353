/* A stand-in for libdvdcss in the tests: the dvdcss_* calls Zembra uses, over
 * a disc image whose scrambled packs were made with the tests' reversible
 * transform (real CSS cannot be produced here). A pack is unscrambled only
 * after a seek that asked for the title key, as with the real library, and
 * comes back with its scrambling bits cleared. */
#include <fcntl.h>
#include <stdint.h>
#include <stdlib.h>
#include <unistd.h>

#define BLOCK 2048
#define READ_DECRYPT 1
#define SEEK_KEY 2

struct dvdcss_s {
    int fd;
    int keyed;
};
typedef struct dvdcss_s* dvdcss_t;

/* The same transform as the tests' scrambler: its own inverse. */
static void transform(uint8_t* sector) {
    for (int i = 128; i < BLOCK; ++i) sector[i] ^= (uint8_t)(0x5A + 7 * i);
}

dvdcss_t dvdcss_open(const char* target) {
    int fd = open(target, O_RDONLY);
    if (fd < 0) return NULL;
    dvdcss_t h = calloc(1, sizeof *h);
    if (!h) {
        close(fd);
        return NULL;
    }
    h->fd = fd;
    return h;
}

int dvdcss_close(dvdcss_t h) {
    if (!h) return -1;
    close(h->fd);
    free(h);
    return 0;
}

int dvdcss_seek(dvdcss_t h, int blocks, int flags) {
    if (lseek(h->fd, (off_t)blocks * BLOCK, SEEK_SET) < 0) return -1;
    if (flags & SEEK_KEY) h->keyed = 1;
    return blocks;
}

int dvdcss_read(dvdcss_t h, void* buffer, int blocks, int flags) {
    ssize_t got = read(h->fd, buffer, (size_t)blocks * BLOCK);
    if (got < 0) return -1;
    int n = (int)(got / BLOCK);
    for (int b = 0; b < n && (flags & READ_DECRYPT) && h->keyed; ++b) {
        uint8_t* s = (uint8_t*)buffer + (size_t)b * BLOCK;
        if (!(s[0x14] & 0x30)) continue;
        transform(s);
        s[0x14] &= 0x8F;
    }
    return n;
}

char* dvdcss_error(dvdcss_t h) {
    static char none[1];
    (void)h;
    return none;
}
