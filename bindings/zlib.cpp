// Zlib: compression of script Strings into zlib streams (header, deflate
// data, Adler-32) and back, as singleton methods of the top-level class
// Zlib. Failures answer nil; only a wrong argument count raises. Depends on
// zlib and mruby.
#include <limits.h>

#include <zlib.h>

#include <mruby.h>
#include <mruby/class.h>
#include <mruby/string.h>

#include <SDL.h>

#include "bindings/ffi_internal.h"

// First output size for a stream of n bytes; it doubles from there.
#define ZLIB_UNCOMPRESS_FIRST_FACTOR 4
#define ZLIB_UNCOMPRESS_FIRST_MIN 256

Uint8 *zlib_compress_bytes(const Uint8 *data, size_t len, size_t *out_len)
{
    // zlib's bound guarantees that a single call always fits.
    const uLong bound = compressBound((uLong)len);
    Uint8 *out = (Uint8 *)SDL_malloc(bound);
    if (!out) {
        SDL_OutOfMemory();
        return NULL;
    }
    uLongf written = bound;
    const int rc = compress2(out, &written, data, (uLong)len, Z_DEFAULT_COMPRESSION);
    if (rc != Z_OK) {
        SDL_free(out);
        SDL_SetError("zlib: compression failed (%s)", zError(rc));
        return NULL;
    }
    *out_len = (size_t)written;
    return out;
}

// Inflates in a buffer that starts near a few times the input and doubles
// up to the limit. Each call sizes its own buffer, so one highly
// compressible stream costs nothing to later calls. The input and output are
// handed to zlib in pieces, since its counters are 32 bits wide.
Uint8 *zlib_uncompress_bytes(const Uint8 *data, size_t len, size_t limit, size_t *out_len)
{
    z_stream zs;
    SDL_zero(zs);
    if (inflateInit(&zs) != Z_OK) {
        SDL_SetError("zlib: %s", zs.msg ? zs.msg : "cannot start decompression");
        return NULL;
    }

    size_t cap = len > limit / ZLIB_UNCOMPRESS_FIRST_FACTOR ? limit : len * ZLIB_UNCOMPRESS_FIRST_FACTOR;
    if (cap < ZLIB_UNCOMPRESS_FIRST_MIN) {
        cap = limit < ZLIB_UNCOMPRESS_FIRST_MIN ? limit : ZLIB_UNCOMPRESS_FIRST_MIN;
    }
    Uint8 *out = (Uint8 *)SDL_malloc(cap ? cap : 1);
    if (!out) {
        inflateEnd(&zs);
        SDL_OutOfMemory();
        return NULL;
    }

    size_t used = 0;
    size_t fed = 0;
    int rc;
    for (;;) {
        if (zs.avail_in == 0 && fed < len) {
            const size_t piece = len - fed < UINT_MAX ? len - fed : UINT_MAX;
            zs.next_in = (Bytef *)(data + fed);
            zs.avail_in = (uInt)piece;
            fed += piece;
        }
        if (used == cap && cap < limit) {
            const size_t grown = cap > limit / 2 ? limit : cap * 2;
            Uint8 *bigger = (Uint8 *)SDL_realloc(out, grown);
            if (!bigger) {
                SDL_OutOfMemory();
                break;
            }
            out = bigger;
            cap = grown;
        }
        // At the limit, a one-byte probe tells a stream that ends here from
        // one that would produce more.
        Uint8 probe;
        const int probing = used == cap;
        const size_t room = probing ? 1 : (cap - used < UINT_MAX ? cap - used : UINT_MAX);
        zs.next_out = probing ? &probe : out + used;
        zs.avail_out = (uInt)room;
        rc = inflate(&zs, Z_NO_FLUSH);
        const size_t produced = room - zs.avail_out;
        if (probing && produced > 0) {
            SDL_SetError("zlib: the data expands to more than %llu bytes", (unsigned long long)limit);
            break;
        }
        if (!probing) {
            used += produced;
        }
        if (rc == Z_STREAM_END) {
            inflateEnd(&zs);
            *out_len = used;
            return out;
        }
        if (rc == Z_OK) {
            continue;
        }
        // Output room was given, so Z_BUF_ERROR means the input ran out
        // before the stream ended.
        SDL_SetError("zlib: %s", rc == Z_BUF_ERROR ? "the stream is truncated"
                                 : zs.msg            ? zs.msg
                                                     : zError(rc));
        break;
    }
    inflateEnd(&zs);
    SDL_free(out);
    return NULL;
}

// Holds a result buffer until the String copy is made (which can raise).
struct zlib_result {
    Uint8 *data;
    ~zlib_result()
    {
        SDL_free(data);
    }
};

static mrb_value zlib_compress(mrb_state *mrb, mrb_value self)
{
    mrb_value data;
    mrb_get_args(mrb, "o", &data);
    if (!mrb_string_p(data)) {
        return mrb_nil_value();
    }
    size_t len = 0;
    zlib_result result = {zlib_compress_bytes((const Uint8 *)RSTRING_PTR(data), (size_t)RSTRING_LEN(data), &len)};
    if (!result.data) {
        return mrb_nil_value();
    }
    return mrb_str_new(mrb, (const char *)result.data, (mrb_int)len);
}

static mrb_value zlib_uncompress(mrb_state *mrb, mrb_value self)
{
    mrb_value data;
    mrb_get_args(mrb, "o", &data);
    if (!mrb_string_p(data)) {
        return mrb_nil_value();
    }
    size_t len = 0;
    zlib_result result = {zlib_uncompress_bytes((const Uint8 *)RSTRING_PTR(data), (size_t)RSTRING_LEN(data),
                                                ZLIB_UNCOMPRESS_MAX, &len)};
    if (!result.data) {
        return mrb_nil_value();
    }
    return mrb_str_new(mrb, (const char *)result.data, (mrb_int)len);
}

void ffi_zlib_register(mrb_state *mrb)
{
    struct RClass *cls = mrb_define_class(mrb, "Zlib", mrb->object_class);
    mrb_define_class_method(mrb, cls, "compress", zlib_compress, MRB_ARGS_REQ(1));
    mrb_define_class_method(mrb, cls, "deflate", zlib_compress, MRB_ARGS_REQ(1));
    mrb_define_class_method(mrb, cls, "uncompress", zlib_uncompress, MRB_ARGS_REQ(1));
    mrb_define_class_method(mrb, cls, "inflate", zlib_uncompress, MRB_ARGS_REQ(1));
}
