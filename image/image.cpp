// Image decoding and PNG encoding: stb_image decodes files streamed from the
// virtual file system (PhysFS) through its callback interface, lodepng
// encodes screenshots, SDL surfaces do the optional scaling. Also the pure
// pixel-buffer helpers that screenshots and pixel-array uploads share.
// Depends on SDL2, PhysFS, libstb and liblodepng.
#include "image/image.h"

#include <stdlib.h>

#include <lodepng.h>
#include <physfs.h>
#include <stb/stb_image.h>

namespace {

struct image_reader {
    PHYSFS_File *file;
    int error;
};

}

static int image_read(void *user, char *data, int size)
{
    image_reader *r = (image_reader *)user;
    if (r->error || size <= 0)
        return 0;
    const PHYSFS_sint64 n = PHYSFS_readBytes(r->file, data, (PHYSFS_uint64)size);
    if (n < 0) {
        r->error = 1;
        return 0;
    }
    return (int)n;
}

// stb_image skips forward only; a seek past the end (or a failing seek)
// leaves the reader at its end so the decoder sees end-of-file.
static void image_skip(void *user, int n)
{
    image_reader *r = (image_reader *)user;
    if (r->error)
        return;
    const PHYSFS_sint64 pos = PHYSFS_tell(r->file);
    const PHYSFS_sint64 len = PHYSFS_fileLength(r->file);
    if (pos < 0) {
        r->error = 1;
        return;
    }
    PHYSFS_sint64 target = pos + n;
    if (target < 0)
        target = 0;
    if (len >= 0 && target > len)
        target = len;
    if (!PHYSFS_seek(r->file, (PHYSFS_uint64)target))
        r->error = 1;
}

static int image_eof(void *user)
{
    image_reader *r = (image_reader *)user;
    return r->error || PHYSFS_eof(r->file);
}

static const stbi_io_callbacks image_callbacks = {image_read, image_skip, image_eof};

int image_byte_count(int width, int height, Uint64 limit, size_t *bytes)
{
    if (width <= 0 || height <= 0)
        return SDL_SetError("Image size %dx%d is not positive", width, height), 0;
    const Uint64 n = (Uint64)width * (Uint64)height * 4u;
    if (n > limit || n > (Uint64)SDL_SIZE_MAX)
        return SDL_SetError("Image size %dx%d is too large", width, height), 0;
    if (bytes)
        *bytes = (size_t)n;
    return 1;
}

int pixel_array_byte_count(int width, int height, size_t *bytes)
{
    return image_byte_count(width, height, (Uint64)SDL_MAX_SINT32, bytes);
}

Uint8 *image_allocate(int width, int height)
{
    size_t n;
    if (!image_byte_count(width, height, IMAGE_MAX_BYTES, &n))
        return nullptr;
    Uint8 *p = (Uint8 *)SDL_calloc(1, n);
    if (!p)
        SDL_OutOfMemory();
    return p;
}

static int image_size_acceptable(int w, int h)
{
    if (w > IMAGE_MAX_DIMENSION || h > IMAGE_MAX_DIMENSION)
        return SDL_SetError("Image size %dx%d is too large", w, h), 0;
    return image_byte_count(w, h, IMAGE_MAX_BYTES, nullptr);
}

Uint8 *load_image(const char *path, int *width, int *height)
{
    if (!path) {
        SDL_InvalidParamError("path");
        return nullptr;
    }
    PHYSFS_File *f = PHYSFS_openRead(path);
    if (!f) {
        SDL_SetError("Couldn't open '%s'", path);
        return nullptr;
    }

    // The header decides whether the image is decoded at all.
    image_reader r = {f, 0};
    int w = 0, h = 0, comp = 0;
    Uint8 *pixels = nullptr;
    if (!stbi_info_from_callbacks(&image_callbacks, &r, &w, &h, &comp)) {
        SDL_SetError("Couldn't decode '%s': %s", path, stbi_failure_reason());
    } else if (!image_size_acceptable(w, h)) {
        SDL_SetError("Couldn't decode '%s': size %dx%d is too large", path, w, h);
    } else if (!PHYSFS_seek(f, 0)) {
        SDL_SetError("Couldn't rewind '%s'", path);
    } else {
        r.error = 0;
        int lw = 0, lh = 0;
        pixels = stbi_load_from_callbacks(&image_callbacks, &r, &lw, &lh, &comp, 4);
        if (!pixels) {
            SDL_SetError("Couldn't decode '%s': %s", path, stbi_failure_reason());
        } else if (lw != w || lh != h || !image_size_acceptable(lw, lh)) {
            stbi_image_free(pixels);
            pixels = nullptr;
            SDL_SetError("Couldn't decode '%s': header and image disagree on the size", path);
        }
    }
    PHYSFS_close(f);
    if (!pixels)
        return nullptr;
    if (width)
        *width = w;
    if (height)
        *height = h;
    return pixels;
}

int load_image_only_dimensions(const char *path, int *width, int *height)
{
    if (!path)
        return 0;
    PHYSFS_File *f = PHYSFS_openRead(path);
    if (!f)
        return 0;
    image_reader r = {f, 0};
    int w = 0, h = 0, comp = 0;
    const int ok = stbi_info_from_callbacks(&image_callbacks, &r, &w, &h, &comp);
    PHYSFS_close(f);
    if (!ok)
        w = h = 0;
    if (width)
        *width = w;
    if (height)
        *height = h;
    return ok ? 1 : 0;
}

void free_image(Uint8 *pixels)
{
    stbi_image_free(pixels);
}

Uint8 *encode_png(const Uint8 *pixels, int width, int height, int target_w, int target_h, size_t *out_size)
{
    if (out_size)
        *out_size = 0;
    if (!pixels) {
        SDL_InvalidParamError("pixels");
        return nullptr;
    }
    if (!image_size_acceptable(width, height))
        return nullptr;

    const Uint8 *source = pixels;
    int w = width, h = height;
    SDL_Surface *scaled = nullptr;
    if (target_w > 0 && target_h > 0 && (target_w != width || target_h != height)) {
        if (!image_size_acceptable(target_w, target_h))
            return nullptr;
        SDL_Surface *src = SDL_CreateRGBSurfaceWithFormatFrom((void *)pixels, width, height, 32, width * 4,
                                                              SDL_PIXELFORMAT_ABGR8888);
        scaled = SDL_CreateRGBSurfaceWithFormat(0, target_w, target_h, 32, SDL_PIXELFORMAT_ABGR8888);
        int ok = src && scaled;
        if (ok) {
            // A straight copy: the alpha channel is data here, not a blend.
            SDL_SetSurfaceBlendMode(src, SDL_BLENDMODE_NONE);
            ok = SDL_BlitScaled(src, nullptr, scaled, nullptr) == 0;
        }
        SDL_FreeSurface(src);
        if (!ok || scaled->pitch != target_w * 4) {
            if (ok)
                SDL_SetError("Unexpected surface pitch");
            SDL_FreeSurface(scaled);
            return nullptr;
        }
        source = (const Uint8 *)scaled->pixels;
        w = target_w;
        h = target_h;
    }

    LodePNGState state;
    lodepng_state_init(&state);
    state.info_raw.colortype = LCT_RGBA;
    state.info_raw.bitdepth = 8;
    state.info_png.color.colortype = LCT_RGBA;
    state.info_png.color.bitdepth = 8;
    state.encoder.auto_convert = 0;
    unsigned char *png = nullptr;
    size_t png_size = 0;
    const unsigned err = lodepng_encode(&png, &png_size, source, (unsigned)w, (unsigned)h, &state);
    lodepng_state_cleanup(&state);
    SDL_FreeSurface(scaled);

    Uint8 *result = nullptr;
    if (err) {
        SDL_SetError("PNG encoding failed: %s", lodepng_error_text(err));
    } else if (!(result = (Uint8 *)SDL_malloc(png_size ? png_size : 1))) {
        SDL_OutOfMemory();
    } else {
        SDL_memcpy(result, png, png_size);
        if (out_size)
            *out_size = png_size;
    }
    free(png);
    return result;
}

static int image_intersect(int target_w, int target_h, Sint64 x, Sint64 y, Sint64 w, Sint64 h, SDL_Rect *out)
{
    *out = SDL_Rect{0, 0, 0, 0};
    if (target_w <= 0 || target_h <= 0 || w <= 0 || h <= 0)
        return 0;
    const Sint64 x0 = SDL_max(x, (Sint64)0), y0 = SDL_max(y, (Sint64)0);
    const Sint64 x1 = SDL_min(x + w, (Sint64)target_w), y1 = SDL_min(y + h, (Sint64)target_h);
    if (x1 <= x0 || y1 <= y0)
        return 0;
    *out = SDL_Rect{(int)x0, (int)y0, (int)(x1 - x0), (int)(y1 - y0)};
    return 1;
}

// Truncated toward zero; NaN counts as 0 and magnitudes are capped far
// beyond any target, so that sums of two values stay exact in 64 bits.
static Sint64 image_truncate(double v)
{
    const double cap = 1e15;
    if (v != v)
        return 0;
    if (v > cap)
        return (Sint64)cap;
    if (v < -cap)
        return -(Sint64)cap;
    return (Sint64)v;
}

int image_clip_rect(int target_w, int target_h, double x, double y, double w, double h, SDL_Rect *out)
{
    return image_intersect(target_w, target_h, image_truncate(x), image_truncate(y), image_truncate(w),
                           image_truncate(h), out);
}

Uint8 *image_crop(const Uint8 *src, int src_w, int src_h, const SDL_Rect *rect, int *out_w, int *out_h)
{
    *out_w = *out_h = 0;
    SDL_Rect r;
    if (!src || !rect || !image_intersect(src_w, src_h, rect->x, rect->y, rect->w, rect->h, &r))
        return nullptr;
    Uint8 *dst = image_allocate(r.w, r.h);
    if (!dst)
        return nullptr;
    const size_t src_pitch = (size_t)src_w * 4, row = (size_t)r.w * 4;
    for (int y = 0; y < r.h; y++)
        SDL_memcpy(dst + (size_t)y * row, src + (size_t)(r.y + y) * src_pitch + (size_t)r.x * 4, row);
    *out_w = r.w;
    *out_h = r.h;
    return dst;
}

void image_key_alpha(Uint8 *pixels, int width, int height, int tolerance, int key_r, int key_g, int key_b, int alpha)
{
    if (alpha == 255 || !pixels || width <= 0 || height <= 0)
        return;
    const int kr = SDL_clamp(key_r, 0, 255), kg = SDL_clamp(key_g, 0, 255), kb = SDL_clamp(key_b, 0, 255);
    const Uint8 a = (Uint8)SDL_clamp(alpha, 0, 255);
    const size_t count = (size_t)width * (size_t)height;
    for (size_t i = 0; i < count; i++) {
        Uint8 *p = pixels + i * 4;
        if (SDL_abs(p[0] - kr) <= tolerance && SDL_abs(p[1] - kg) <= tolerance && SDL_abs(p[2] - kb) <= tolerance)
            p[3] = a;
    }
}

Uint8 *mnf_load_image(const char *path, int *width, int *height)
{
    return nullptr;
}

void mnf_free_image(Uint8 *pixels)
{
}
