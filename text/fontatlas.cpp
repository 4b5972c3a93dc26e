// Font atlas: TrueType fonts read whole through the virtual file system,
// checked structurally, then parsed, measured and rasterised by stb_truetype
// (libstb). Glyphs are rasterised once per (code point, pixel size) and
// packed with a skyline packer into ARGB8888 texture pages of the renderer.
// The font map is a path-keyed registry of atlases with a fallback atlas,
// guarded by a mutex because text measurement also runs on the simulation
// thread. Depends on SDL2, PhysFS (through engine/util) and stb_truetype.
//
// stb_truetype trusts every offset in the file, so a font is only handed to
// it after the tables it will read have been checked against the file: the
// sfnt header and table directory, head, hhea, maxp, hmtx, loca, every glyph
// outline in glyf (including composite references), the cmap subtable it
// will use, and the kern and GPOS structures its kerning lookup walks (a
// malformed kern or GPOS table is ignored instead of refusing the font).
// Fonts with CFF outlines are refused: stb_truetype parses them unbounded.
#include "text/fontatlas.h"

#include <math.h>
#include <physfs.h>

#include "engine/util.h"

// Composite glyphs nest at most this deep and expand to at most this many
// outline vertices; deeper or larger ones mark the font as corrupt.
#define FONT_MAX_COMPONENT_DEPTH 16
#define FONT_MAX_GLYPH_VERTICES (1u << 20)

static Uint16 rd16(const Uint8 *p) { return (Uint16)((p[0] << 8) | p[1]); }
static Uint32 rd32(const Uint8 *p) { return ((Uint32)p[0] << 24) | ((Uint32)p[1] << 16) | ((Uint32)p[2] << 8) | p[3]; }

// ---------------------------------------------------------------------------
// Structural check of a font file

struct sfnt_table {
    Uint32 off, len;        // off 0: absent
};

struct font_check {
    const Uint8 *d;
    size_t len;
    Uint32 fontstart;
    sfnt_table cmap, head, hhea, hmtx, maxp, loca, glyf, kern, gpos;
    int num_glyphs;
    int loca_long;
    Uint32 index_map;       // chosen cmap subtable, absolute offset
    int kern_ok, gpos_ok;
    struct glyph_note {
        Uint32 cost;        // 0 unchecked, UINT32_MAX in progress, else vertices + 1
        Uint8 height;       // composite nesting below the glyph
    } *notes;
};

static int is_sfnt_tag(Uint32 tag)
{
    return tag == 0x00010000u || tag == 0x74727565u /* true */ || tag == 0x31000000u /* 1 */ ||
           tag == 0x74797031u /* typ1 */ || tag == 0x4F54544Fu /* OTTO */;
}

// The first directory record with the tag, as stb_truetype looks it up.
static sfnt_table find_table(const font_check *fc, const char *tag)
{
    sfnt_table t = {0, 0};
    const Uint8 *dir = fc->d + fc->fontstart;
    Uint16 n = rd16(dir + 4);
    for (Uint16 i = 0; i < n; i++) {
        const Uint8 *rec = dir + 12 + 16 * (size_t)i;
        if (SDL_memcmp(rec, tag, 4) == 0) {
            t.off = rd32(rec + 8);
            t.len = t.off ? rd32(rec + 12) : 0;
            return t;
        }
    }
    return t;
}

static int check_directory(font_check *fc)
{
    const Uint8 *d = fc->d;
    if (fc->len < 12 || fc->len > (size_t)SDL_MAX_SINT32)
        return 0;
    Uint32 start = 0;
    if (rd32(d) == 0x74746366u /* ttcf */) {
        Uint32 version = rd32(d + 4);
        if ((version != 0x00010000u && version != 0x00020000u) || fc->len < 16 || rd32(d + 8) < 1)
            return 0;
        start = rd32(d + 12);
        if ((Uint64)start + 12 > fc->len)
            return 0;
    }
    if (!is_sfnt_tag(rd32(d + start)))
        return 0;
    Uint16 n = rd16(d + start + 4);
    if ((Uint64)start + 12 + 16 * (Uint64)n > fc->len)
        return 0;
    for (Uint16 i = 0; i < n; i++) {
        const Uint8 *rec = d + start + 12 + 16 * (size_t)i;
        if ((Uint64)rd32(rec + 8) + rd32(rec + 12) > fc->len)
            return 0;
    }
    fc->fontstart = start;
    return 1;
}

static int check_cmap_subtable(const Uint8 *t, Uint32 avail)
{
    if (avail < 2)
        return 0;
    switch (rd16(t)) {
    case 0:
        return avail >= 6 && rd16(t + 2) <= avail;
    case 6:
        return avail >= 10 && 10 + 2 * (Uint32)rd16(t + 8) <= avail;
    case 4: {
        if (avail < 14)
            return 0;
        Uint32 seg = rd16(t + 6) >> 1;
        if (seg == 0 || 16 + 8 * seg > avail)
            return 0;
        // The lookup binary-searches with the header's own search fields;
        // only the values the format defines keep it inside the arrays.
        Uint32 log2 = 0;
        while ((2u << log2) <= seg)
            log2++;
        Uint32 search_range = 2u << log2;
        if (rd16(t + 8) != search_range || rd16(t + 10) != log2 || rd16(t + 12) != 2 * seg - search_range)
            return 0;
        for (Uint32 k = 0; k < seg; k++) {
            Uint32 end = rd16(t + 14 + 2 * k);
            Uint32 start = rd16(t + 16 + 2 * seg + 2 * k);
            Uint32 range_offset = rd16(t + 16 + 6 * seg + 2 * k);
            if (range_offset == 0 || start > end)
                continue;
            Uint64 last = 16 + 6 * (Uint64)seg + 2 * k + range_offset + 2 * (Uint64)(end - start) + 2;
            if (last > avail)
                return 0;
        }
        return 1;
    }
    case 12:
    case 13:
        return avail >= 16 && 16 + 12 * (Uint64)rd32(t + 12) <= avail;
    default:
        return 0;
    }
}

// Picks the subtable stb_truetype would (the last Unicode one) among those
// it can read safely.
static int check_cmap(font_check *fc)
{
    const Uint8 *c = fc->d + fc->cmap.off;
    Uint32 len = fc->cmap.len;
    if (len < 4)
        return 0;
    Uint32 n = rd16(c + 2);
    if (4 + 8 * n > len)
        return 0;
    fc->index_map = 0;
    for (Uint32 i = 0; i < n; i++) {
        const Uint8 *rec = c + 4 + 8 * i;
        Uint16 platform = rd16(rec), encoding = rd16(rec + 2);
        Uint32 off = rd32(rec + 4);
        int unicode = platform == 0 || (platform == 3 && (encoding == 1 || encoding == 10));
        if (unicode && off < len && check_cmap_subtable(c + off, len - off))
            fc->index_map = fc->cmap.off + off;
    }
    return fc->index_map != 0;
}

static int glyph_range(const font_check *fc, int g, Uint32 *start, Uint32 *end)
{
    const Uint8 *loca = fc->d + fc->loca.off;
    if (fc->loca_long) {
        *start = rd32(loca + 4 * (size_t)g);
        *end = rd32(loca + 4 * (size_t)g + 4);
    } else {
        *start = 2 * (Uint32)rd16(loca + 2 * (size_t)g);
        *end = 2 * (Uint32)rd16(loca + 2 * (size_t)g + 2);
    }
    return *start <= *end && *end <= fc->glyf.len;
}

// Walks a simple outline the way stb_truetype reads it. Returns the vertex
// bound stb_truetype allocates for it, 0 when the outline is malformed.
static Uint32 check_simple_glyph(const Uint8 *g, Uint32 size, int contours)
{
    Uint64 p = 10 + 2 * (Uint64)contours + 2;
    if (p > size)
        return 0;
    int prev_end = -1, last_start = 0;
    for (int k = 0; k < contours; k++) {
        int end = rd16(g + 10 + 2 * k);
        if (end <= prev_end)
            return 0;
        last_start = prev_end + 1;
        prev_end = end;
    }
    Uint32 points = (Uint32)prev_end + 1;
    p += rd16(g + 10 + 2 * contours);

    Uint64 xbytes = 0, ybytes = 0;
    Uint8 flags = 0, repeat = 0;
    for (Uint32 i = 0; i < points; i++) {
        if (repeat == 0) {
            if (p >= size)
                return 0;
            flags = g[p++];
            if (flags & 8) {
                if (p >= size)
                    return 0;
                repeat = g[p++];
            }
        } else {
            repeat--;
        }
        xbytes += (flags & 2) ? 1 : (flags & 16) ? 0 : 2;
        ybytes += (flags & 4) ? 1 : (flags & 32) ? 0 : 2;
    }
    if (p + xbytes + ybytes > size)
        return 0;
    // A last contour made of one off-curve point makes stb_truetype read
    // one vertex past its buffer.
    if ((Uint32)last_start == points - 1 && !(flags & 1))
        return 0;
    return points + 2 * (Uint32)contours;
}

static Uint32 check_glyph(font_check *fc, int g, int depth);

static Uint32 check_composite_glyph(font_check *fc, int g, const Uint8 *p, Uint32 size, int depth)
{
    Uint64 total = 0;
    Uint8 height = 0;
    Uint32 at = 10;
    for (;;) {
        if ((Uint64)at + 4 > size)
            return 0;
        Uint16 flags = rd16(p + at), component = rd16(p + at + 2);
        at += 4;
        if (!(flags & 2))   // point-matched placement: stb_truetype asserts on it
            return 0;
        at += (flags & 1) ? 4 : 2;
        if (flags & 8)
            at += 2;
        else if (flags & 0x40)
            at += 4;
        else if (flags & 0x80)
            at += 8;
        if (at > size)
            return 0;
        if (component < fc->num_glyphs) {
            Uint32 cost = check_glyph(fc, component, depth + 1);
            if (cost == 0)
                return 0;
            total += cost - 1;
            height = SDL_max(height, (Uint8)(fc->notes[component].height + 1));
            if (total > FONT_MAX_GLYPH_VERTICES || height > FONT_MAX_COMPONENT_DEPTH)
                return 0;
        }
        if (!(flags & 0x20))
            break;
    }
    fc->notes[g].height = height;
    return (Uint32)total + 1;
}

// 0 when the glyph is malformed, else 1 + the vertices its outline expands
// to. Component cycles and nesting deeper than the limit are malformed;
// stb_truetype expands composites recursively.
static Uint32 check_glyph(font_check *fc, int g, int depth)
{
    Uint32 cost = fc->notes[g].cost;
    if (cost == UINT32_MAX || depth > FONT_MAX_COMPONENT_DEPTH)
        return 0;
    if (cost)
        return cost;
    Uint32 start, end;
    if (!glyph_range(fc, g, &start, &end))
        return 0;
    const Uint32 size = end - start;
    if (size == 0) {
        cost = 1;
    } else {
        if (size < 10)
            return 0;
        const Uint8 *p = fc->d + fc->glyf.off + start;
        const Sint16 contours = (Sint16)rd16(p);
        fc->notes[g].cost = UINT32_MAX;
        if (contours > 0) {
            Uint32 v = check_simple_glyph(p, size, contours);
            cost = v ? v + 1 : 0;
        } else if (contours < 0) {
            cost = check_composite_glyph(fc, g, p, size, depth);
        } else {
            cost = 1;
        }
        if (cost == 0)
            return 0;
    }
    fc->notes[g].cost = cost;
    return cost;
}

static int check_kern(const font_check *fc)
{
    const Uint8 *k = fc->d + fc->kern.off;
    Uint32 len = fc->kern.len;
    if (len < 4)
        return 0;
    if (rd16(k + 2) < 1)
        return 1;
    if (len < 12)
        return 0;
    if (rd16(k + 8) != 1)
        return 1;
    return 18 + 6 * (Uint64)rd16(k + 10) <= len;
}

// The largest coverage index the table can yield, -1 for none; -2 when the
// table is malformed.
static long gpos_coverage_max(const Uint8 *t, Uint64 at, Uint64 len)
{
    if (at + 2 > len)
        return -2;
    const Uint8 *c = t + at;
    const Uint16 format = rd16(c);
    if (format != 1 && format != 2)
        return -1;
    if (at + 4 > len)
        return -2;
    Uint32 n = rd16(c + 2);
    switch (format) {
    case 1:
        if (at + 4 + 2 * (Uint64)n > len)
            return -2;
        return (long)n - 1;
    case 2: {
        if (at + 4 + 6 * (Uint64)n > len)
            return -2;
        long max = -1;
        for (Uint32 i = 0; i < n; i++) {
            const Uint8 *r = c + 4 + 6 * i;
            Uint32 first = rd16(r), last = rd16(r + 2);
            if (first <= last)
                max = SDL_max(max, (long)rd16(r + 4) + (long)(last - first));
        }
        return max;
    }
    default:
        return -1;
    }
}

static int gpos_classdef_ok(const Uint8 *t, Uint64 at, Uint64 len)
{
    if (at + 2 > len)
        return 0;
    const Uint8 *c = t + at;
    switch (rd16(c)) {
    case 1:
        return at + 6 <= len && at + 6 + 2 * (Uint64)rd16(c + 4) <= len;
    case 2:
        return at + 4 <= len && at + 4 + 6 * (Uint64)rd16(c + 2) <= len;
    default:
        return 1;
    }
}

// Every pair-adjustment structure that stb_truetype's kerning lookup may
// read lies inside the table.
static int check_gpos(const font_check *fc)
{
    const Uint8 *t = fc->d + fc->gpos.off;
    Uint64 len = fc->gpos.len;
    if (len < 4)
        return 0;
    if (rd16(t) != 1 || rd16(t + 2) != 0)
        return 1;
    if (len < 10)
        return 0;
    Uint64 list = rd16(t + 8);
    if (list + 2 > len)
        return 0;
    Uint32 lookups = rd16(t + list);
    if (list + 2 + 2 * (Uint64)lookups > len)
        return 0;
    for (Uint32 i = 0; i < lookups; i++) {
        Uint64 lookup = list + rd16(t + list + 2 + 2 * i);
        if (lookup + 6 > len)
            return 0;
        if (rd16(t + lookup) != 2)
            continue;
        Uint32 subtables = rd16(t + lookup + 4);
        if (lookup + 6 + 2 * (Uint64)subtables > len)
            return 0;
        for (Uint32 s = 0; s < subtables; s++) {
            Uint64 st = lookup + rd16(t + lookup + 6 + 2 * s);
            if (st + 4 > len)
                return 0;
            long max_index = gpos_coverage_max(t, st + rd16(t + st + 2), len);
            if (max_index == -2)
                return 0;
            if (max_index < 0)
                continue;
            const Uint16 format = rd16(t + st);
            if (format != 1 && format != 2)
                continue;
            if (st + 8 > len)
                return 0;
            if (rd16(t + st + 4) != 4 || rd16(t + st + 6) != 0)
                continue;
            if (format == 1) {
                if (st + 10 + 2 * (Uint64)(max_index + 1) > len)
                    return 0;
                Uint32 sets = SDL_min((Uint32)rd16(t + st + 8), (Uint32)max_index + 1);
                for (Uint32 k = 0; k < sets; k++) {
                    Uint64 pairs = st + rd16(t + st + 10 + 2 * k);
                    if (pairs + 2 > len || pairs + 2 + 4 * (Uint64)rd16(t + pairs) > len)
                        return 0;
                }
            } else if (format == 2) {
                if (st + 16 > len)
                    return 0;
                if (!gpos_classdef_ok(t, st + rd16(t + st + 8), len) || !gpos_classdef_ok(t, st + rd16(t + st + 10), len))
                    return 0;
                if (st + 16 + 2 * (Uint64)rd16(t + st + 12) * rd16(t + st + 14) > len)
                    return 0;
            }
        }
    }
    return 1;
}

static int check_font(font_check *fc)
{
    if (!check_directory(fc))
        return 0;
    fc->cmap = find_table(fc, "cmap");
    fc->head = find_table(fc, "head");
    fc->hhea = find_table(fc, "hhea");
    fc->hmtx = find_table(fc, "hmtx");
    fc->maxp = find_table(fc, "maxp");
    fc->loca = find_table(fc, "loca");
    fc->glyf = find_table(fc, "glyf");
    fc->kern = find_table(fc, "kern");
    fc->gpos = find_table(fc, "GPOS");
    if (!fc->cmap.off || !fc->head.off || !fc->hhea.off || !fc->hmtx.off || !fc->maxp.off ||
        !fc->loca.off || !fc->glyf.off)
        return 0;
    const Uint8 *d = fc->d;
    if (fc->head.len < 54 || fc->hhea.len < 36 || fc->maxp.len < 6)
        return 0;
    Uint16 loc_format = rd16(d + fc->head.off + 50);
    if (loc_format > 1)
        return 0;
    fc->loca_long = loc_format;
    if ((int)(Sint16)rd16(d + fc->hhea.off + 4) - (int)(Sint16)rd16(d + fc->hhea.off + 6) <= 0)
        return 0;   // ascent - descent scales every size

    fc->num_glyphs = rd16(d + fc->maxp.off + 4);
    Uint32 long_metrics = rd16(d + fc->hhea.off + 34);
    Uint32 glyphs = (Uint32)fc->num_glyphs;
    if (glyphs == 0 || long_metrics == 0)
        return 0;
    Uint64 hmtx_need = 4 * (Uint64)SDL_min(long_metrics, glyphs) + (glyphs > long_metrics ? 2 * (Uint64)(glyphs - long_metrics) : 0);
    if (hmtx_need > fc->hmtx.len)
        return 0;
    if ((Uint64)(glyphs + 1) * (fc->loca_long ? 4 : 2) > fc->loca.len)
        return 0;
    if (!check_cmap(fc))
        return 0;

    fc->notes = (font_check::glyph_note *)SDL_calloc(glyphs, sizeof *fc->notes);
    if (!fc->notes)
        return -1;
    int ok = 1;
    for (int g = 0; g < fc->num_glyphs && ok; g++)
        ok = check_glyph(fc, g, 0) != 0;
    SDL_free(fc->notes);
    fc->notes = nullptr;
    if (!ok)
        return 0;

    fc->kern_ok = fc->kern.off && check_kern(fc);
    fc->gpos_ok = fc->gpos.off && check_gpos(fc);
    return 1;
}

// ---------------------------------------------------------------------------
// Atlas

int fontatlas_pixel_size_valid(float pixel_size)
{
    return pixel_size > 0.0f && pixel_size <= FONTATLAS_MAX_PIXEL_SIZE;   // false for NaN
}

static Uint64 size_key(float pixel_size)
{
    return (Uint64)(pixel_size * 10000.0f);
}

static Uint64 glyph_key(Uint32 codepoint, float pixel_size)
{
    return ((Uint64)codepoint << 32) | size_key(pixel_size);
}

static Uint32 glyph_bucket(Uint64 key)
{
    Uint32 k = (Uint32)((((key >> 32) & 0xffff) << 16) | (key & 0xffff));
    Uint32 h = (k ^ 61) ^ (k >> 16);
    h = h * 9;
    h = h ^ (h >> 4);
    h = h * 0x27d4eb2du;
    h = h ^ (h >> 15);
    return h & (GLYPH_CACHE_BUCKETS - 1);
}

static CachedGlyph *cache_find(const GlyphCache *cache, Uint64 key)
{
    for (GlyphEntry *e = cache->buckets[glyph_bucket(key)]; e; e = e->next)
        if (e->key == key)
            return e->glyph;
    return nullptr;
}

// The font's glyph for a code point; 0 when it has none. Code points beyond
// Unicode (the decoder's invalid marker among them) have none, and glyph
// indices past the glyph count that a cmap may yield count as missing.
static int glyph_index(const FontAtlas *atlas, Uint32 codepoint)
{
    if (codepoint == 0 || codepoint > 0x10FFFF)
        return 0;
    int g = stbtt_FindGlyphIndex(&atlas->info, (int)codepoint);
    return (g > 0 && g < atlas->info.numGlyphs) ? g : 0;
}

static int has_kerning(const FontAtlas *atlas)
{
    return atlas->info.kern || atlas->info.gpos;
}

static void page_free(AtlasPage *page)
{
    if (page->texture)
        SDL_DestroyTexture(page->texture);
    for (SkylineNode *n = page->skyline; n;) {
        SkylineNode *next = n->next;
        SDL_free(n);
        n = next;
    }
    SDL_free(page);
}

static void cache_clear(GlyphCache *cache)
{
    for (AtlasPage *p = cache->pages; p;) {
        AtlasPage *next = p->next;
        page_free(p);
        p = next;
    }
    cache->pages = nullptr;
    for (GlyphEntry *&head : cache->buckets) {
        for (GlyphEntry *e = head; e;) {
            GlyphEntry *next = e->next;
            SDL_free(e);    // the glyph record shares the entry's allocation
            e = next;
        }
        head = nullptr;
    }
}

static void page_size_of(SDL_Renderer *renderer, int *w, int *h)
{
    SDL_RendererInfo info;
    SDL_zero(info);
    if (renderer)
        SDL_GetRendererInfo(renderer, &info);
    int mw = info.max_texture_width > 0 ? info.max_texture_width : 2048;
    int mh = info.max_texture_height > 0 ? info.max_texture_height : 2048;
    *w = SDL_min(mw, FONTATLAS_MAX_PAGE_SIZE);
    *h = SDL_min(mh, FONTATLAS_MAX_PAGE_SIZE);
}

// No SDL renderer call happens here, so the simulation thread may load
// fonts for measuring; pages are only made on the renderer's thread.
static FontAtlas *fontatlas_create(SDL_Renderer *renderer, const char *path, int page_w, int page_h)
{
    if (!path) {
        SDL_InvalidParamError("path");
        return nullptr;
    }
    size_t len = 0;
    unsigned char *data = (unsigned char *)loadfile(path, &len);
    if (!data) {
        PHYSFS_ErrorCode code = PHYSFS_getLastErrorCode();
        const char *why = code <= PHYSFS_ERR_APP_CALLBACK ? PHYSFS_getErrorByCode(code) : nullptr;
        SDL_SetError("Couldn't load '%s': %s", path, why ? why : "");
        return nullptr;
    }

    font_check fc;
    SDL_zero(fc);
    fc.d = data;
    fc.len = len;
    int checked = check_font(&fc);
    if (checked < 0) {
        SDL_free(data);
        SDL_OutOfMemory();
        return nullptr;
    }
    FontAtlas *atlas = nullptr;
    if (checked) {
        atlas = (FontAtlas *)SDL_calloc(1, sizeof *atlas);
        GlyphCache *cache = atlas ? (GlyphCache *)SDL_calloc(1, sizeof *cache) : nullptr;
        if (!cache) {
            SDL_free(atlas);
            SDL_free(data);
            SDL_OutOfMemory();
            return nullptr;
        }
        if (stbtt_InitFont(&atlas->info, data, (int)fc.fontstart)) {
            atlas->info.index_map = (int)fc.index_map;
            if (!fc.kern_ok)
                atlas->info.kern = 0;
            if (!fc.gpos_ok)
                atlas->info.gpos = 0;
            cache->renderer = renderer;
            cache->page_w = page_w;
            cache->page_h = page_h;
            atlas->cache = cache;
            atlas->data = data;
            atlas->data_len = len;
            int ascent, descent, line_gap;
            stbtt_GetFontVMetrics(&atlas->info, &ascent, &descent, &line_gap);
            atlas->ascent = (float)ascent;
            atlas->descent = (float)descent;
            atlas->line_gap = (float)line_gap;
            return atlas;
        }
        SDL_free(cache);
        SDL_free(atlas);
    }
    SDL_free(data);
    SDL_SetError("Font '%s' is bogus or corrupt", path);
    return nullptr;
}

FontAtlas *fontatlas_new(SDL_Renderer *renderer, const char *path)
{
    int pw, ph;
    page_size_of(renderer, &pw, &ph);
    return fontatlas_create(renderer, path, pw, ph);
}

void fontatlas_delete(FontAtlas *atlas)
{
    if (!atlas)
        return;
    if (atlas->cache) {
        cache_clear(atlas->cache);
        SDL_free(atlas->cache);
    }
    SDL_free(atlas->data);
    SDL_free(atlas);
}

float fontatlas_get_scale(const FontAtlas *atlas, float pixel_size)
{
    return pixel_size / (atlas->ascent - atlas->descent);
}

float fontatlas_get_ascent(const FontAtlas *atlas, float scale)
{
    return atlas->ascent * scale;
}

float fontatlas_get_kerningadvance(const FontAtlas *atlas, Uint32 first, Uint32 second, float scale)
{
    if (!atlas || first == 0 || second == 0 || !has_kerning(atlas))
        return 0.0f;
    return (float)stbtt_GetGlyphKernAdvance(&atlas->info, glyph_index(atlas, first), glyph_index(atlas, second)) * scale;
}

struct pending_glyph {
    Uint64 key;
    Uint32 w, h;
    Uint32 *pixels;         // null for an empty bitmap or one kept off the pages
    int off_page;           // measured only: never rasterised or placed
    float advance, lsb;
    float x0, y0, x1, y1;
};

// Rasterises with the outline clamped to the glyph's declared box, so that
// a malformed outline cannot push the rasteriser outside the bitmap.
static void rasterise(const FontAtlas *atlas, int glyph, float scale, const pending_glyph *pg, Uint32 *pixels,
                      int bx0, int by0, int bx1, int by1)
{
    const Uint32 n = pg->w * pg->h;
    Uint8 *coverage = (Uint8 *)(pixels + n) - n;    // the tail of the pixel buffer
    SDL_memset(coverage, 0, n);
    stbtt_vertex *v = nullptr;
    int count = stbtt_GetGlyphShape(&atlas->info, glyph, &v);
    if (count > 0 && v) {
        for (int i = 0; i < count; i++) {
            v[i].x = (short)SDL_clamp(v[i].x, bx0, bx1);
            v[i].y = (short)SDL_clamp(v[i].y, by0, by1);
            v[i].cx = (short)SDL_clamp(v[i].cx, bx0, bx1);
            v[i].cy = (short)SDL_clamp(v[i].cy, by0, by1);
        }
        stbtt__bitmap bm;
        bm.w = (int)pg->w;
        bm.h = (int)pg->h;
        bm.stride = (int)pg->w;
        bm.pixels = coverage;
        stbtt_Rasterize(&bm, 0.35f, v, count, scale, scale, 0.0f, 0.0f, (int)pg->x0, (int)pg->y0, 1, atlas->info.userdata);
    }
    stbtt_FreeShape(&atlas->info, v);
    // Front to back is safe: pixel i is written after coverage byte i was read,
    // and coverage lives in the last quarter of the buffer.
    for (Uint32 i = 0; i < n; i++)
        pixels[i] = ((Uint32)coverage[i] << 24) | 0xFFFFFFu;
}

static AtlasPage *page_new(GlyphCache *cache)
{
    AtlasPage *page = (AtlasPage *)SDL_calloc(1, sizeof *page);
    SkylineNode *node = page ? (SkylineNode *)SDL_calloc(1, sizeof *node) : nullptr;
    if (!node) {
        SDL_free(page);
        return nullptr;
    }
    node->width = (Uint32)cache->page_w;
    page->skyline = node;
    if (cache->renderer) {
        page->texture = SDL_CreateTexture(cache->renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STATIC,
                                          cache->page_w, cache->page_h);
        if (page->texture) {
            SDL_SetTextureBlendMode(page->texture, SDL_BLENDMODE_BLEND);
            // Static textures start undefined; glyph borders must stay clear.
            void *zeros = SDL_calloc((size_t)cache->page_w * cache->page_h, 4);
            if (zeros) {
                SDL_UpdateTexture(page->texture, nullptr, zeros, cache->page_w * 4);
                SDL_free(zeros);
            }
        }
    }
    page->next = cache->pages;
    cache->pages = page;
    return page;
}

struct skyline_fit {
    SkylineNode *node, *prev;
    Uint32 y;
    Uint64 top;
};

static int page_fit(const AtlasPage *page, Uint32 cw, Uint32 ch, Uint32 pw, Uint32 ph, skyline_fit *best)
{
    int found = 0;
    SkylineNode *prev = nullptr;
    for (SkylineNode *start = page->skyline; start; prev = start, start = start->next) {
        if ((Uint64)start->x + cw > pw)
            continue;
        Uint32 y = 0;
        Uint64 covered = 0;
        int fits = 0;
        for (SkylineNode *n = start; n; n = n->next) {
            y = SDL_max(y, n->y);
            if ((Uint64)y + ch > ph)
                break;
            covered += n->width;
            if (covered >= cw) {
                fits = 1;
                break;
            }
        }
        if (!fits)
            continue;
        Uint64 top = (Uint64)y + ch;
        if (!found || top < best->top || (top == best->top && start->width < best->node->width)) {
            best->node = start;
            best->prev = prev;
            best->y = y;
            best->top = top;
            found = 1;
        }
    }
    return found;
}

static int skyline_insert(AtlasPage *page, const skyline_fit *fit, Uint32 cw, Uint32 ch)
{
    SkylineNode *node = (SkylineNode *)SDL_malloc(sizeof *node);
    if (!node)
        return 0;
    node->x = fit->node->x;
    node->y = fit->y + ch;
    node->width = cw;
    node->next = fit->node;
    if (fit->prev)
        fit->prev->next = node;
    else
        page->skyline = node;

    const Uint32 end = node->x + cw;
    while (node->next && node->next->x < end) {
        SkylineNode *next = node->next;
        if (next->x + next->width > end) {
            next->width -= end - next->x;
            next->x = end;
            break;
        }
        node->next = next->next;
        SDL_free(next);
    }
    for (SkylineNode *n = page->skyline; n && n->next;) {
        if (n->y == n->next->y) {
            SkylineNode *next = n->next;
            n->width += next->width;
            n->next = next->next;
            SDL_free(next);
        } else {
            n = n->next;
        }
    }
    return 1;
}

struct glyph_block {
    GlyphEntry entry;
    CachedGlyph glyph;
};

static int store_glyph(GlyphCache *cache, const pending_glyph *pg, SDL_Texture *texture, int x, int y)
{
    glyph_block *b = (glyph_block *)SDL_malloc(sizeof *b);
    if (!b)
        return 0;
    CachedGlyph *g = &b->glyph;
    g->texture = texture;
    g->x = x;
    g->y = y;
    g->w = (int)pg->w;
    g->h = (int)pg->h;
    g->advance = pg->advance;
    g->left_side_bearing = pg->lsb;
    g->x0 = pg->x0;
    g->y0 = pg->y0;
    g->x1 = pg->x1;
    g->y1 = pg->y1;
    b->entry.key = pg->key;
    b->entry.glyph = g;
    Uint32 bucket = glyph_bucket(pg->key);
    b->entry.next = cache->buckets[bucket];
    cache->buckets[bucket] = &b->entry;
    return 1;
}

// 0 only when memory ran out.
static int place_glyph(GlyphCache *cache, const pending_glyph *pg)
{
    const Uint64 pw = (Uint64)cache->page_w, ph = (Uint64)cache->page_h;
    if (pg->off_page || pg->w + 2ull > pw || pg->h + 2ull > ph)
        return store_glyph(cache, pg, nullptr, 0, 0);
    const Uint32 cw = pg->w + 2, ch = pg->h + 2;

    skyline_fit fit;
    AtlasPage *page = cache->pages;
    for (; page; page = page->next)
        if (page_fit(page, cw, ch, (Uint32)pw, (Uint32)ph, &fit))
            break;
    if (!page) {
        page = page_new(cache);
        if (!page || !page_fit(page, cw, ch, (Uint32)pw, (Uint32)ph, &fit))
            return 0;
    }
    const int x = (int)fit.node->x + 1, y = (int)fit.y + 1;
    if (!skyline_insert(page, &fit, cw, ch))
        return 0;
    if (page->texture && pg->pixels) {
        SDL_Rect r = {x, y, (int)pg->w, (int)pg->h};
        SDL_UpdateTexture(page->texture, &r, pg->pixels, (int)pg->w * 4);
    }
    return store_glyph(cache, pg, page->texture, x, y);
}

static int pending_order(const void *a, const void *b)
{
    const pending_glyph *x = *(const pending_glyph *const *)a;
    const pending_glyph *y = *(const pending_glyph *const *)b;
    if (x->h != y->h)
        return x->h > y->h ? -1 : 1;
    if (x->w != y->w)
        return x->w > y->w ? -1 : 1;
    return 0;
}

// Metrics, box and (when it fits a page) pixels of one glyph. 0 when memory
// ran out for the pixels.
static int prepare_glyph(const FontAtlas *atlas, int glyph, Uint64 key, float scale, pending_glyph *pg)
{
    SDL_zerop(pg);
    pg->key = key;
    int advance, lsb;
    stbtt_GetGlyphHMetrics(&atlas->info, glyph, &advance, &lsb);
    pg->advance = (float)advance * scale;
    pg->lsb = (float)lsb * scale;

    int bx0, by0, bx1, by1;
    if (!stbtt_GetGlyphBox(&atlas->info, glyph, &bx0, &by0, &bx1, &by1))
        return 1;   // no outline: an empty bitmap
    const float x0 = floorf((float)bx0 * scale), y0 = floorf((float)-by1 * scale);
    const float x1 = ceilf((float)bx1 * scale), y1 = ceilf((float)-by0 * scale);
    pg->x0 = x0;
    pg->y0 = y0;
    pg->x1 = x1;
    pg->y1 = y1;
    const double w = (double)x1 - x0, h = (double)y1 - y0;
    if (!(w > 0 && h > 0))
        return 1;   // nothing to draw (an inverted box included)
    const GlyphCache *cache = atlas->cache;
    const float far = 16777216.0f;
    if (w + 2 > cache->page_w || h + 2 > cache->page_h || SDL_fabsf(x0) > far || SDL_fabsf(y0) > far) {
        // Larger than a page (or placed absurdly far from the pen): kept
        // for measuring, never rasterised.
        pg->w = (Uint32)SDL_min(w, (double)SDL_MAX_SINT32);
        pg->h = (Uint32)SDL_min(h, (double)SDL_MAX_SINT32);
        pg->off_page = 1;
        return 1;
    }
    pg->w = (Uint32)w;
    pg->h = (Uint32)h;
    Uint32 *pixels = (Uint32 *)SDL_malloc((size_t)pg->w * pg->h * 4);
    if (!pixels)
        return 0;
    rasterise(atlas, glyph, scale, pg, pixels, bx0, by0, bx1, by1);
    pg->pixels = pixels;
    return 1;
}

// The first code point that needs rasterising, or count.
static int first_missing(const FontAtlas *atlas, const Uint32 *codepoints, int count, float pixel_size)
{
    for (int i = 0; i < count; i++) {
        const Uint32 cp = codepoints[i];
        if (cp && !cache_find(atlas->cache, glyph_key(cp, pixel_size)) && glyph_index(atlas, cp))
            return i;
    }
    return count;
}

void fontatlas_cacheglyphs(FontAtlas *atlas, const Uint32 *codepoints, int count, float pixel_size)
{
    if (!atlas || !codepoints || count <= 0 || !fontatlas_pixel_size_valid(pixel_size))
        return;
    // Labels ask for glyphs that are nearly always cached: allocate nothing then.
    const int first = first_missing(atlas, codepoints, count, pixel_size);
    if (first == count)
        return;
    codepoints += first;
    count -= first;
    pending_glyph *pending = (pending_glyph *)SDL_malloc((size_t)count * sizeof *pending);
    pending_glyph **order = (pending_glyph **)SDL_malloc((size_t)count * sizeof *order);
    if (!pending || !order) {
        SDL_free(pending);
        SDL_free(order);
        return;
    }
    const float scale = fontatlas_get_scale(atlas, pixel_size);
    int n = 0;
    for (int i = 0; i < count; i++) {
        const Uint32 cp = codepoints[i];
        if (cp == 0)
            continue;
        const Uint64 key = glyph_key(cp, pixel_size);
        if (cache_find(atlas->cache, key))
            continue;
        const int glyph = glyph_index(atlas, cp);
        if (glyph == 0)
            continue;
        if (!prepare_glyph(atlas, glyph, key, scale, &pending[n]))
            continue;
        order[n] = &pending[n];
        n++;
    }
    if (n > 1)
        SDL_qsort(order, (size_t)n, sizeof *order, pending_order);
    for (int i = 0; i < n; i++)
        if (!place_glyph(atlas->cache, order[i]))
            break;
    for (int i = 0; i < n; i++)
        SDL_free(pending[i].pixels);
    SDL_free(order);
    SDL_free(pending);
}

const CachedGlyph *fontatlas_getglyph(FontAtlas *atlas, Uint32 codepoint, float pixel_size)
{
    if (!atlas || !fontatlas_pixel_size_valid(pixel_size))
        return nullptr;
    const Uint64 key = glyph_key(codepoint, pixel_size);
    CachedGlyph *g = cache_find(atlas->cache, key);
    if (!g) {
        fontatlas_cacheglyphs(atlas, &codepoint, 1, pixel_size);
        g = cache_find(atlas->cache, key);
    }
    return g;
}

static float line_height(const FontAtlas *atlas, float scale)
{
    return scale * (atlas->ascent - atlas->descent + atlas->line_gap);
}

// Sum of pen advances over a UTF-8 text, in 1/unit pixels: each advance is
// the font's advance width at scale * unit truncated towards zero (a cached
// glyph's own advance when a cache is given and holds it), plus the kerning
// with the next code point.
static float text_width(const FontAtlas *atlas, const char *text, float pixel_size, float unit, const GlyphCache *cache)
{
    const float s = fontatlas_get_scale(atlas, pixel_size) * unit;
    const Uint64 skey = size_key(pixel_size);
    const int kerns = has_kerning(atlas);
    const char *p = text;
    Uint32 c = utf8codepoint(&p);
    if (c == 0)
        return 0.0f;
    int gc = glyph_index(atlas, c);
    float sum = 0.0f;
    for (;;) {
        const Uint32 n = utf8codepoint(&p);
        float advance = 0.0f;
        const CachedGlyph *cached = cache ? cache_find(cache, ((Uint64)c << 32) | skey) : nullptr;
        if (cached) {
            advance = truncf(cached->advance);
        } else if (gc) {
            int aw, lsb;
            stbtt_GetGlyphHMetrics(&atlas->info, gc, &aw, &lsb);
            advance = truncf(s * (float)aw);
        }
        if (n == 0)
            return (sum + advance) / unit;
        const int gn = glyph_index(atlas, n);
        const float kerning = kerns ? (float)stbtt_GetGlyphKernAdvance(&atlas->info, gc, gn) : 0.0f;
        sum += s * kerning + advance;
        c = n;
        gc = gn;
    }
}

void fontatlas_calcstringrect(const FontAtlas *atlas, const char *text, float *width, float *height, float pixel_size)
{
    float w = 0.0f, h = 0.0f;
    if (atlas && fontatlas_pixel_size_valid(pixel_size)) {
        h = line_height(atlas, fontatlas_get_scale(atlas, pixel_size));
        if (width && text)
            w = text_width(atlas, text, pixel_size, 1.0f, atlas->cache);
    }
    if (width)
        *width = w;
    if (height)
        *height = h;
}

void fontatlas_calcstringrect_uncached(const FontAtlas *atlas, const char *text, float *width, float *height, float pixel_size)
{
    float w = 0.0f, h = 0.0f;
    if (atlas && fontatlas_pixel_size_valid(pixel_size)) {
        h = line_height(atlas, fontatlas_get_scale(atlas, pixel_size)) * 100.0f / 100.0f;
        if (width && text)
            w = text_width(atlas, text, pixel_size, 100.0f, nullptr);
    }
    if (width)
        *width = w;
    if (height)
        *height = h;
}

// ---------------------------------------------------------------------------
// Font map

static Uint32 path_bucket(const char *path)
{
    Uint32 h = 5381;
    for (const unsigned char *p = (const unsigned char *)path; *p; p++)
        h = (h * 33) ^ *p;
    return h & (FONT_MAP_BUCKETS - 1);
}

static font_map_entry *map_find(const font_map *map, const char *path, Uint32 bucket)
{
    for (font_map_entry *e = map->buckets[bucket]; e; e = e->next)
        if (SDL_strcmp(e->path, path) == 0)
            return e;
    return nullptr;
}

font_map *font_map_allocate(SDL_Renderer *renderer)
{
    font_map *map = (font_map *)SDL_calloc(1, sizeof *map);
    if (!map) {
        SDL_OutOfMemory();
        return nullptr;
    }
    map->lock = SDL_CreateMutex();
    if (!map->lock) {
        SDL_free(map);
        return nullptr;
    }
    map->renderer = renderer;
    page_size_of(renderer, &map->page_w, &map->page_h);
    return map;
}

int font_map_load_fallback(font_map *map)
{
    if (!map) {
        SDL_InvalidParamError("map");
        return 0;
    }
    FontAtlas *atlas = fontatlas_create(map->renderer, FONTATLAS_FALLBACK_PATH, map->page_w, map->page_h);
    if (!atlas) {
        // Glyph caches are only touched on this thread; no lock needed.
        if (map->fallback)
            cache_clear(map->fallback->cache);
        return 0;
    }
    SDL_LockMutex(map->lock);
    FontAtlas *old = map->fallback;
    map->fallback = atlas;
    SDL_UnlockMutex(map->lock);
    fontatlas_delete(old);
    return 1;
}

// Resolves path to an atlas and returns with the map locked, so that the
// caller may use the atlas until it unlocks. A missing font is loaded with
// the lock released; should another thread have registered the path
// meanwhile, its entry wins.
static FontAtlas *map_resolve_locked(font_map *map, const char *path)
{
    SDL_LockMutex(map->lock);
    if (!path)
        return map->fallback;
    const Uint32 bucket = path_bucket(path);
    font_map_entry *e = map_find(map, path, bucket);
    if (e)
        return e->atlas ? e->atlas : map->fallback;
    SDL_UnlockMutex(map->lock);

    // An atlas made here has no pages yet, so it may be deleted on any thread.
    FontAtlas *atlas = fontatlas_create(map->renderer, path, map->page_w, map->page_h);

    SDL_LockMutex(map->lock);
    e = map_find(map, path, bucket);
    if (e) {
        fontatlas_delete(atlas);
        return e->atlas ? e->atlas : map->fallback;
    }
    e = (font_map_entry *)SDL_malloc(sizeof *e);
    char *copy = e ? SDL_strdup(path) : nullptr;
    if (!copy) {
        // Not remembered: the next lookup tries again.
        SDL_free(e);
        fontatlas_delete(atlas);
        return map->fallback;
    }
    e->path = copy;
    e->atlas = atlas;
    e->next = map->buckets[bucket];
    map->buckets[bucket] = e;
    return atlas ? atlas : map->fallback;
}

FontAtlas *lookup_font(font_map *map, const char *path)
{
    if (!map)
        return nullptr;
    FontAtlas *atlas = map_resolve_locked(map, path);
    SDL_UnlockMutex(map->lock);
    return atlas;
}

int font_map_calcstringbox(font_map *map, const char *path, const char *text, float pixel_size, float *width, float *height)
{
    float w = 0.0f, h = 0.0f;
    int found = 0;
    if (map) {
        FontAtlas *atlas = map_resolve_locked(map, path);
        if (atlas) {
            fontatlas_calcstringrect_uncached(atlas, text ? text : "", &w, &h, pixel_size);
            found = 1;
        }
        SDL_UnlockMutex(map->lock);
    }
    if (width)
        *width = w;
    if (height)
        *height = h;
    return found;
}

static font_map_entry *map_detach_all(font_map *map)
{
    font_map_entry *all = nullptr;
    for (font_map_entry *&head : map->buckets) {
        while (head) {
            font_map_entry *e = head;
            head = e->next;
            e->next = all;
            all = e;
        }
    }
    return all;
}

static void entries_free(font_map_entry *e)
{
    while (e) {
        font_map_entry *next = e->next;
        fontatlas_delete(e->atlas);
        SDL_free(e->path);
        SDL_free(e);
        e = next;
    }
}

void font_map_clear(font_map *map)
{
    if (!map)
        return;
    // Once detached under the lock, no measurement can reach the atlases.
    SDL_LockMutex(map->lock);
    font_map_entry *all = map_detach_all(map);
    SDL_UnlockMutex(map->lock);
    entries_free(all);
}

void font_map_delete(font_map *map)
{
    if (!map)
        return;
    SDL_LockMutex(map->lock);
    font_map_entry *all = map_detach_all(map);
    FontAtlas *fallback = map->fallback;
    map->fallback = nullptr;
    SDL_UnlockMutex(map->lock);
    entries_free(all);
    fontatlas_delete(fallback);
    SDL_DestroyMutex(map->lock);
    SDL_free(map);
}
