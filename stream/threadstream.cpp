// Thread streams: packing and unpacking of plain values into growable byte
// buffers, the process-wide free list that recycles them, the queues that
// hand them between threads, and the scene-stream helpers. Depends only on
// SDL (allocator, mutexes, atomics, ticks).
#include "stream/threadstream.h"

#include <string.h>

#define THREADSTREAM_INITIAL_CAPACITY ((size_t)1024)
// Keeps every offset inside the int32 range of a string length word and
// refuses absurd requests before they reach the allocator.
#define THREADSTREAM_MAX_CAPACITY ((size_t)1 << 31)

static SDL_mutex *free_list_mutex;
static threadstream *free_list_head;

static void threadstream_destroy(threadstream *s)
{
    SDL_free(s->data);
    SDL_free(s);
}

int threadstream_init(void)
{
    threadstream_quit();
    free_list_mutex = SDL_CreateMutex();
    return free_list_mutex != NULL;
}

void threadstream_quit(void)
{
    threadstream *s = free_list_head;
    free_list_head = NULL;
    while (s) {
        threadstream *next = s->next;
        threadstream_destroy(s);
        s = next;
    }
    if (free_list_mutex) {
        SDL_DestroyMutex(free_list_mutex);
        free_list_mutex = NULL;
    }
}

threadstream *threadstream_allocate(void)
{
    threadstream *s = NULL;
    if (free_list_mutex) {
        SDL_LockMutex(free_list_mutex);
        s = free_list_head;
        if (s) {
            free_list_head = s->next;
        }
        SDL_UnlockMutex(free_list_mutex);
    }
    if (s) {
        s->next = NULL;
        return s;
    }

    s = (threadstream *)SDL_calloc(1, sizeof(*s));
    if (!s) {
        SDL_OutOfMemory();
        return NULL;
    }
    s->data = (Uint8 *)SDL_malloc(THREADSTREAM_INITIAL_CAPACITY);
    if (!s->data) {
        SDL_free(s);
        SDL_OutOfMemory();
        return NULL;
    }
    s->capacity = THREADSTREAM_INITIAL_CAPACITY;
    return s;
}

void threadstream_free(threadstream *s)
{
    if (!s) {
        return;
    }
    s->failed = 0;
    s->read_pos = 0;
    s->length = 0;
    if (!free_list_mutex) {
        // No free list (not initialised or already shut down): nothing
        // would ever reclaim the stream, so release it now.
        threadstream_destroy(s);
        return;
    }
    SDL_LockMutex(free_list_mutex);
    s->next = free_list_head;
    free_list_head = s;
    SDL_UnlockMutex(free_list_mutex);
}

// Makes room for n more bytes after the current length. Sizes are checked
// before any arithmetic can wrap; a failure marks the stream failed.
static int threadstream_grow(threadstream *s, size_t n)
{
    if (!s) {
        SDL_InvalidParamError("stream");
        return 0;
    }
    if (s->failed) {
        return 0;
    }
    if (n <= s->capacity - s->length) {
        return 1;
    }
    if (n > THREADSTREAM_MAX_CAPACITY - s->length) {
        s->failed = 1;
        SDL_SetError("Thread stream would exceed %u bytes", (unsigned)THREADSTREAM_MAX_CAPACITY);
        return 0;
    }
    size_t need = s->length + n;
    size_t cap = s->capacity ? s->capacity : THREADSTREAM_INITIAL_CAPACITY;
    while (cap < need) {
        cap *= 2;
    }
    Uint8 *data = (Uint8 *)SDL_realloc(s->data, cap);
    if (!data) {
        s->failed = 1;
        SDL_OutOfMemory();
        return 0;
    }
    s->data = data;
    s->capacity = cap;
    return 1;
}

int threadstream_claim_space(threadstream *s, size_t n)
{
    return threadstream_grow(s, n);
}

static int threadstream_pack_raw(threadstream *s, const void *v, size_t n)
{
    if (!threadstream_grow(s, n)) {
        return 0;
    }
    memcpy(s->data + s->length, v, n);
    s->length += n;
    return 1;
}

int threadstream_pack_int(threadstream *s, Sint32 v)
{
    return threadstream_pack_raw(s, &v, sizeof(v));
}

int threadstream_pack_float(threadstream *s, float v)
{
    return threadstream_pack_raw(s, &v, sizeof(v));
}

int threadstream_pack_size_t(threadstream *s, Uint64 v)
{
    return threadstream_pack_raw(s, &v, sizeof(v));
}

int threadstream_pack_float_as_int(threadstream *s, double v)
{
    Sint32 i;
    if (v != v) {
        i = 0;
    } else if (v >= 2147483648.0) {
        i = SDL_MAX_SINT32;
    } else if (v <= -2147483649.0) {
        i = SDL_MIN_SINT32;
    } else {
        i = (Sint32)v;
    }
    return threadstream_pack_int(s, i);
}

int threadstream_pack_buffer(threadstream *s, const void *ptr, size_t n)
{
    if (!ptr) {
        return threadstream_pack_int(s, -1);
    }
    if (!s) {
        SDL_InvalidParamError("stream");
        return 0;
    }
    if (s->failed) {
        return 0;
    }
    if (n > (size_t)SDL_MAX_SINT32) {
        s->failed = 1;
        SDL_SetError("Thread stream string of %llu bytes is too long", (unsigned long long)n);
        return 0;
    }
    if (!threadstream_grow(s, n + 5)) {
        return 0;
    }
    Uint8 *at = s->data + s->length;
    Sint32 len = (Sint32)n;
    memcpy(at, &len, 4);
    memcpy(at + 4, ptr, n);
    // The NUL and the padding: the capacity is a multiple of 4, so the
    // padded end still fits. Zeroed padding keeps streams reproducible.
    size_t end = (s->length + 4 + n + 4) & ~(size_t)3;
    memset(at + 4 + n, 0, end - (s->length + 4 + n));
    s->length = end;
    return 1;
}

int threadstream_pack_string(threadstream *s, const char *text)
{
    return threadstream_pack_buffer(s, text, text ? SDL_strlen(text) : 0);
}

int threadstream_pack_c_string(threadstream *s, const char *text)
{
    return threadstream_pack_buffer(s, text, text ? SDL_strlen(text) : 0);
}

int threadstream_eos(const threadstream *s)
{
    if (!s || s->read_pos >= s->length) {
        return 1;
    }
    return s->failed;
}

// Bytes left to unpack; 0 for a failed stream, so that reading stops at the
// first failure instead of decoding whatever follows it.
static size_t threadstream_remaining(const threadstream *s)
{
    if (!s || s->failed || s->read_pos >= s->length) {
        return 0;
    }
    return s->length - s->read_pos;
}

static int threadstream_unpack_raw(threadstream *s, void *out, size_t n)
{
    if (threadstream_remaining(s) < n) {
        if (s) {
            s->failed = 1;
        }
        memset(out, 0, n);
        return 0;
    }
    memcpy(out, s->data + s->read_pos, n);
    s->read_pos += n;
    return 1;
}

Sint32 threadstream_unpack_int(threadstream *s)
{
    Sint32 v;
    threadstream_unpack_raw(s, &v, sizeof(v));
    return v;
}

float threadstream_unpack_float(threadstream *s)
{
    float v;
    threadstream_unpack_raw(s, &v, sizeof(v));
    return v;
}

Uint64 threadstream_unpack_size_t(threadstream *s)
{
    Uint64 v;
    threadstream_unpack_raw(s, &v, sizeof(v));
    return v;
}

const void *threadstream_unpack_buffer(threadstream *s, Sint32 *len)
{
    if (len) {
        *len = 0;
    }
    Sint32 n;
    if (!threadstream_unpack_raw(s, &n, sizeof(n))) {
        return "";
    }
    if (n == -1) {
        return NULL;
    }
    // The bytes and their NUL must lie inside the packed length; a string
    // whose terminator is missing would let a reader run past the stream.
    size_t left = threadstream_remaining(s);
    if (n < 0 || (size_t)n >= left || s->data[s->read_pos + (size_t)n] != 0) {
        s->failed = 1;
        return "";
    }
    const Uint8 *bytes = s->data + s->read_pos;
    size_t next = (s->read_pos + (size_t)n + 1 + 3) & ~(size_t)3;
    s->read_pos = next < s->length ? next : s->length;
    if (len) {
        *len = n;
    }
    return bytes;
}

const char *threadstream_unpack_string(threadstream *s, Sint32 *len)
{
    return (const char *)threadstream_unpack_buffer(s, len);
}

threadstreamqueue *threadstreamqueue_create(void)
{
    threadstreamqueue *q = (threadstreamqueue *)SDL_calloc(1, sizeof(*q));
    if (!q) {
        SDL_OutOfMemory();
        return NULL;
    }
    q->mutex = SDL_CreateMutex();
    if (!q->mutex) {
        SDL_free(q);
        return NULL;
    }
    SDL_AtomicSet(&q->references, 1);
    return q;
}

void threadstreamqueue_ref(threadstreamqueue *q)
{
    if (q) {
        SDL_AtomicIncRef(&q->references);
    }
}

void threadstreamqueue_unref(threadstreamqueue *q)
{
    if (!q || !SDL_AtomicDecRef(&q->references)) {
        return;
    }
    threadstream *s = q->head;
    while (s) {
        threadstream *next = s->next;
        threadstream_free(s);
        s = next;
    }
    SDL_DestroyMutex(q->mutex);
    SDL_free(q);
}

void threadstreamqueue_putitem(threadstreamqueue *q, threadstream *s)
{
    if (!q || !s) {
        return;
    }
    s->next = NULL;
    SDL_LockMutex(q->mutex);
    if (q->tail) {
        q->tail->next = s;
    } else {
        q->head = s;
    }
    q->tail = s;
    SDL_AtomicAdd(&q->count, 1);
    SDL_UnlockMutex(q->mutex);
}

threadstream *threadstreamqueue_getitem(threadstreamqueue *q)
{
    if (!q) {
        return NULL;
    }
    SDL_LockMutex(q->mutex);
    threadstream *s = q->head;
    if (s) {
        q->head = s->next;
        if (!q->head) {
            q->tail = NULL;
        }
        s->next = NULL;
        SDL_AtomicAdd(&q->count, -1);
    }
    SDL_UnlockMutex(q->mutex);
    return s;
}

int threadstreamqueue_getcount(threadstreamqueue *q)
{
    return q ? SDL_AtomicGet(&q->count) : 0;
}

// Used only by the simulation thread.
static Uint32 tick_offset;
static int tick_offset_set;

int renderstream_init(void)
{
    return 1;
}

void renderstream_quit(void)
{
}

Uint32 renderstream_tick_offset(void)
{
    if (!tick_offset_set) {
        tick_offset = SDL_GetTicks();
        tick_offset_set = 1;
    }
    return tick_offset;
}

int renderstream_queue_scene(threadstream *s)
{
    threadstream_free(s);
    return 1;
}
