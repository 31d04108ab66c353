/* A stand-in for libmp3lame.so.0 with LAME's C interface, for the tests of
 * what the AVI writer does when the library fails. The bit rate picks the
 * failure:
 *   8 kbit/s   lame_init_params complains and refuses,
 *   16 kbit/s  lame_init_params complains and goes on,
 *   24 kbit/s  every lame_encode_buffer complains and fails,
 *   32 kbit/s  lame_encode_flush complains and fails,
 * anything else encodes every call to one byte per sample frame. */
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

typedef void (*report_fn)(const char*, va_list);

typedef struct {
    report_fn errorf;
    int brate;
    int out_rate;
} fake_flags;

static void complain(fake_flags* f, const char* format, ...) {
    va_list args;
    if (!f->errorf) return;
    va_start(args, format);
    f->errorf(format, args);
    va_end(args);
}

void* lame_init(void) { return calloc(1, sizeof(fake_flags)); }
int lame_close(void* f) {
    free(f);
    return 0;
}
const char* get_lame_version(void) { return "0.fake"; }

int lame_init_params(void* p) {
    fake_flags* f = p;
    if (f->brate == 8) {
        complain(f, "fake lame: %d kbps refused", f->brate);
        return -1;
    }
    if (f->brate == 16) complain(f, "fake lame: %d kbps is low", f->brate);
    return 0;
}

static int encode(fake_flags* f, int n, unsigned char* out, int cap) {
    if (f->brate == 24) {
        complain(f, "fake lame: cannot encode %d samples", n);
        return -1;
    }
    if (n > cap) return -1;
    memset(out, 0xAA, (size_t)n);
    return n;
}

int lame_encode_buffer(void* f, const short* l, const short* r, int n, unsigned char* out,
                       int cap) {
    (void)l;
    (void)r;
    return encode(f, n, out, cap);
}
int lame_encode_buffer_interleaved(void* f, short* pcm, int n, unsigned char* out, int cap) {
    (void)pcm;
    return encode(f, n, out, cap);
}
int lame_encode_flush(void* p, unsigned char* out, int cap) {
    fake_flags* f = p;
    (void)out;
    (void)cap;
    if (f->brate == 32) {
        complain(f, "fake lame: flush failed");
        return -1;
    }
    return 0;
}
int lame_get_encoder_delay(void* f) {
    (void)f;
    return 576;
}
int lame_get_out_samplerate(void* p) { return ((fake_flags*)p)->out_rate; }
int lame_get_brate(void* p) { return ((fake_flags*)p)->brate; }
int lame_set_errorf(void* p, report_fn fn) {
    ((fake_flags*)p)->errorf = fn;
    return 0;
}
int lame_set_brate(void* p, int v) {
    ((fake_flags*)p)->brate = v;
    return 0;
}
int lame_set_out_samplerate(void* p, int v) {
    ((fake_flags*)p)->out_rate = v;
    return 0;
}
void lame_set_write_id3tag_automatic(void* f, int v) {
    (void)f;
    (void)v;
}

#define IGNORED(name, type)     \
    int name(void* f, type v) { \
        (void)f;                \
        (void)v;                \
        return 0;               \
    }
IGNORED(lame_set_debugf, report_fn)
IGNORED(lame_set_msgf, report_fn)
IGNORED(lame_set_in_samplerate, int)
IGNORED(lame_set_num_channels, int)
IGNORED(lame_set_bWriteVbrTag, int)
IGNORED(lame_set_quality, int)
IGNORED(lame_set_mode, int)
IGNORED(lame_set_copyright, int)
IGNORED(lame_set_original, int)
IGNORED(lame_set_error_protection, int)
IGNORED(lame_set_extension, int)
IGNORED(lame_set_disable_reservoir, int)
IGNORED(lame_set_VBR, int)
IGNORED(lame_set_VBR_q, int)
IGNORED(lame_set_VBR_min_bitrate_kbps, int)
IGNORED(lame_set_VBR_max_bitrate_kbps, int)
IGNORED(lame_set_lowpassfreq, int)
IGNORED(lame_set_lowpasswidth, int)
IGNORED(lame_set_highpassfreq, int)
IGNORED(lame_set_highpasswidth, int)
