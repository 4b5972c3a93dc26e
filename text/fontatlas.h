// Glyph cache over TrueType fonts: a FontAtlas is one font file in memory
// plus its glyphs rasterised on demand into shared texture pages, and the
// font map is the registry from font paths (as labels name them) to atlases,
// holding the fallback atlas made from "font.ttf".
//
// Threads: everything that touches glyph pages (fontatlas_cacheglyphs,
// fontatlas_getglyph, fontatlas_calcstringrect, fontatlas_delete,
// lookup_font, font_map_load_fallback, font_map_clear, font_map_delete)
// runs on the thread that owns the renderer. font_map_calcstringbox may be
// called from any thread: it measures from the font data alone while holding
// the map's lock, so the map and its atlases are never deleted under it.
#pragma once

#include <SDL.h>
#include <stb/stb_truetype.h>

#define FONTATLAS_FALLBACK_PATH "font.ttf"
#define FONTATLAS_MAX_PAGE_SIZE 1024
// Pixel sizes outside (0, FONTATLAS_MAX_PIXEL_SIZE] (and NaN) measure 0 and
// cache nothing; the bound keeps a size's glyph key within its 32 bits.
#define FONTATLAS_MAX_PIXEL_SIZE 100000.0f
#define GLYPH_CACHE_BUCKETS 32
#define FONT_MAP_BUCKETS 256

// One rasterised glyph at one pixel size. texture is null when the glyph did
// not fit a page or its page has no texture; it then measures but draws
// nothing. x0..y1 are whole numbers: the bitmap box relative to the pen on
// the baseline, y growing downwards (w = x1 - x0, h = y1 - y0).
struct CachedGlyph {
    SDL_Texture *texture;
    int x, y;               // top-left of the pixels inside the page
    int w, h;
    float advance;          // pixels
    float left_side_bearing;
    float x0, y0, x1, y1;
};

struct GlyphEntry {
    Uint64 key;             // (code point << 32) | (Uint64)(pixel size * 10000)
    CachedGlyph *glyph;     // never null
    GlyphEntry *next;
};

struct SkylineNode {
    Uint32 x, y, width;     // y: the lowest free row over [x, x + width)
    SkylineNode *next;
};

struct AtlasPage {
    SDL_Texture *texture;   // ARGB8888, null when creation failed
    SkylineNode *skyline;   // ordered by x, spans the page width
    AtlasPage *next;
};

struct GlyphCache {
    SDL_Renderer *renderer;
    int page_w, page_h;
    AtlasPage *pages;       // newest first
    GlyphEntry *buckets[GLYPH_CACHE_BUCKETS];
};

struct FontAtlas {
    stbtt_fontinfo info;    // over data, which the atlas owns
    GlyphCache *cache;
    float ascent, descent, line_gap;   // hhea values, font units
    unsigned char *data;
    size_t data_len;
};

struct font_map_entry {
    char *path;
    FontAtlas *atlas;       // null: loading failed once, never retried
    font_map_entry *next;
};

struct font_map {
    SDL_mutex *lock;        // guards fallback and buckets
    SDL_Renderer *renderer;
    int page_w, page_h;
    FontAtlas *fallback;
    font_map_entry *buckets[FONT_MAP_BUCKETS];
};

// 1 for a finite pixel size in (0, FONTATLAS_MAX_PIXEL_SIZE].
int fontatlas_pixel_size_valid(float pixel_size);

// Loads a font through the virtual file system. Pages are as large as the
// renderer's maximum texture size (2048 when it reports 0, or without a
// renderer), capped at FONTATLAS_MAX_PAGE_SIZE. null with SDL_GetError set
// when the file cannot be read or is not a usable TrueType font.
FontAtlas *fontatlas_new(SDL_Renderer *renderer, const char *path);
void fontatlas_delete(FontAtlas *atlas);

float fontatlas_get_scale(const FontAtlas *atlas, float pixel_size);
float fontatlas_get_ascent(const FontAtlas *atlas, float scale);

// Makes sure each non-zero code point the font has a glyph for is cached at
// pixel_size, rasterising and uploading the missing ones.
void fontatlas_cacheglyphs(FontAtlas *atlas, const Uint32 *codepoints, int count, float pixel_size);
// The cached glyph, caching it first; null when the font lacks the glyph or
// the size is invalid.
const CachedGlyph *fontatlas_getglyph(FontAtlas *atlas, Uint32 codepoint, float pixel_size);
// Kerning between two code points in pixels at scale; 0 when either is 0 or
// the font has no kerning data.
float fontatlas_get_kerningadvance(const FontAtlas *atlas, Uint32 first, Uint32 second, float scale);

// Width (sum of pen advances, whole-pixel advances; cached glyphs are read,
// never added) and line height of a UTF-8 text. Either output may be null.
void fontatlas_calcstringrect(const FontAtlas *atlas, const char *text, float *width, float *height, float pixel_size);
// The same from the font data only, with advances resolved to 1/100 pixel.
void fontatlas_calcstringrect_uncached(const FontAtlas *atlas, const char *text, float *width, float *height, float pixel_size);

// An empty map whose atlases will draw with renderer; no fallback yet.
font_map *font_map_allocate(SDL_Renderer *renderer);
// Loads FONTATLAS_FALLBACK_PATH as the new fallback atlas and deletes the
// previous one. On failure (0, SDL_GetError set) the previous atlas stays,
// with its glyphs dropped so they are rasterised again into new pages.
int font_map_load_fallback(font_map *map);
// The atlas for path, loaded on first use; the fallback for a null path or
// one that could not be loaded (a failure is remembered). null only when the
// map has no fallback either.
FontAtlas *lookup_font(font_map *map, const char *path);
// Deletes every path's atlas; the fallback stays.
void font_map_clear(font_map *map);
// Deletes every atlas (the fallback too), the path copies and the map.
void font_map_delete(font_map *map);

// Any thread: measures text at pixel_size with the atlas lookup_font would
// answer, using fontatlas_calcstringrect_uncached. 0 (and 0 x 0) when there
// is no atlas.
int font_map_calcstringbox(font_map *map, const char *path, const char *text, float pixel_size, float *width, float *height);
