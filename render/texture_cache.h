// Name-keyed caches of the render thread: the texture map (image textures,
// render targets and uploaded pixel arrays share one namespace) and the
// cursor map. Lookups never fail visibly: a missing image is the
// checkerboard, a missing cursor the system default. Entries live until the
// map is deleted with the render context.
//
// Threads: everything here runs on the render thread, except
// texture_map_sprite_size, which the simulation thread may call at any
// time. For that, every change to the texture map that it can observe
// (inserting an entry; an entry's texture, pixel copy, width and height) is
// made under the map's lock, and render-thread code changes those fields
// only through the functions below.
#pragma once

#include <SDL.h>

struct render_context;

#define TEXTURE_MAP_BUCKETS 256
#define CURSOR_MAP_BUCKETS 16

struct texture_entry {
    char *name;
    SDL_Texture *texture;
    int render_target;   // 1: a pass's render target
    int width, height;   // texture size in pixels
    int warned;          // the sprite boundary warning was logged
    Uint8 *pixels;       // retained RGBA copy of an uploaded pixel array
    texture_entry *next;
    float scale;         // render targets: render scale at creation; 0 for images
};

struct texture_map {
    SDL_mutex *lock;
    texture_entry *buckets[TEXTURE_MAP_BUCKETS];
};

// What draw code needs to draw a named texture. entry is none for the
// built-in "pixel"/"solid" and for the checkerboard fallback.
struct texture_lookup {
    int render_target;
    SDL_Texture *texture;
    texture_entry *entry;
    int width, height;
    float scale;
};

struct cursor_entry {
    char *name;
    SDL_Cursor *cursor;
    cursor_entry *next;
};

struct cursor_map {
    cursor_entry *buckets[CURSOR_MAP_BUCKETS];
};

// h := 5381; h := (h * 33) XOR byte, in 32-bit unsigned arithmetic. The
// texture and font maps use h & 255, the cursor map h & 15.
Uint32 cache_name_hash(const char *name);

// A static ABGR8888 texture with alpha blending holding w x h pixels; none
// when it cannot be made or filled.
SDL_Texture *texture_create_static(SDL_Renderer *r, int w, int h, const void *pixels);

texture_map *texture_map_new(void);
// Destroys every entry's texture, frees its pixel copy, name and the entry,
// then the map. Accepts none.
void texture_map_delete(texture_map *map);

// The entry for a name, created empty on first use (the map too, when the
// render context has none yet). None for a null name or when memory runs out.
texture_entry *lookup_texture_no_fallback(render_context *rc, const char *name);
// "pixel" and "solid" give the solid texture; otherwise the entry's texture,
// loaded from the image file (or rebuilt from its pixel copy) when it has
// none; the checkerboard when that fails. A failed load is retried on the
// next lookup.
texture_lookup lookup_texture(render_context *rc, const char *path);

// Uploads a width x height RGBA pixel array under a name: into the entry's
// texture when it already has one of that size, else into a new static
// texture. The entry keeps a copy of the pixels so the texture survives a
// device reset. Refused (0) for an empty name, sides that are not positive,
// no pixels, or a byte count other than width x height x 4.
int texture_map_upload_pixels(render_context *rc, const char *name, int width, int height, const void *pixels,
                              size_t byte_count);

// Drops the texture of a name (and any pixel copy); the entry stays and the
// next lookup loads the file again. Empty names are ignored.
void texture_map_unload(render_context *rc, const char *name);

// Makes the entry a render target of width x height pixels drawn at scale:
// its texture is kept when it already is a target of that size, else
// (re)created as an ABGR8888 target texture with blend mode BLEND. The
// texture, or none (the entry then has none either) when it cannot be made.
SDL_Texture *texture_entry_make_render_target(render_context *rc, texture_entry *entry, int width, int height,
                                              float scale);

// Device-reset recovery: destroy the textures of all entries that are not
// render targets (they reload, or rebuild from their pixel copy, on the next
// lookup), or of all render-target entries (the next pass naming one
// recreates it). Entries stay. Accept none.
void texture_map_recover_textures(texture_map *map);
void texture_map_recover_render_targets(texture_map *map);

// Size of a sprite without creating or loading anything, for any thread:
// an entry holding a texture or a pixel copy answers its recorded size;
// otherwise the image file's header is probed, and a file that cannot be
// probed answers the checkerboard's 256 x 256. 0 (no size) when the
// recorded or probed width is -1; the map may be none.
int texture_map_sprite_size(texture_map *map, const char *path, int *width, int *height);

cursor_map *cursor_map_new(void);
// Frees every cursor, name and entry, then the map. Accepts none.
void cursor_map_delete(cursor_map *map);
cursor_entry *lookup_cursor_no_fallback(render_context *rc, const char *name);
// A colour cursor made from an image with the hot spot of its first request;
// the default cursor when the image cannot be loaded (retried next time).
SDL_Cursor *lookup_cursor(render_context *rc, const char *path, int hot_x, int hot_y);
// An SDL system cursor, stored under "$MFORB$<id>"; the default cursor when
// it cannot be made.
SDL_Cursor *lookup_system_cursor(render_context *rc, int id);
