// Image decoding and PNG encoding. Pixel buffers are width x height pixels,
// rows from the top, 4 bytes per pixel in the byte order R, G, B, A
// (SDL_PIXELFORMAT_ABGR8888 on a little-endian machine), pitch width x 4.
// Also the pure pixel helpers behind screenshots and the size rule for
// pixel arrays that scripts and native extensions upload.
#pragma once

#include <SDL.h>
#include <stddef.h>

// Largest image the loader decodes: each side at most IMAGE_MAX_DIMENSION
// and the decoded buffer at most IMAGE_MAX_BYTES, checked on the header
// before any pixel is decoded, so a small hostile file cannot make the
// loader allocate without bound.
#define IMAGE_MAX_DIMENSION 32768
#define IMAGE_MAX_BYTES ((Uint64)1 << 30)

// Decodes an image of the virtual file system into RGBA bytes (any layout
// the decoder knows: grey, grey+alpha, RGB, RGBA, paletted; 16-bit channels
// keep their high byte). The size is written only on success; either out
// pointer may be null. Null on failure, with the reason in SDL_GetError; a
// file that cannot be opened leaves PhysFS's error code as the open set it.
// Nothing is logged. Release the buffer with free_image.
Uint8 *load_image(const char *path, int *width, int *height);

// Reads only the header: 1 and the size when the format is recognised; 0
// with both set to 0 when the file opens but is not recognised; 0 without
// writing when the file cannot be opened.
int load_image_only_dimensions(const char *path, int *width, int *height);

void free_image(Uint8 *pixels);

// Encodes RGBA pixels as an 8-bit RGBA PNG (colour type 6). When target_w
// and target_h are both positive and differ from the source size, the image
// is first scaled to the target size. Returns the file image (SDL_malloc,
// free with SDL_free) and its size, or null with the reason in SDL_GetError.
Uint8 *encode_png(const Uint8 *pixels, int width, int height, int target_w, int target_h, size_t *out_size);

// Byte count of a width x height RGBA buffer, computed in 64 bits: 1 when
// both sides are positive and the count fits the given limit, else 0 with
// the reason in SDL_GetError.
int image_byte_count(int width, int height, Uint64 limit, size_t *bytes);

// A zero-filled width x height RGBA buffer (SDL_malloc), or null when a
// side is not positive, the size exceeds IMAGE_MAX_BYTES, or memory is out.
Uint8 *image_allocate(int width, int height);

// Pixel arrays travel as one length-prefixed buffer in a thread stream,
// whose length is a signed 32-bit count: 1 and the byte count when both
// sides are positive and width x height x 4 fits that length.
int pixel_array_byte_count(int width, int height, size_t *bytes);

// Truncates a mapped rectangle toward zero (NaN counts as 0) and intersects
// it with a target of target_w x target_h pixels, in 64-bit arithmetic so
// that no value can overflow. 1 and the intersection when it is not
// empty; 0 (and an empty *out) otherwise.
int image_clip_rect(int target_w, int target_h, double x, double y, double w, double h, SDL_Rect *out);

// Copies the part of rect that lies inside a src_w x src_h buffer into a
// new zero-filled buffer of that part's size. Null, with *out_w and *out_h
// set to 0, when the intersection is empty or memory is out.
Uint8 *image_crop(const Uint8 *src, int src_w, int src_h, const SDL_Rect *rect, int *out_w, int *out_h);

// Screenshot key colour: when alpha is not 255, every pixel whose red, green
// and blue each lie within tolerance of the key colour (components clamped
// to 0..255) gets the alpha byte alpha clamped to 0..255.
void image_key_alpha(Uint8 *pixels, int width, int height, int tolerance, int key_r, int key_g, int key_b, int alpha);

// Entry points of the native-extension table: this engine decodes no images
// for extensions, so loading answers null and freeing does nothing.
Uint8 *mnf_load_image(const char *path, int *width, int *height);
void mnf_free_image(Uint8 *pixels);
