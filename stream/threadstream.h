// Thread streams: growable byte buffers of packed ints, floats, 64-bit sizes
// and length-prefixed strings, recycled through one process-wide free list,
// and the mutex-guarded, reference-counted queues that carry them between
// the simulation and render threads. The renderstream helpers give scene
// streams their time base and release drawn scenes.
#pragma once

#include <SDL.h>
#include <stddef.h>

struct threadstream {
    Uint8 *data;
    size_t read_pos;
    size_t length;
    size_t capacity;   // 1024 for a new stream, always 1024 * 2^k
    int failed;        // a grow failed or an unpack ran past the end
    threadstream *next;
};

struct threadstreamqueue {
    SDL_mutex *mutex;
    threadstream *head;
    threadstream *tail;
    SDL_atomic_t count;
    SDL_atomic_t references;
};

int threadstream_init(void);
void threadstream_quit(void);
threadstream *threadstream_allocate(void);
void threadstream_free(threadstream *s);
int threadstream_claim_space(threadstream *s, size_t n);

int threadstream_pack_int(threadstream *s, Sint32 v);
int threadstream_pack_float(threadstream *s, float v);
int threadstream_pack_size_t(threadstream *s, Uint64 v);
int threadstream_pack_buffer(threadstream *s, const void *ptr, size_t n);
int threadstream_pack_string(threadstream *s, const char *text);
int threadstream_pack_c_string(threadstream *s, const char *text);
// Packs a float as an int: truncated toward zero, NaN as 0, out-of-range
// values saturated at the int32 limits.
int threadstream_pack_float_as_int(threadstream *s, double v);

int threadstream_eos(const threadstream *s);
Sint32 threadstream_unpack_int(threadstream *s);
float threadstream_unpack_float(threadstream *s);
Uint64 threadstream_unpack_size_t(threadstream *s);
// Returns a pointer into the stream (NUL-terminated in place), none for the
// absent value, "" with failed set on a short or malformed string.
const char *threadstream_unpack_string(threadstream *s, Sint32 *len);
const void *threadstream_unpack_buffer(threadstream *s, Sint32 *len);

threadstreamqueue *threadstreamqueue_create(void);
void threadstreamqueue_ref(threadstreamqueue *q);
void threadstreamqueue_unref(threadstreamqueue *q);
void threadstreamqueue_putitem(threadstreamqueue *q, threadstream *s);
threadstream *threadstreamqueue_getitem(threadstreamqueue *q);
int threadstreamqueue_getcount(threadstreamqueue *q);

int renderstream_init(void);
void renderstream_quit(void);
Uint32 renderstream_tick_offset(void);
int renderstream_queue_scene(threadstream *s);
