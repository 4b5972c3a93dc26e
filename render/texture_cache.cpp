// Texture, render-target and cursor caches of the render thread: two
// chained hash maps keyed by name that turn image paths, render-target names
// and uploaded pixel arrays into SDL textures, and image paths and system
// cursor numbers into SDL cursors, once each. The texture map carries a lock
// so the simulation thread can measure sprites while the render thread
// draws. Depends on SDL2, the image loader and logging.
#include "render/texture_cache.h"

#include "image/image.h"
#include "log/log.h"
#include "render/render_context.h"

#define CHECKERBOARD_SIZE 256
#define SOLID_SIZE 1280
#define ANDROID_TEXTURE_LIMIT 4000

Uint32 cache_name_hash(const char *name)
{
    Uint32 h = 5381;
    for (const unsigned char *p = (const unsigned char *)name; *p; p++)
        h = (h * 33u) ^ *p;
    return h;
}

SDL_Texture *texture_create_static(SDL_Renderer *r, int w, int h, const void *pixels)
{
    SDL_Texture *t = SDL_CreateTexture(r, SDL_PIXELFORMAT_ABGR8888, SDL_TEXTUREACCESS_STATIC, w, h);
    if (!t)
        return nullptr;
    SDL_SetTextureBlendMode(t, SDL_BLENDMODE_BLEND);
    if (SDL_UpdateTexture(t, nullptr, pixels, w * 4) != 0) {
        SDL_DestroyTexture(t);
        return nullptr;
    }
    return t;
}

texture_map *texture_map_new(void)
{
    texture_map *map = (texture_map *)SDL_calloc(1, sizeof(texture_map));
    if (!map) {
        SDL_OutOfMemory();
        return nullptr;
    }
    map->lock = SDL_CreateMutex();
    if (!map->lock) {
        SDL_free(map);
        return nullptr;
    }
    return map;
}

void texture_map_delete(texture_map *map)
{
    if (!map)
        return;
    for (texture_entry *head : map->buckets)
        for (texture_entry *e = head, *next; e; e = next) {
            next = e->next;
            if (e->texture)
                SDL_DestroyTexture(e->texture);
            SDL_free(e->pixels);
            SDL_free(e->name);
            SDL_free(e);
        }
    SDL_DestroyMutex(map->lock);
    SDL_free(map);
}

static texture_entry *texture_map_find(texture_map *map, const char *name)
{
    for (texture_entry *e = map->buckets[cache_name_hash(name) & (TEXTURE_MAP_BUCKETS - 1)]; e; e = e->next)
        if (SDL_strcmp(e->name, name) == 0)
            return e;
    return nullptr;
}

texture_entry *lookup_texture_no_fallback(render_context *rc, const char *name)
{
    if (!name)
        return nullptr;
    if (!rc->textures && !(rc->textures = texture_map_new()))
        return nullptr;
    texture_map *map = rc->textures;
    texture_entry *e = texture_map_find(map, name);
    if (e)
        return e;

    e = (texture_entry *)SDL_calloc(1, sizeof(texture_entry));
    if (!e) {
        SDL_OutOfMemory();
        return nullptr;
    }
    e->name = SDL_strdup(name);
    if (!e->name) {
        SDL_free(e);
        SDL_OutOfMemory();
        return nullptr;
    }
    texture_entry **head = &map->buckets[cache_name_hash(name) & (TEXTURE_MAP_BUCKETS - 1)];
    SDL_LockMutex(map->lock);
    e->next = *head;
    *head = e;
    SDL_UnlockMutex(map->lock);
    return e;
}

static texture_lookup lookup_builtin(SDL_Texture *t, int size)
{
    texture_lookup r = {};
    r.texture = t;
    r.width = r.height = t ? size : 0;
    return r;
}

static texture_lookup lookup_from_entry(texture_entry *e)
{
    texture_lookup r = {};
    r.render_target = e->render_target;
    r.texture = e->texture;
    r.entry = e;
    r.width = e->width;
    r.height = e->height;
    r.scale = e->scale;
    return r;
}

// Development hint for paths that break on case-sensitive or space-hostile
// platforms; the suggestion lowers every capital and dashes every space.
static void warn_problematic_path(const char *path)
{
    int problem = 0;
    for (const char *p = path; *p; p++)
        if (SDL_isupper((unsigned char)*p) || SDL_isspace((unsigned char)*p))
            problem = 1;
    if (!problem)
        return;
    char *suggestion = SDL_strdup(path);
    if (!suggestion)
        return;
    for (char *p = suggestion; *p; p++) {
        if (SDL_isspace((unsigned char)*p))
            *p = '-';
        else if (SDL_isupper((unsigned char)*p))
            *p = (char)SDL_tolower((unsigned char)*p);
    }
    log_warn("Engine",
             "* WARNING: File path contains problematic characters.\n"
             "  To ensure cross-platform support, it is STRONGLY recommended\n"
             "  that file names be all lowercase with no spaces.\n\n"
             "  Consider renaming:\n    =%s=\n  to\n    =%s=",
             path, suggestion);
    SDL_free(suggestion);
}

texture_lookup lookup_texture(render_context *rc, const char *path)
{
    if (path && (SDL_strcmp(path, "pixel") == 0 || SDL_strcmp(path, "solid") == 0))
        return lookup_builtin(rc->solid, SOLID_SIZE);
    texture_entry *e = lookup_texture_no_fallback(rc, path);
    if (!e)
        return lookup_builtin(rc->checkerboard, CHECKERBOARD_SIZE);
    if (e->texture)
        return lookup_from_entry(e);

    texture_map *map = rc->textures;
    if (e->pixels) {
        SDL_Texture *t = texture_create_static(rc->renderer, e->width, e->height, e->pixels);
        if (!t)
            return lookup_builtin(rc->checkerboard, CHECKERBOARD_SIZE);
        SDL_LockMutex(map->lock);
        e->texture = t;
        SDL_UnlockMutex(map->lock);
        log_spam("Render", "Reuploaded managed pixels for '%s' after device reset", path);
        return lookup_from_entry(e);
    }

    if (rc->development)
        warn_problematic_path(path);
    int w = 0, h = 0;
    Uint8 *pixels = load_image(path, &w, &h);
    if (pixels) {
        if (rc->development && (w > ANDROID_TEXTURE_LIMIT || h > ANDROID_TEXTURE_LIMIT))
            log_warn("Engine",
                     "* WARNING: Texture size exceeds what Android can handle.\n"
                     "  The texture with path =%s= has dimensions that are larger than 1600x1600  and WILL NOT "
                     "render on Android devices in HD Mode.",
                     path);
        SDL_Texture *t = texture_create_static(rc->renderer, w, h, pixels);
        free_image(pixels);
        SDL_LockMutex(map->lock);
        e->texture = t;
        e->width = w;
        e->height = h;
        e->render_target = 0;
        e->warned = 0;
        e->scale = 0.0f;
        SDL_UnlockMutex(map->lock);
    }
    if (!e->texture)
        return lookup_builtin(rc->checkerboard, CHECKERBOARD_SIZE);
    return lookup_from_entry(e);
}

int texture_map_upload_pixels(render_context *rc, const char *name, int width, int height, const void *pixels,
                              size_t byte_count)
{
    if (!name || !*name)
        return SDL_SetError("Pixel array without a name"), 0;
    if (!pixels)
        return SDL_SetError("Pixel array '%s' has no pixels", name), 0;
    size_t n;
    if (!pixel_array_byte_count(width, height, &n))
        return 0;
    if (n != byte_count)
        return SDL_SetError("Pixel array '%s' holds %zu bytes, not %dx%dx4", name, byte_count, width, height), 0;
    texture_entry *e = lookup_texture_no_fallback(rc, name);
    if (!e)
        return 0;

    // The copy lets the texture be rebuilt after a device reset; without
    // memory for it the upload still happens, only that safety is lost.
    Uint8 *copy = e->pixels;
    if (!copy || e->width != width || e->height != height)
        copy = (Uint8 *)SDL_malloc(n);
    if (copy)
        SDL_memcpy(copy, pixels, n);

    SDL_Texture *t = e->texture;
    SDL_Texture *old = nullptr;
    if (t && !e->render_target && e->width == width && e->height == height) {
        if (SDL_UpdateTexture(t, nullptr, pixels, width * 4) != 0) {
            old = t;
            t = nullptr;
        }
    } else {
        old = t;
        t = texture_create_static(rc->renderer, width, height, pixels);
    }

    Uint8 *old_pixels = e->pixels != copy ? e->pixels : nullptr;
    texture_map *map = rc->textures;
    SDL_LockMutex(map->lock);
    e->texture = t;
    e->pixels = copy;
    e->width = width;
    e->height = height;
    e->render_target = 0;
    e->scale = 0.0f;
    SDL_UnlockMutex(map->lock);
    if (old)
        SDL_DestroyTexture(old);
    SDL_free(old_pixels);
    return t != nullptr;
}

void texture_map_unload(render_context *rc, const char *name)
{
    if (!name || !*name)
        return;
    texture_entry *e = lookup_texture_no_fallback(rc, name);
    if (!e || (!e->texture && !e->pixels))
        return;
    texture_map *map = rc->textures;
    SDL_LockMutex(map->lock);
    SDL_Texture *t = e->texture;
    Uint8 *pixels = e->pixels;
    e->texture = nullptr;
    e->pixels = nullptr;
    SDL_UnlockMutex(map->lock);
    if (t)
        SDL_DestroyTexture(t);
    SDL_free(pixels);
}

// A fresh target holds whatever the driver left in its memory; start it
// transparent, leaving the renderer's target and draw colour as they were.
static void clear_target(SDL_Renderer *r, SDL_Texture *t)
{
    SDL_Texture *previous = SDL_GetRenderTarget(r);
    Uint8 cr, cg, cb, ca;
    SDL_GetRenderDrawColor(r, &cr, &cg, &cb, &ca);
    if (SDL_SetRenderTarget(r, t) == 0) {
        SDL_SetRenderDrawColor(r, 0, 0, 0, 0);
        SDL_RenderClear(r);
        SDL_SetRenderTarget(r, previous);
    }
    SDL_SetRenderDrawColor(r, cr, cg, cb, ca);
}

SDL_Texture *texture_entry_make_render_target(render_context *rc, texture_entry *entry, int width, int height,
                                              float scale)
{
    if (!entry) {
        SDL_InvalidParamError("entry");
        return nullptr;
    }
    if (width <= 0 || height <= 0) {
        SDL_SetError("Render target '%s' size %dx%d is not positive", entry->name, width, height);
        return nullptr;
    }
    if (entry->texture && entry->render_target && entry->width == width && entry->height == height) {
        entry->scale = scale;
        return entry->texture;
    }
    SDL_Texture *t = SDL_CreateTexture(rc->renderer, SDL_PIXELFORMAT_ABGR8888, SDL_TEXTUREACCESS_TARGET, width, height);
    if (t) {
        SDL_SetTextureBlendMode(t, SDL_BLENDMODE_BLEND);
        clear_target(rc->renderer, t);
    }
    texture_map *map = rc->textures;
    SDL_LockMutex(map->lock);
    SDL_Texture *old = entry->texture;
    Uint8 *old_pixels = entry->pixels;
    entry->texture = t;
    entry->pixels = nullptr;
    entry->render_target = 1;
    entry->width = width;
    entry->height = height;
    entry->scale = scale;
    entry->warned = 0;
    SDL_UnlockMutex(map->lock);
    if (old)
        SDL_DestroyTexture(old);
    SDL_free(old_pixels);
    return t;
}

static void destroy_textures_where(texture_map *map, int render_targets)
{
    if (!map)
        return;
    SDL_LockMutex(map->lock);
    for (texture_entry *head : map->buckets)
        for (texture_entry *e = head; e; e = e->next)
            if (e->texture && (e->render_target != 0) == (render_targets != 0)) {
                SDL_DestroyTexture(e->texture);
                e->texture = nullptr;
            }
    SDL_UnlockMutex(map->lock);
}

void texture_map_recover_textures(texture_map *map)
{
    destroy_textures_where(map, 0);
}

void texture_map_recover_render_targets(texture_map *map)
{
    destroy_textures_where(map, 1);
}

int texture_map_sprite_size(texture_map *map, const char *path, int *width, int *height)
{
    if (!path)
        return 0;
    int w = 0, h = 0, known = 0;
    if (map) {
        SDL_LockMutex(map->lock);
        const texture_entry *e = texture_map_find(map, path);
        if (e && (e->texture || e->pixels)) {
            w = e->width;
            h = e->height;
            known = 1;
        }
        SDL_UnlockMutex(map->lock);
    }
    if (!known && !load_image_only_dimensions(path, &w, &h))
        w = h = CHECKERBOARD_SIZE;
    if (w == -1)
        return 0;
    *width = w;
    *height = h;
    return 1;
}

cursor_map *cursor_map_new(void)
{
    cursor_map *map = (cursor_map *)SDL_calloc(1, sizeof(cursor_map));
    if (!map)
        SDL_OutOfMemory();
    return map;
}

void cursor_map_delete(cursor_map *map)
{
    if (!map)
        return;
    for (cursor_entry *head : map->buckets)
        for (cursor_entry *e = head, *next; e; e = next) {
            next = e->next;
            if (e->cursor)
                SDL_FreeCursor(e->cursor);
            SDL_free(e->name);
            SDL_free(e);
        }
    SDL_free(map);
}

cursor_entry *lookup_cursor_no_fallback(render_context *rc, const char *name)
{
    if (!name)
        return nullptr;
    if (!rc->cursors && !(rc->cursors = cursor_map_new()))
        return nullptr;
    cursor_entry **head = &rc->cursors->buckets[cache_name_hash(name) & (CURSOR_MAP_BUCKETS - 1)];
    for (cursor_entry *e = *head; e; e = e->next)
        if (SDL_strcmp(e->name, name) == 0)
            return e;
    cursor_entry *e = (cursor_entry *)SDL_calloc(1, sizeof(cursor_entry));
    if (!e) {
        SDL_OutOfMemory();
        return nullptr;
    }
    e->name = SDL_strdup(name);
    if (!e->name) {
        SDL_free(e);
        SDL_OutOfMemory();
        return nullptr;
    }
    e->next = *head;
    *head = e;
    return e;
}

SDL_Cursor *lookup_cursor(render_context *rc, const char *path, int hot_x, int hot_y)
{
    cursor_entry *e = lookup_cursor_no_fallback(rc, path);
    if (!e)
        return SDL_GetDefaultCursor();
    if (e->cursor)
        return e->cursor;
    int w = 0, h = 0;
    Uint8 *pixels = load_image(path, &w, &h);
    if (!pixels)
        return SDL_GetDefaultCursor();
    SDL_Surface *s = SDL_CreateRGBSurfaceWithFormatFrom(pixels, w, h, 32, w * 4, SDL_PIXELFORMAT_ABGR8888);
    if (s) {
        e->cursor = SDL_CreateColorCursor(s, hot_x, hot_y);
        SDL_FreeSurface(s);
    }
    free_image(pixels);
    return e->cursor ? e->cursor : SDL_GetDefaultCursor();
}

SDL_Cursor *lookup_system_cursor(render_context *rc, int id)
{
    // Video back ends assert on numbers they do not know.
    if (id < 0 || id >= SDL_NUM_SYSTEM_CURSORS)
        return SDL_GetDefaultCursor();
    char name[32];
    SDL_snprintf(name, sizeof name, "$MFORB$%d", id);
    cursor_entry *e = lookup_cursor_no_fallback(rc, name);
    if (!e)
        return SDL_GetDefaultCursor();
    if (!e->cursor)
        e->cursor = SDL_CreateSystemCursor((SDL_SystemCursor)id);
    return e->cursor ? e->cursor : SDL_GetDefaultCursor();
}
