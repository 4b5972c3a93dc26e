// The font atlas over DejaVu Sans: string measurement against metrics read
// independently (hard-coded hmtx/kerning numbers and direct stb_truetype
// calls), cached against uncached measurement, UTF-8 input, invalid sizes,
// glyph keys, pixels that reach the page texture, page overflow, the font
// map's fallback and recovery, measurement from another thread while the
// map is rebuilt, and refusal of truncated, corrupt and mutated font files.
//
// stb_truetype is compiled from the packaged header into this program (its
// definitions take precedence over the shared library's), so that under
// AddressSanitizer every read the parser makes on a font file is checked.
#include <gtest/gtest.h>

#include "temp_vfs.h"

#include "engine/util.h"
#include "text/fontatlas.h"

#define STB_TRUETYPE_IMPLEMENTATION
#include <stb/stb_truetype.h>

#include <math.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

using bytes = std::vector<Uint8>;

const char *const dejavu_path = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

// DejaVu Sans, read straight from its hhea, hmtx, cmap and GPOS tables.
const int dv_ascent = 1901, dv_descent = -483, dv_line_gap = 0;
const int dv_advance_A = 1401, dv_advance_V = 1401, dv_kern_AV = -131;

bytes read_bytes(const std::string &path)
{
    std::string s = read_real(path);
    return bytes(s.begin(), s.end());
}

void write_file(const std::string &name, const bytes &data)
{
    std::ofstream f(temp_root + "/" + name, std::ios::binary | std::ios::trunc);
    f.write((const char *)data.data(), (std::streamsize)data.size());
}

void remove_file(const std::string &name)
{
    std::filesystem::remove(temp_root + "/" + name);
}

Uint16 get16(const bytes &b, size_t at) { return (Uint16)(b[at] << 8 | b[at + 1]); }
Uint32 get32(const bytes &b, size_t at) { return (Uint32)get16(b, at) << 16 | get16(b, at + 2); }
void put16(bytes &b, size_t at, Uint16 v) { b[at] = (Uint8)(v >> 8), b[at + 1] = (Uint8)v; }
void put32(bytes &b, size_t at, Uint32 v) { put16(b, at, (Uint16)(v >> 16)), put16(b, at + 2, (Uint16)v); }

// A table directory record of a plain sfnt file.
struct table_rec {
    size_t rec;         // offset of the directory record
    Uint32 off, len;
};

table_rec find_table(const bytes &b, const char *tag)
{
    for (Uint16 i = 0; i < get16(b, 4); i++) {
        size_t rec = 12 + 16 * (size_t)i;
        if (std::memcmp(&b[rec], tag, 4) == 0)
            return {rec, get32(b, rec + 8), get32(b, rec + 12)};
    }
    ADD_FAILURE() << "no table " << tag;
    return {0, 0, 0};
}

// Byte offset of a glyph's outline (DejaVu Sans uses long loca entries).
size_t glyph_offset(const bytes &b, int glyph)
{
    return find_table(b, "glyf").off + get32(b, find_table(b, "loca").off + 4 * (size_t)glyph);
}

// The measurement rule, computed with stb_truetype's own code point API on
// the original file: advances at scale * unit truncated, kerning between
// neighbours, result in pixels.
struct Reference {
    bytes data;
    stbtt_fontinfo info;

    Reference() : data(read_bytes(dejavu_path)) { EXPECT_TRUE(stbtt_InitFont(&info, data.data(), 0)); }

    float width(const std::vector<Uint32> &cps, float size, float unit) const
    {
        const float s = stbtt_ScaleForPixelHeight(&info, size) * unit;
        float sum = 0.0f;
        for (size_t i = 0; i < cps.size(); i++) {
            int aw = 0, lsb = 0;
            if (stbtt_FindGlyphIndex(&info, (int)cps[i]))
                stbtt_GetCodepointHMetrics(&info, (int)cps[i], &aw, &lsb);
            const float advance = truncf(s * (float)aw);
            if (i + 1 == cps.size())
                return (sum + advance) / unit;
            sum += s * (float)stbtt_GetCodepointKernAdvance(&info, (int)cps[i], (int)cps[i + 1]) + advance;
        }
        return 0.0f;
    }
};

const Reference &reference()
{
    static Reference r;
    return r;
}

class FontAtlasTest : public ::testing::Test {
protected:
    SDL_Surface *surface = nullptr;
    SDL_Renderer *renderer = nullptr;
    FontAtlas *atlas = nullptr;

    void SetUp() override
    {
        write_file("font.ttf", reference().data);
        surface = SDL_CreateRGBSurfaceWithFormat(0, 256, 256, 32, SDL_PIXELFORMAT_ARGB8888);
        ASSERT_NE(surface, nullptr);
        renderer = SDL_CreateSoftwareRenderer(surface);
        ASSERT_NE(renderer, nullptr) << SDL_GetError();
        atlas = fontatlas_new(renderer, "font.ttf");
        ASSERT_NE(atlas, nullptr) << SDL_GetError();
    }
    void TearDown() override
    {
        fontatlas_delete(atlas);
        SDL_DestroyRenderer(renderer);
        SDL_FreeSurface(surface);
    }

    float width(const char *text, float size)
    {
        float w = -1;
        fontatlas_calcstringrect(atlas, text, &w, nullptr, size);
        return w;
    }
    float width_uncached(const char *text, float size)
    {
        float w = -1;
        fontatlas_calcstringrect_uncached(atlas, text, &w, nullptr, size);
        return w;
    }
    int page_count() const
    {
        int n = 0;
        for (AtlasPage *p = atlas->cache->pages; p; p = p->next)
            n++;
        return n;
    }
    int stored_count(Uint32 cp, float size) const
    {
        const Uint64 key = (Uint64)cp << 32 | (Uint64)(size * 10000.0f);
        int n = 0;
        for (GlyphEntry *head : atlas->cache->buckets)
            for (GlyphEntry *e = head; e; e = e->next)
                n += e->key == key;
        return n;
    }
};

TEST_F(FontAtlasTest, MeasuresDejaVuMetricsWithKerning)
{
    EXPECT_EQ(atlas->ascent, dv_ascent);
    EXPECT_EQ(atlas->descent, dv_descent);
    EXPECT_EQ(atlas->line_gap, dv_line_gap);

    const float size = 40.0f;
    const float scale = size / (float)(dv_ascent - dv_descent);
    EXPECT_FLOAT_EQ(fontatlas_get_scale(atlas, size), scale);
    EXPECT_FLOAT_EQ(fontatlas_get_ascent(atlas, scale), dv_ascent * scale);
    EXPECT_FLOAT_EQ(fontatlas_get_kerningadvance(atlas, 'A', 'V', scale), dv_kern_AV * scale);
    EXPECT_EQ(fontatlas_get_kerningadvance(atlas, 'A', 0, scale), 0.0f);

    const float a = truncf(dv_advance_A * scale), v = truncf(dv_advance_V * scale);
    EXPECT_EQ(width("A", size), a);
    EXPECT_EQ(a, 23.0f);
    EXPECT_FLOAT_EQ(width("AV", size), a + dv_kern_AV * scale + v);
    EXPECT_LT(width("AV", size), width("A", size) + width("V", size));
    EXPECT_EQ(width("", size), 0.0f);

    float w = -1, h = -1;
    fontatlas_calcstringrect(atlas, "", &w, &h, size);
    EXPECT_EQ(w, 0.0f);
    EXPECT_FLOAT_EQ(h, size);   // DejaVu Sans has no line gap: the height is the pixel size
    fontatlas_calcstringrect_uncached(atlas, "", &w, &h, size);
    EXPECT_EQ(w, 0.0f);
    EXPECT_FLOAT_EQ(h, size);
    fontatlas_calcstringrect(atlas, "AV", nullptr, nullptr, size);   // both outputs optional

    // Uncached: advances resolved to hundredths of a pixel.
    const float s = scale * 100.0f;
    EXPECT_FLOAT_EQ(width_uncached("AV", size), (truncf(s * dv_advance_A) + s * dv_kern_AV + truncf(s * dv_advance_V)) / 100.0f);
}

TEST_F(FontAtlasTest, WidthsMatchStbTruetypeOverTextsAndSizes)
{
    struct {
        const char *text;
        std::vector<Uint32> cps;
    } texts[] = {
        {"A", {'A'}},
        {"AV", {'A', 'V'}},
        {"Hello, World! AVA To", {'H', 'e', 'l', 'l', 'o', ',', ' ', 'W', 'o', 'r', 'l', 'd', '!', ' ', 'A', 'V', 'A', ' ', 'T', 'o'}},
        {"caf\xC3\xA9 \xE2\x82\xAC", {'c', 'a', 'f', 0xE9, ' ', 0x20AC}},          // 2- and 3-byte sequences
        {"x\xF0\x90\x8C\x80y", {'x', 0x10300, 'y'}},                               // a 4-byte sequence
        {"a\xE6\x97\xA5" "b", {'a', 0x65E5, 'b'}},                                 // a character DejaVu lacks
    };
    for (float size : {9.5f, 22.0f, 40.0f, 64.25f, 130.0f}) {
        for (auto &t : texts) {
            SCOPED_TRACE(std::string(t.text) + " at " + std::to_string(size));
            EXPECT_FLOAT_EQ(width(t.text, size), reference().width(t.cps, size, 1.0f));
            EXPECT_FLOAT_EQ(width_uncached(t.text, size), reference().width(t.cps, size, 100.0f));
        }
    }
    EXPECT_EQ(width("\xE6\x97\xA5", 22.0f), 0.0f);
    EXPECT_GT(width("\xF0\x90\x8C\x80", 22.0f), 0.0f);
}

TEST_F(FontAtlasTest, MalformedUtf8AddsNoWidthAndNeverOverreads)
{
    // The decoder's invalid marker has no glyph; its neighbours keep theirs.
    const Uint32 invalid = 0xFFFFFFFFu;
    EXPECT_FLOAT_EQ(width("A\xFFV", 30.0f), reference().width({'A', invalid, 'V'}, 30.0f, 1.0f));
    EXPECT_EQ(width("\xFF\xFE", 30.0f), 0.0f);
    // A sequence cut short by the end of the text.
    EXPECT_EQ(width("A\xE2\x82", 30.0f), width("A", 30.0f));
    EXPECT_EQ(fontatlas_getglyph(atlas, invalid, 30.0f), nullptr);
}

TEST_F(FontAtlasTest, CachedMeasurementAgreesWithUncachedAndWithItself)
{
    const char *texts[] = {"The quick brown fox", "AVAWAY", "caf\xC3\xA9 \xE2\x82\xAC 42", "i"};
    for (float size : {12.0f, 22.0f, 37.5f}) {
        for (const char *text : texts) {
            SCOPED_TRACE(std::string(text) + " at " + std::to_string(size));
            const float before = width(text, size);
            std::vector<Uint32> cps;
            for (const char *p = text; Uint32 c = utf8codepoint(&p);)
                cps.push_back(c);
            fontatlas_cacheglyphs(atlas, cps.data(), (int)cps.size(), size);
            for (Uint32 c : cps)
                ASSERT_GE(stored_count(c, size), 1) << c;
            EXPECT_EQ(width(text, size), before);   // cached advances give the same whole pixels
            // The uncached width keeps up to 0.99 px per glyph that the cached one drops.
            const float uncached = width_uncached(text, size);
            EXPECT_GE(uncached, before - 1e-3f);
            EXPECT_LT(uncached, before + (float)cps.size());
            float h1, h2;
            fontatlas_calcstringrect(atlas, text, nullptr, &h1, size);
            fontatlas_calcstringrect_uncached(atlas, text, nullptr, &h2, size);
            EXPECT_FLOAT_EQ(h1, h2);
        }
    }
}

TEST_F(FontAtlasTest, InvalidSizesMeasureNothingAndCacheNothing)
{
    const Uint32 cps[] = {'A', 'B', ' '};
    for (float size : {0.0f, -0.0f, -1.0f, -22.0f, NAN, INFINITY, -INFINITY, 1e30f, FONTATLAS_MAX_PIXEL_SIZE * 2}) {
        SCOPED_TRACE(size);
        float w = -1, h = -1;
        fontatlas_calcstringrect(atlas, "AB", &w, &h, size);
        EXPECT_EQ(w, 0.0f);
        EXPECT_EQ(h, 0.0f);
        fontatlas_calcstringrect_uncached(atlas, "AB", &w, &h, size);
        EXPECT_EQ(w, 0.0f);
        EXPECT_EQ(h, 0.0f);
        fontatlas_cacheglyphs(atlas, cps, 3, size);
        EXPECT_EQ(fontatlas_getglyph(atlas, 'A', size), nullptr);
        EXPECT_FALSE(fontatlas_pixel_size_valid(size));
    }
    fontatlas_cacheglyphs(atlas, cps, 0, 20.0f);
    fontatlas_cacheglyphs(atlas, cps, -5, 20.0f);
    fontatlas_cacheglyphs(atlas, nullptr, 3, 20.0f);
    EXPECT_EQ(page_count(), 0);
    for (GlyphEntry *head : atlas->cache->buckets)
        EXPECT_EQ(head, nullptr);
}

TEST_F(FontAtlasTest, GlyphKeysAndSpecialGlyphs)
{
    const CachedGlyph *a20 = fontatlas_getglyph(atlas, 'A', 20.0f);
    ASSERT_NE(a20, nullptr);
    EXPECT_EQ(fontatlas_getglyph(atlas, 'A', 20.00001f), a20);   // same key at 1/10000 px
    const CachedGlyph *a21 = fontatlas_getglyph(atlas, 'A', 21.0f);
    ASSERT_NE(a21, nullptr);
    EXPECT_NE(a21, a20);
    EXPECT_FLOAT_EQ(a20->advance, dv_advance_A * 20.0f / 2384.0f);
    EXPECT_EQ(a20->w, (int)(a20->x1 - a20->x0));
    EXPECT_EQ(a20->h, (int)(a20->y1 - a20->y0));
    EXPECT_LT(a20->y0, 0.0f);   // above the baseline

    // No outline: a 0 x 0 bitmap that still takes a cell in a page.
    const CachedGlyph *space = fontatlas_getglyph(atlas, ' ', 20.0f);
    ASSERT_NE(space, nullptr);
    EXPECT_EQ(space->w, 0);
    EXPECT_EQ(space->h, 0);
    EXPECT_NE(space->texture, nullptr);
    EXPECT_GT(space->advance, 0.0f);

    // A glyph the font lacks is not stored and looked for again each time.
    EXPECT_EQ(fontatlas_getglyph(atlas, 0x65E5, 20.0f), nullptr);
    EXPECT_EQ(stored_count(0x65E5, 20.0f), 0);
    EXPECT_EQ(fontatlas_getglyph(atlas, 0, 20.0f), nullptr);

    // Twice in one call: stored twice, lookups find the newer record.
    const Uint32 twice[] = {'Q', 'Q'};
    fontatlas_cacheglyphs(atlas, twice, 2, 20.0f);
    EXPECT_EQ(stored_count('Q', 20.0f), 2);
    const Uint64 key = (Uint64)'Q' << 32 | 200000u;
    const CachedGlyph *first = nullptr;
    for (GlyphEntry *head : atlas->cache->buckets)
        for (GlyphEntry *e = head; e && !first; e = e->next)
            if (e->key == key)
                first = e->glyph;
    EXPECT_EQ(fontatlas_getglyph(atlas, 'Q', 20.0f), first);
}

TEST_F(FontAtlasTest, GlyphLargerThanAPageMeasuresButIsNeverRasterised)
{
    SDL_RendererInfo info;
    ASSERT_EQ(SDL_GetRendererInfo(renderer, &info), 0);
    EXPECT_EQ(info.max_texture_width, 0);   // the software renderer reports no limit
    EXPECT_EQ(atlas->cache->page_w, FONTATLAS_MAX_PAGE_SIZE);
    EXPECT_EQ(atlas->cache->page_h, FONTATLAS_MAX_PAGE_SIZE);

    // At the largest size the bitmap would take gigabytes: it must be
    // refused before any pixel is made.
    for (float size : {2000.0f, FONTATLAS_MAX_PIXEL_SIZE}) {
        const CachedGlyph *w = fontatlas_getglyph(atlas, 'W', size);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->texture, nullptr);
        EXPECT_EQ(w->x, 0);
        EXPECT_EQ(w->y, 0);
        EXPECT_GT(w->w, FONTATLAS_MAX_PAGE_SIZE - 2);
        EXPECT_FLOAT_EQ(w->advance, 2025 * size / 2384.0f);
        EXPECT_EQ(width("W", size), truncf(w->advance));
    }
    EXPECT_EQ(page_count(), 0);

    // The largest glyph that fits: w + 2 == page width.
    const Uint32 cp = 'W';
    float fit = 0;
    for (float size = 1000; size < 1200; size += 0.5f) {
        const float sc = size / 2384.0f;
        int x0, y0, x1, y1;
        stbtt_GetCodepointBox(&reference().info, 'W', &x0, &y0, &x1, &y1);
        if (ceilf(x1 * sc) - floorf(x0 * sc) + 2 <= FONTATLAS_MAX_PAGE_SIZE &&
            ceilf(-y0 * sc) - floorf(-y1 * sc) + 2 <= FONTATLAS_MAX_PAGE_SIZE)
            fit = size;
    }
    ASSERT_GT(fit, 0);
    fontatlas_cacheglyphs(atlas, &cp, 1, fit);
    const CachedGlyph *big = fontatlas_getglyph(atlas, cp, fit);
    ASSERT_NE(big, nullptr);
    EXPECT_NE(big->texture, nullptr);
    EXPECT_EQ(page_count(), 1);
}

// Copies a glyph's cell (glyph plus its one-pixel border) 1:1 without
// blending onto a cleared target and reads the pixels back.
std::vector<Uint32> read_glyph_cell(SDL_Renderer *r, const CachedGlyph *g)
{
    SDL_SetRenderDrawColor(r, 0, 0, 0, 0);
    SDL_RenderClear(r);
    SDL_SetTextureBlendMode(g->texture, SDL_BLENDMODE_NONE);
    SDL_Rect src = {g->x - 1, g->y - 1, g->w + 2, g->h + 2};
    SDL_Rect dst = {0, 0, g->w + 2, g->h + 2};
    EXPECT_EQ(SDL_RenderCopy(r, g->texture, &src, &dst), 0) << SDL_GetError();
    std::vector<Uint32> px((size_t)dst.w * dst.h);
    EXPECT_EQ(SDL_RenderReadPixels(r, &dst, SDL_PIXELFORMAT_ARGB8888, px.data(), dst.w * 4), 0) << SDL_GetError();
    SDL_SetTextureBlendMode(g->texture, SDL_BLENDMODE_BLEND);
    return px;
}

TEST_F(FontAtlasTest, GlyphPixelsReachThePageAsWhiteWithCoverageAlpha)
{
    for (Uint32 cp : {(Uint32)'A', (Uint32)'g', 0xE9u, 0x20ACu}) {
        SCOPED_TRACE(cp);
        const float size = 48.0f;
        const CachedGlyph *g = fontatlas_getglyph(atlas, cp, size);
        ASSERT_NE(g, nullptr);
        ASSERT_NE(g->texture, nullptr);
        ASSERT_LE(g->w + 2, 256);
        ASSERT_LE(g->h + 2, 256);

        int rw, rh, xoff, yoff;
        const float scale = stbtt_ScaleForPixelHeight(&reference().info, size);
        unsigned char *want = stbtt_GetCodepointBitmap(&reference().info, scale, scale, (int)cp, &rw, &rh, &xoff, &yoff);
        ASSERT_NE(want, nullptr);
        EXPECT_EQ(g->w, rw);
        EXPECT_EQ(g->h, rh);
        EXPECT_EQ(g->x0, (float)xoff);
        EXPECT_EQ(g->y0, (float)yoff);

        const std::vector<Uint32> px = read_glyph_cell(renderer, g);
        const int cw = g->w + 2, ch = g->h + 2;
        int inked = 0, mismatched = 0, dirty_border = 0;
        for (int y = 0; y < ch; y++)
            for (int x = 0; x < cw; x++) {
                const Uint32 p = px[(size_t)y * cw + x];
                const bool border = x == 0 || y == 0 || x == cw - 1 || y == ch - 1;
                if (border) {
                    dirty_border += p != 0;
                    continue;
                }
                const Uint8 cov = want[(size_t)(y - 1) * rw + (x - 1)];
                mismatched += (p >> 24) != cov || (cov && (p & 0xFFFFFF) != 0xFFFFFF);
                inked += cov > 0;
            }
        EXPECT_GT(inked, g->w * g->h / 10);
        EXPECT_EQ(mismatched, 0);
        EXPECT_EQ(dirty_border, 0);
        stbtt_FreeBitmap(want, nullptr);
    }
}

TEST_F(FontAtlasTest, FullPageOpensASecondPageWithoutOverlaps)
{
    std::vector<Uint32> cps;
    for (const char *p = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789@&%"; *p; p++)
        cps.push_back((Uint8)*p);
    const float size = 260.0f;
    fontatlas_cacheglyphs(atlas, cps.data(), (int)cps.size(), size);
    ASSERT_GE(page_count(), 2);

    std::set<SDL_Texture *> textures;
    for (AtlasPage *p = atlas->cache->pages; p; p = p->next) {
        ASSERT_NE(p->texture, nullptr);
        textures.insert(p->texture);
        // The skyline stays ordered, gapless and as wide as the page.
        Uint32 x = 0;
        for (SkylineNode *n = p->skyline; n; n = n->next) {
            EXPECT_EQ(n->x, x);
            EXPECT_LE(n->y, (Uint32)FONTATLAS_MAX_PAGE_SIZE);
            x += n->width;
        }
        EXPECT_EQ(x, (Uint32)FONTATLAS_MAX_PAGE_SIZE);
    }
    std::vector<const CachedGlyph *> glyphs;
    for (Uint32 cp : cps) {
        const CachedGlyph *g = fontatlas_getglyph(atlas, cp, size);
        ASSERT_NE(g, nullptr);
        EXPECT_EQ(textures.count(g->texture), 1u);
        // The cell (with its border) lies inside the page.
        EXPECT_GE(g->x - 1, 0);
        EXPECT_GE(g->y - 1, 0);
        EXPECT_LE(g->x + g->w + 1, FONTATLAS_MAX_PAGE_SIZE);
        EXPECT_LE(g->y + g->h + 1, FONTATLAS_MAX_PAGE_SIZE);
        glyphs.push_back(g);
    }
    EXPECT_EQ(page_count(), (int)textures.size());   // lookups created nothing more
    for (size_t i = 0; i < glyphs.size(); i++)
        for (size_t j = i + 1; j < glyphs.size(); j++) {
            const CachedGlyph *a = glyphs[i], *b = glyphs[j];
            if (a->texture != b->texture)
                continue;
            const SDL_Rect ra = {a->x - 1, a->y - 1, a->w + 2, a->h + 2}, rb = {b->x - 1, b->y - 1, b->w + 2, b->h + 2};
            EXPECT_FALSE(SDL_HasIntersection(&ra, &rb)) << cps[i] << " and " << cps[j];
        }

    // Glyphs on the older page still hold their pixels.
    for (const CachedGlyph *g : glyphs) {
        if (g->texture != atlas->cache->pages->next->texture)
            continue;
        if (g->w + 2 > 256 || g->h + 2 > 256)
            continue;
        const std::vector<Uint32> px = read_glyph_cell(renderer, g);
        int inked = 0;
        for (Uint32 p : px)
            inked += (p >> 24) > 128;
        EXPECT_GT(inked, 0);
        break;
    }
}

// ---------------------------------------------------------------------------
// Loading

TEST(FontFile, MissingFileReportsThePathAndReason)
{
    EXPECT_EQ(fontatlas_new(nullptr, "fonts/none.ttf"), nullptr);
    EXPECT_STREQ(SDL_GetError(), "Couldn't load 'fonts/none.ttf': not found");
    EXPECT_EQ(fontatlas_new(nullptr, nullptr), nullptr);
    fontatlas_delete(nullptr);
}

TEST(FontFile, LoadsWithoutARendererForMeasuring)
{
    write_file("plain.ttf", reference().data);
    FontAtlas *a = fontatlas_new(nullptr, "plain.ttf");
    ASSERT_NE(a, nullptr) << SDL_GetError();
    EXPECT_EQ(a->cache->page_w, FONTATLAS_MAX_PAGE_SIZE);
    const CachedGlyph *g = fontatlas_getglyph(a, 'A', 30.0f);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->texture, nullptr);   // a page without texture: measures, draws nothing
    float w;
    fontatlas_calcstringrect(a, "A", &w, nullptr, 30.0f);
    EXPECT_EQ(w, truncf(dv_advance_A * 30.0f / 2384.0f));
    fontatlas_delete(a);
}

// Loads bytes as "bad.ttf": null with the corrupt-font message, or an atlas.
FontAtlas *load_bytes(const bytes &data)
{
    write_file("bad.ttf", data);
    SDL_ClearError();
    return fontatlas_new(nullptr, "bad.ttf");
}

void expect_refused(const bytes &data, const std::string &what)
{
    SCOPED_TRACE(what);
    FontAtlas *a = load_bytes(data);
    EXPECT_EQ(a, nullptr);
    EXPECT_STREQ(SDL_GetError(), "Font 'bad.ttf' is bogus or corrupt");
    fontatlas_delete(a);
}

TEST(FontFile, TruncatedFilesAreRefused)
{
    const bytes &font = reference().data;
    Uint32 tables_end = 0;
    for (Uint16 i = 0; i < get16(font, 4); i++)
        tables_end = SDL_max(tables_end, get32(font, 12 + 16 * i + 8) + get32(font, 12 + 16 * i + 12));
    const size_t dir_end = 12 + 16 * (size_t)get16(font, 4);
    for (size_t len : {(size_t)0, (size_t)1, (size_t)4, (size_t)11, (size_t)12, (size_t)100, dir_end - 1, dir_end,
                       (size_t)5000, font.size() / 4, font.size() / 2, (size_t)tables_end - 1})
        expect_refused(bytes(font.begin(), font.begin() + (long)len), "cut at " + std::to_string(len));
}

TEST(FontFile, CorruptStructuresAreRefused)
{
    const bytes &font = reference().data;
    const table_rec cmap = find_table(font, "cmap"), hhea = find_table(font, "hhea"), head = find_table(font, "head"),
                    maxp = find_table(font, "maxp"), loca = find_table(font, "loca"), glyf = find_table(font, "glyf");
    const size_t glyph_A = glyph_offset(font, 36), glyph_eacute = glyph_offset(font, 171);
    ASSERT_EQ((Sint16)get16(font, glyph_A), 2);          // two contours
    ASSERT_EQ((Sint16)get16(font, glyph_eacute), -1);    // a composite

    struct {
        const char *what;
        std::function<void(bytes &)> corrupt;
    } cases[] = {
        {"unknown sfnt version", [](bytes &b) { put32(b, 0, 0x41424344); }},
        {"directory longer than the file", [](bytes &b) { put16(b, 4, 0xFFFF); }},
        {"table running past the end", [&](bytes &b) { put32(b, glyf.rec + 12, (Uint32)b.size()); }},
        {"table offset wrapping 32 bits", [&](bytes &b) { put32(b, find_table(b, "hmtx").rec + 8, 0xFFFFFF00u), put32(b, find_table(b, "hmtx").rec + 12, 0x200); }},
        {"unrelated table past the end", [&](bytes &b) { put32(b, find_table(b, "name").rec + 8, (Uint32)b.size()); }},
        {"no cmap", [&](bytes &b) { b[cmap.rec + 3] = 'q'; }},
        {"no glyf (outlines in CFF)", [&](bytes &b) { std::memcpy(&b[glyf.rec], "CFF ", 4); }},
        {"unknown loca format", [&](bytes &b) { put16(b, head.off + 50, 2); }},
        {"no long horizontal metrics", [&](bytes &b) { put16(b, hhea.off + 34, 0); }},
        {"ascent equal to descent", [&](bytes &b) { put16(b, hhea.off + 4, 0), put16(b, hhea.off + 6, 0); }},
        {"more glyphs than loca entries", [&](bytes &b) { put16(b, maxp.off + 4, 0xFFFF); }},
        {"glyph past the glyf table", [&](bytes &b) { put32(b, loca.off + 4 * 37, glyf.len + 40); }},
        {"loca going backwards", [&](bytes &b) { put32(b, loca.off + 4 * 37, get32(b, loca.off + 4 * 36) - 4); }},
        {"no cmap subtable it can read", [&](bytes &b) { put16(b, cmap.off + 44, 2), put16(b, cmap.off + 3146, 14); }},
        {"contour ends not increasing", [&](bytes &b) { put16(b, glyph_A + 12, get16(b, glyph_A + 10)); }},
        {"instructions past the glyph", [&](bytes &b) { put16(b, glyph_A + 14, 0xFFFF); }},
        {"last contour one off-curve point", [&](bytes &b) {
             // Glyph A: shrink the second contour to its last point and mark it off-curve.
             const Uint16 last = get16(b, glyph_A + 12);
             put16(b, glyph_A + 10, last - 1);
             const size_t flags = glyph_A + 16 + get16(b, glyph_A + 14);
             // Rewrite the flags as one repeated on-curve flag then an off-curve one.
             b[flags] = 0x01 | 0x08 | 0x02 | 0x04 | 0x10 | 0x20;
             b[flags + 1] = (Uint8)(last - 1);
             b[flags + 2] = 0x02 | 0x04 | 0x10 | 0x20;
         }},
        {"component referring to itself", [&](bytes &b) { put16(b, glyph_eacute + 12, 171); }},
        {"components referring to each other", [&](bytes &b) {
             const size_t other = glyph_offset(b, 200);
             put16(b, glyph_eacute + 12, 200);
             put16(b, other + 12, 171);
         }},
        {"point-matched component", [&](bytes &b) { put16(b, glyph_eacute + 10, get16(b, glyph_eacute + 10) & ~2); }},
        {"collection pointing past the end", [](bytes &b) {
             bytes c = {'t', 't', 'c', 'f', 0, 1, 0, 0, 0, 0, 0, 1, 0x7F, 0, 0, 0};
             b.insert(b.begin(), c.begin(), c.end());
         }},
    };
    for (auto &c : cases) {
        bytes b = font;
        c.corrupt(b);
        expect_refused(b, c.what);
    }
}

TEST(FontFile, DamagedOptionalStructuresAreSkipped)
{
    const bytes &font = reference().data;
    const table_rec cmap = find_table(font, "cmap"), gpos = find_table(font, "GPOS"), kern = find_table(font, "kern");
    const float size = 40.0f, scale = size / 2384.0f;
    const float a = truncf(dv_advance_A * scale), kerned = a + dv_kern_AV * scale + a;
    ASSERT_EQ(get16(font, cmap.off + 44), 4);
    ASSERT_EQ(get16(font, cmap.off + 3146), 12);

    struct {
        const char *what;
        std::function<void(bytes &)> damage;
        float av_width;
        bool maps_old_italic;   // U+10300, only in the format 12 subtable
    } cases[] = {
        {"format 4 search fields wrong: format 12 used", [&](bytes &b) { put16(b, cmap.off + 44 + 8, 0x7FFE); }, kerned, true},
        {"format 12 groups past the end: format 4 used", [&](bytes &b) { put32(b, cmap.off + 3146 + 12, 0x7FFFFFFF); }, kerned, false},
        {"GPOS lookup list past the end: kern table used", [&](bytes &b) { put16(b, gpos.off + 8, 0xFFFF); }, kerned, true},
        {"GPOS and kern broken: no kerning", [&](bytes &b) { put16(b, gpos.off + 8, 0xFFFF), put16(b, kern.off + 10, 0xFFFF); }, 2 * a, true},
        {"a collection of one font", [](bytes &b) {
             bytes c = {'t', 't', 'c', 'f', 0, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 16};
             b.insert(b.begin(), c.begin(), c.end());
             for (Uint16 i = 0; i < get16(b, 16 + 4); i++)
                 put32(b, 16 + 12 + 16 * i + 8, get32(b, 16 + 12 + 16 * i + 8) + 16);
         }, kerned, true},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.what);
        bytes b = font;
        c.damage(b);
        FontAtlas *atlas = load_bytes(b);
        ASSERT_NE(atlas, nullptr) << SDL_GetError();
        float w;
        fontatlas_calcstringrect(atlas, "AV", &w, nullptr, size);
        EXPECT_FLOAT_EQ(w, c.av_width);
        fontatlas_calcstringrect_uncached(atlas, "\xF0\x90\x8C\x80", &w, nullptr, size);
        EXPECT_EQ(w > 0, c.maps_old_italic);
        EXPECT_NE(fontatlas_getglyph(atlas, 'A', size), nullptr);
        fontatlas_delete(atlas);
    }
}

TEST(FontFile, RandomDamageNeverBreaksLoadingMeasuringOrRasterising)
{
    const bytes &font = reference().data;
    // Tables the parser reads, with the part of each worth damaging: for
    // glyf, the outlines of the glyphs that the text below uses.
    struct span {
        Uint32 off, len;
    };
    std::vector<span> spans;
    for (const char *tag : {"cmap", "head", "hhea", "hmtx", "maxp", "loca", "kern", "GPOS"}) {
        table_rec t = find_table(font, tag);
        spans.push_back({t.off, SDL_min(t.len, 8192u)});
    }
    const Uint32 glyf_off = find_table(font, "glyf").off;
    spans.push_back({(Uint32)glyph_offset(font, 0), (Uint32)(glyph_offset(font, 200) - glyf_off)});
    spans.push_back({0, 12 + 16 * (Uint32)get16(font, 4)});

    std::mt19937 rng(20240605);
    std::vector<Uint32> cps;
    for (Uint32 c = 32; c < 127; c++)
        cps.push_back(c);
    cps.push_back(0xE9);
    cps.push_back(0x20AC);
    int loaded = 0;
    const int rounds = 300;
    for (int round = 0; round < rounds; round++) {
        bytes b = font;
        const span s = spans[rng() % spans.size()];
        const int flips = 1 + (int)(rng() % 6);
        for (int i = 0; i < flips; i++) {
            const size_t at = s.off + rng() % s.len;
            if (rng() % 2)
                b[at] = (Uint8)rng();
            else
                b[at] ^= (Uint8)(1u << (rng() % 8));
        }
        FontAtlas *atlas = load_bytes(b);
        if (!atlas)
            continue;
        loaded++;
        float w, h;
        fontatlas_calcstringrect_uncached(atlas, "The quick brown fox AVA caf\xC3\xA9 \xE2\x82\xAC", &w, &h, 22.0f);
        fontatlas_cacheglyphs(atlas, cps.data(), (int)cps.size(), 24.0f);
        fontatlas_cacheglyphs(atlas, cps.data(), 20, 300.0f);
        fontatlas_calcstringrect(atlas, "The quick brown fox", &w, &h, 24.0f);
        fontatlas_delete(atlas);
    }
    // Most damage lands in coordinates, metrics or unused entries.
    EXPECT_GT(loaded, rounds / 4);
}

// ---------------------------------------------------------------------------
// Font map

class FontMapTest : public FontAtlasTest {
protected:
    font_map *map = nullptr;

    void SetUp() override
    {
        FontAtlasTest::SetUp();
        map = font_map_allocate(renderer);
        ASSERT_NE(map, nullptr);
        ASSERT_TRUE(font_map_load_fallback(map)) << SDL_GetError();
    }
    void TearDown() override
    {
        font_map_delete(map);
        FontAtlasTest::TearDown();
    }
};

TEST_F(FontMapTest, UnloadableFontsFallBackAndAreNotRetried)
{
    FontAtlas *fallback = lookup_font(map, nullptr);
    ASSERT_NE(fallback, nullptr);
    EXPECT_EQ(lookup_font(map, "fonts/missing.ttf"), fallback);
    write_file("broken.ttf", bytes(reference().data.begin(), reference().data.begin() + 500));
    EXPECT_EQ(lookup_font(map, "broken.ttf"), fallback);

    // Once failed, never loaded again during the run, even when it appears.
    std::filesystem::create_directories(temp_root + "/fonts");
    write_file("fonts/missing.ttf", reference().data);
    EXPECT_EQ(lookup_font(map, "fonts/missing.ttf"), fallback);

    write_file("other.ttf", reference().data);
    FontAtlas *other = lookup_font(map, "other.ttf");
    ASSERT_NE(other, nullptr);
    EXPECT_NE(other, fallback);
    EXPECT_EQ(lookup_font(map, "other.ttf"), other);

    // Measurement from the map: the fallback for paths that fail.
    float w = -1, h = -1, fw, fh;
    fontatlas_calcstringrect_uncached(fallback, "Hello AV", &fw, &fh, 22.0f);
    EXPECT_TRUE(font_map_calcstringbox(map, "fonts/missing.ttf", "Hello AV", 22.0f, &w, &h));
    EXPECT_EQ(w, fw);
    EXPECT_EQ(h, fh);
    EXPECT_TRUE(font_map_calcstringbox(map, "never-seen.ttf", "Hello AV", 22.0f, &w, &h));
    EXPECT_EQ(w, fw);
    EXPECT_TRUE(font_map_calcstringbox(map, nullptr, "", 22.0f, &w, &h));
    EXPECT_EQ(w, 0.0f);
    EXPECT_FLOAT_EQ(h, 22.0f);
    EXPECT_TRUE(font_map_calcstringbox(map, "other.ttf", nullptr, 22.0f, &w, &h));
    EXPECT_EQ(w, 0.0f);

    // After clearing, paths are looked up afresh; the fallback stays.
    font_map_clear(map);
    EXPECT_EQ(lookup_font(map, nullptr), fallback);
    FontAtlas *again = lookup_font(map, "fonts/missing.ttf");
    EXPECT_NE(again, fallback);
    EXPECT_NE(again, nullptr);
}

TEST_F(FontMapTest, MapWithoutFallbackMeasuresNothing)
{
    remove_file("font.ttf");
    font_map *empty = font_map_allocate(renderer);
    ASSERT_NE(empty, nullptr);
    EXPECT_FALSE(font_map_load_fallback(empty));
    EXPECT_STREQ(SDL_GetError(), "Couldn't load 'font.ttf': not found");
    EXPECT_EQ(lookup_font(empty, nullptr), nullptr);
    EXPECT_EQ(lookup_font(empty, "nothing.ttf"), nullptr);
    float w = -1, h = -1;
    EXPECT_FALSE(font_map_calcstringbox(empty, "nothing.ttf", "AV", 22.0f, &w, &h));
    EXPECT_EQ(w, 0.0f);
    EXPECT_EQ(h, 0.0f);
    font_map_delete(empty);
    font_map_delete(nullptr);
    EXPECT_EQ(lookup_font(nullptr, "x"), nullptr);
    EXPECT_FALSE(font_map_calcstringbox(nullptr, nullptr, "AV", 22.0f, &w, &h));
}

TEST_F(FontMapTest, FailedFallbackReloadKeepsTheOldAtlasWithFreshGlyphs)
{
    FontAtlas *fallback = lookup_font(map, nullptr);
    ASSERT_NE(fontatlas_getglyph(fallback, 'A', 30.0f), nullptr);
    ASSERT_NE(fallback->cache->pages, nullptr);

    write_file("font.ttf", bytes(reference().data.begin(), reference().data.begin() + 64));
    EXPECT_FALSE(font_map_load_fallback(map));
    EXPECT_STREQ(SDL_GetError(), "Font 'font.ttf' is bogus or corrupt");
    EXPECT_EQ(lookup_font(map, nullptr), fallback);
    // Its pages were lost with the renderer's textures: glyphs start over.
    EXPECT_EQ(fallback->cache->pages, nullptr);
    const CachedGlyph *g = fontatlas_getglyph(fallback, 'A', 30.0f);
    ASSERT_NE(g, nullptr);
    EXPECT_NE(g->texture, nullptr);

    write_file("font.ttf", reference().data);
    EXPECT_TRUE(font_map_load_fallback(map));
    FontAtlas *fresh = lookup_font(map, nullptr);
    ASSERT_NE(fresh, nullptr);
    float w;
    fontatlas_calcstringrect(fresh, "A", &w, nullptr, 30.0f);
    EXPECT_EQ(w, truncf(dv_advance_A * 30.0f / 2384.0f));
}

struct measuring_thread {
    font_map *map;
    float expected_w, expected_h;
    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0}, measured{0};

    // The simulation thread's view: measurement through the map only.
    static int run(void *data)
    {
        measuring_thread *t = (measuring_thread *)data;
        const char *paths[] = {nullptr, "other.ttf", "missing.ttf", "third.ttf"};
        for (int i = 0; !t->stop.load() || i < 200; i++) {
            float w = -1, h = -1;
            if (!font_map_calcstringbox(t->map, paths[i % 4], "Hello AV caf\xC3\xA9", 22.0f, &w, &h) ||
                w != t->expected_w || h != t->expected_h)
                t->wrong++;
            t->measured++;
        }
        return 0;
    }
};

TEST_F(FontMapTest, MeasuringFromAnotherThreadWhileTheMapIsRebuilt)
{
    write_file("other.ttf", reference().data);
    write_file("third.ttf", reference().data);
    measuring_thread t;
    t.map = map;
    fontatlas_calcstringrect_uncached(lookup_font(map, nullptr), "Hello AV caf\xC3\xA9", &t.expected_w, &t.expected_h, 22.0f);

    // An SDL thread, as the simulation thread is: SDL frees its error text on exit.
    SDL_Thread *simulation = SDL_CreateThread(measuring_thread::run, "simulation", &t);
    ASSERT_NE(simulation, nullptr) << SDL_GetError();
    int reloads = 0;
    for (int i = 0; i < 60; i++) {
        FontAtlas *a = lookup_font(map, i % 2 ? "other.ttf" : "third.ttf");
        EXPECT_NE(fontatlas_getglyph(a, (Uint32)('a' + i % 26), 22.0f), nullptr);
        font_map_clear(map);
        reloads += font_map_load_fallback(map);
        EXPECT_NE(fontatlas_getglyph(lookup_font(map, nullptr), 'Z', 18.0f), nullptr);
    }
    t.stop = true;
    SDL_WaitThread(simulation, nullptr);
    EXPECT_EQ(reloads, 60);
    EXPECT_EQ(t.wrong.load(), 0);
    EXPECT_GE(t.measured.load(), 200);
}

} // namespace
