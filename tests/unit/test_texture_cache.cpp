// The texture and cursor caches over a software renderer and image files
// the tests write: the name hash and buckets, loading and reuse, the
// checkerboard and built-in fallbacks, development warnings, pixel arrays,
// render targets, unloading, device-reset recovery, the sprite-size probe
// that the simulation thread uses (also while the render thread changes the
// map) and the cursor map.
#include <gtest/gtest.h>

#include "log_capture.h"
#include "temp_vfs.h"

#include <lodepng.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "config/cvar.h"
#include "log/log.h"
#include "render/render_context.h"
#include "render/texture_cache.h"

namespace {

using bytes = std::vector<Uint8>;

void write_png(const std::string &name, int w, int h, const bytes &rgba)
{
    unsigned char *out = nullptr;
    size_t size = 0;
    ASSERT_EQ(lodepng_encode32(&out, &size, rgba.data(), (unsigned)w, (unsigned)h), 0u);
    std::ofstream f(temp_root + "/" + name, std::ios::binary | std::ios::trunc);
    f.write((const char *)out, (std::streamsize)size);
    free(out);
}

// Pixel (x, y) of a pattern image: distinct in every channel.
bytes pattern(int w, int h, Uint8 seed)
{
    bytes px((size_t)w * h * 4);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            Uint8 *p = &px[((size_t)y * w + x) * 4];
            p[0] = (Uint8)(seed + x * 40), p[1] = (Uint8)(seed + y * 60), p[2] = (Uint8)(seed ^ 0x5A), p[3] = 255;
        }
    return px;
}

void remove_file(const std::string &name)
{
    std::filesystem::remove(temp_root + "/" + name);
}

SDL_Texture *static_texture(SDL_Renderer *r, int w, int h, Uint8 fill)
{
    SDL_Texture *t = SDL_CreateTexture(r, SDL_PIXELFORMAT_ABGR8888, SDL_TEXTUREACCESS_STATIC, w, h);
    bytes px((size_t)w * h * 4, fill);
    SDL_UpdateTexture(t, nullptr, px.data(), w * 4);
    return t;
}

// A render context with just what the caches use: a software renderer over
// a 64 x 64 surface, a checkerboard and a solid texture.
class TextureCacheTest : public ::testing::Test {
protected:
    SDL_Surface *surface = nullptr;
    render_context rc{};

    void SetUp() override
    {
        cvar_quit();
        cvar_set("log.level", "spam");
        cvar_set("log.stdout", "false");
        cvar_set("log.filename", "");
        ASSERT_TRUE(log_init());
        ASSERT_TRUE(log_ready());
        surface = SDL_CreateRGBSurfaceWithFormat(0, 64, 64, 32, SDL_PIXELFORMAT_ABGR8888);
        ASSERT_NE(surface, nullptr);
        rc.renderer = SDL_CreateSoftwareRenderer(surface);
        ASSERT_NE(rc.renderer, nullptr) << SDL_GetError();
        rc.checkerboard = static_texture(rc.renderer, 256, 256, 0x80);
        rc.solid = static_texture(rc.renderer, 8, 8, 0xFF);
        drain_log();
    }

    void TearDown() override
    {
        texture_map_delete(rc.textures);
        cursor_map_delete(rc.cursors);
        SDL_DestroyTexture(rc.checkerboard);
        SDL_DestroyTexture(rc.solid);
        SDL_DestroyRenderer(rc.renderer);
        SDL_FreeSurface(surface);
        log_quit();
        cvar_quit();
    }

    // The texture's pixels, copied without blending onto the surface.
    bytes read_back(SDL_Texture *t)
    {
        int w = 0, h = 0;
        SDL_QueryTexture(t, nullptr, nullptr, &w, &h);
        SDL_SetRenderTarget(rc.renderer, nullptr);
        SDL_SetRenderDrawColor(rc.renderer, 0, 0, 0, 0);
        SDL_RenderClear(rc.renderer);
        SDL_BlendMode mode;
        SDL_GetTextureBlendMode(t, &mode);
        SDL_SetTextureBlendMode(t, SDL_BLENDMODE_NONE);
        const SDL_Rect r = {0, 0, w, h};
        SDL_RenderCopy(rc.renderer, t, nullptr, &r);
        SDL_SetTextureBlendMode(t, mode);
        bytes px((size_t)w * h * 4);
        EXPECT_EQ(SDL_RenderReadPixels(rc.renderer, &r, SDL_PIXELFORMAT_ABGR8888, px.data(), w * 4), 0);
        return px;
    }

    int entry_count()
    {
        int n = 0;
        if (rc.textures)
            for (texture_entry *head : rc.textures->buckets)
                for (texture_entry *e = head; e; e = e->next)
                    n++;
        return n;
    }

    std::vector<logged> warnings()
    {
        std::vector<logged> out;
        for (const auto &e : drain_log())
            if (e.level == LOG_LEVEL_WARN)
                out.push_back(e);
        return out;
    }
};

const char problematic_warning[] =
    "* WARNING: File path contains problematic characters.\n"
    "  To ensure cross-platform support, it is STRONGLY recommended\n"
    "  that file names be all lowercase with no spaces.\n\n"
    "  Consider renaming:\n    =sprites/Player One.png=\n  to\n    =sprites/player-one.png=";

} // namespace

TEST(CacheNameHash, MatchesTheReferenceValues)
{
    const struct {
        const char *name;
        Uint32 hash;
    } cases[] = {
        {"", 5381}, {"a", 177604}, {"ab", 5860902}, {"\xff", 177498}, {"sprites/hero.png", 3316819095u},
    };
    for (const auto &c : cases)
        EXPECT_EQ(cache_name_hash(c.name), c.hash) << c.name;
    EXPECT_EQ(cache_name_hash("") & (TEXTURE_MAP_BUCKETS - 1), 5u);
    EXPECT_EQ(cache_name_hash("") & (CURSOR_MAP_BUCKETS - 1), 5u);
}

TEST_F(TextureCacheTest, EntriesAreKeyedByExactName)
{
    EXPECT_EQ(lookup_texture_no_fallback(&rc, nullptr), nullptr);
    texture_entry *hero = lookup_texture_no_fallback(&rc, "hero.png");
    ASSERT_NE(hero, nullptr);
    ASSERT_NE(rc.textures, nullptr);
    EXPECT_EQ(lookup_texture_no_fallback(&rc, "hero.png"), hero);
    texture_entry *upper = lookup_texture_no_fallback(&rc, "Hero.png");
    EXPECT_NE(upper, hero);
    EXPECT_STREQ(hero->name, "hero.png");
    EXPECT_EQ(hero->texture, nullptr);
    EXPECT_EQ(entry_count(), 2);

    // Two names sharing a bucket: both stay reachable, the newer at the head.
    std::string first = "n0", second;
    for (int i = 1; second.empty(); i++) {
        const std::string n = "n" + std::to_string(i);
        if ((cache_name_hash(n.c_str()) & 255) == (cache_name_hash(first.c_str()) & 255))
            second = n;
    }
    texture_entry *a = lookup_texture_no_fallback(&rc, first.c_str());
    texture_entry *b = lookup_texture_no_fallback(&rc, second.c_str());
    ASSERT_NE(a, b);
    EXPECT_EQ(rc.textures->buckets[cache_name_hash(first.c_str()) & 255], b);
    EXPECT_EQ(b->next, a);
    EXPECT_EQ(lookup_texture_no_fallback(&rc, first.c_str()), a);
    EXPECT_EQ(lookup_texture_no_fallback(&rc, second.c_str()), b);
}

TEST_F(TextureCacheTest, LoadsAnImageOnceAndReusesIt)
{
    const bytes px = pattern(3, 2, 10);
    write_png("once.png", 3, 2, px);
    const texture_lookup first = lookup_texture(&rc, "once.png");
    ASSERT_NE(first.texture, nullptr);
    EXPECT_NE(first.texture, rc.checkerboard);
    EXPECT_EQ(first.width, 3);
    EXPECT_EQ(first.height, 2);
    ASSERT_NE(first.entry, nullptr);
    EXPECT_EQ(first.entry, lookup_texture_no_fallback(&rc, "once.png"));
    EXPECT_EQ(first.render_target, 0);
    EXPECT_EQ(first.scale, 0.0f);
    EXPECT_EQ(read_back(first.texture), px);
    SDL_BlendMode mode;
    SDL_GetTextureBlendMode(first.texture, &mode);
    EXPECT_EQ(mode, SDL_BLENDMODE_BLEND);

    remove_file("once.png");
    EXPECT_EQ(lookup_texture(&rc, "once.png").texture, first.texture);
}

TEST_F(TextureCacheTest, MissingImagesAndBuiltInNames)
{
    for (const char *name : {"pixel", "solid"}) {
        const texture_lookup r = lookup_texture(&rc, name);
        EXPECT_EQ(r.texture, rc.solid);
        EXPECT_EQ(r.width, 1280);
        EXPECT_EQ(r.height, 1280);
        EXPECT_EQ(r.entry, nullptr);
    }
    EXPECT_EQ(entry_count(), 0);

    {
        std::ofstream f(temp_root + "/broken.png", std::ios::binary | std::ios::trunc);
        f << "not an image";
    }
    for (const char *name : {"later.png", "broken.png", (const char *)nullptr}) {
        const texture_lookup r = lookup_texture(&rc, name);
        EXPECT_EQ(r.texture, rc.checkerboard);
        EXPECT_EQ(r.width, 256);
        EXPECT_EQ(r.height, 256);
        EXPECT_EQ(r.entry, nullptr);
        EXPECT_EQ(r.render_target, 0);
    }
    texture_entry *later = lookup_texture_no_fallback(&rc, "later.png");
    ASSERT_NE(later, nullptr);
    EXPECT_EQ(later->texture, nullptr);
    EXPECT_TRUE(drain_log().empty());

    // A failed load is retried on the next lookup.
    write_png("later.png", 2, 2, pattern(2, 2, 3));
    const texture_lookup r = lookup_texture(&rc, "later.png");
    EXPECT_EQ(r.entry, later);
    EXPECT_EQ(r.width, 2);
    EXPECT_NE(later->texture, nullptr);

    // Without a checkerboard the fallback has no size, so nothing is drawn.
    SDL_DestroyTexture(rc.checkerboard);
    rc.checkerboard = nullptr;
    const texture_lookup none = lookup_texture(&rc, "still-missing.png");
    EXPECT_EQ(none.texture, nullptr);
    EXPECT_EQ(none.width, 0);
    EXPECT_EQ(none.height, 0);
}

TEST_F(TextureCacheTest, DevelopmentModeWarnsAboutPathsAndSizes)
{
    write_png("wide.png", 4096, 16, bytes(4096 * 16 * 4, 0x7F));
    write_png("edge_w.png", 4000, 4, bytes(4000 * 4 * 4, 0x7F));
    write_png("edge_h.png", 4, 4000, bytes(4000 * 4 * 4, 0x7F));

    // Outside development mode: nothing.
    lookup_texture(&rc, "sprites/Player One.png");
    lookup_texture(&rc, "wide.png");
    EXPECT_TRUE(warnings().empty());
    texture_map_unload(&rc, "wide.png");

    rc.development = 1;
    lookup_texture(&rc, "sprites/Player One.png");
    lookup_texture(&rc, "sprites/Player One.png");   // every load attempt checks
    const logged path_warning = {LOG_LEVEL_WARN, "Engine", problematic_warning};
    EXPECT_EQ(warnings(), (std::vector<logged>{path_warning, path_warning}));

    lookup_texture(&rc, "edge_w.png");
    lookup_texture(&rc, "edge_h.png");
    lookup_texture(&rc, "sprites/all-lower_case.png");
    EXPECT_TRUE(warnings().empty());

    const texture_lookup wide = lookup_texture(&rc, "wide.png");
    EXPECT_EQ(wide.width, 4096);
    const logged size_warning = {
        LOG_LEVEL_WARN, "Engine",
        "* WARNING: Texture size exceeds what Android can handle.\n"
        "  The texture with path =wide.png= has dimensions that are larger than 1600x1600  and WILL NOT render on "
        "Android devices in HD Mode."};
    EXPECT_EQ(warnings(), std::vector<logged>{size_warning});
    lookup_texture(&rc, "wide.png");   // loaded: no further attempt, no warning
    EXPECT_TRUE(warnings().empty());
}

TEST_F(TextureCacheTest, PixelArraysCreateAndUpdateTextures)
{
    const bytes a = pattern(2, 2, 1), b = pattern(2, 2, 99), c = pattern(3, 1, 50);
    ASSERT_TRUE(texture_map_upload_pixels(&rc, "canvas", 2, 2, a.data(), a.size())) << SDL_GetError();
    const texture_lookup first = lookup_texture(&rc, "canvas");
    ASSERT_NE(first.texture, nullptr);
    EXPECT_EQ(first.width, 2);
    EXPECT_EQ(read_back(first.texture), a);

    // Same size: the texture is updated in place.
    ASSERT_TRUE(texture_map_upload_pixels(&rc, "canvas", 2, 2, b.data(), b.size()));
    const texture_lookup second = lookup_texture(&rc, "canvas");
    EXPECT_EQ(second.texture, first.texture);
    EXPECT_EQ(read_back(second.texture), b);

    // Another size: a new texture of that size.
    ASSERT_TRUE(texture_map_upload_pixels(&rc, "canvas", 3, 1, c.data(), c.size()));
    const texture_lookup third = lookup_texture(&rc, "canvas");
    int w = 0, h = 0;
    SDL_QueryTexture(third.texture, nullptr, nullptr, &w, &h);
    EXPECT_EQ(w, 3);
    EXPECT_EQ(h, 1);
    EXPECT_EQ(third.width, 3);
    EXPECT_EQ(third.height, 1);
    EXPECT_EQ(read_back(third.texture), c);

    // A pixel array wins over a file of the same name, loaded or not.
    write_png("shadowed.png", 4, 4, pattern(4, 4, 7));
    EXPECT_EQ(lookup_texture(&rc, "shadowed.png").width, 4);
    ASSERT_TRUE(texture_map_upload_pixels(&rc, "shadowed.png", 2, 2, a.data(), a.size()));
    EXPECT_EQ(lookup_texture(&rc, "shadowed.png").width, 2);
    EXPECT_EQ(read_back(lookup_texture(&rc, "shadowed.png").texture), a);
}

TEST_F(TextureCacheTest, MalformedPixelArraysAreRefused)
{
    const bytes px(16, 0xAB);
    const struct {
        const char *what;
        const char *name;
        int w, h;
        const void *pixels;
        size_t count;
    } cases[] = {
        {"no name", nullptr, 2, 2, px.data(), 16},
        {"empty name", "", 2, 2, px.data(), 16},
        {"no pixels", "p", 2, 2, nullptr, 16},
        {"zero width", "p", 0, 2, px.data(), 0},
        {"negative height", "p", 2, -2, px.data(), 16},
        {"short", "p", 2, 2, px.data(), 15},
        {"long", "p", 2, 1, px.data(), 16},
        // Bytes past a 32-bit stream length, and a product that wraps in 32 bits.
        {"over 2 GiB", "p", 65536, 65536, px.data(), 16},
        {"wraps", "p", 32768, 32768, px.data(), 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        SDL_ClearError();
        EXPECT_EQ(texture_map_upload_pixels(&rc, c.name, c.w, c.h, c.pixels, c.count), 0);
        EXPECT_STRNE(SDL_GetError(), "");
    }
    EXPECT_EQ(entry_count(), 0);
}

TEST_F(TextureCacheTest, RenderTargetsAreMadeOnceForEachSize)
{
    texture_entry *e = lookup_texture_no_fallback(&rc, "rt");
    SDL_Texture *t = texture_entry_make_render_target(&rc, e, 20, 10, 2.0f);
    ASSERT_NE(t, nullptr) << SDL_GetError();
    int access = 0, w = 0, h = 0;
    SDL_QueryTexture(t, nullptr, &access, &w, &h);
    EXPECT_EQ(access, SDL_TEXTUREACCESS_TARGET);
    EXPECT_EQ(w, 20);
    EXPECT_EQ(h, 10);

    // It starts transparent, and the renderer's target and colour are kept.
    EXPECT_EQ(SDL_GetRenderTarget(rc.renderer), nullptr);
    Uint8 r, g, b, a;
    SDL_GetRenderDrawColor(rc.renderer, &r, &g, &b, &a);
    SDL_SetRenderTarget(rc.renderer, t);
    bytes px(20 * 10 * 4, 0xEE);
    ASSERT_EQ(SDL_RenderReadPixels(rc.renderer, nullptr, SDL_PIXELFORMAT_ABGR8888, px.data(), 80), 0);
    SDL_SetRenderTarget(rc.renderer, nullptr);
    EXPECT_EQ(px, bytes(px.size(), 0));

    const texture_lookup l = lookup_texture(&rc, "rt");
    EXPECT_EQ(l.texture, t);
    EXPECT_EQ(l.render_target, 1);
    EXPECT_EQ(l.scale, 2.0f);
    EXPECT_EQ(l.width, 20);
    EXPECT_EQ(l.height, 10);
    EXPECT_EQ(l.entry, e);

    EXPECT_EQ(texture_entry_make_render_target(&rc, e, 20, 10, 2.0f), t);
    SDL_Texture *wider = texture_entry_make_render_target(&rc, e, 24, 10, 2.0f);
    ASSERT_NE(wider, nullptr);
    SDL_QueryTexture(wider, nullptr, nullptr, &w, &h);
    EXPECT_EQ(w, 24);
    EXPECT_EQ(e->width, 24);

    // An image entry becomes a target; a size that is not positive is refused.
    write_png("was_image.png", 2, 2, pattern(2, 2, 5));
    texture_entry *img = lookup_texture(&rc, "was_image.png").entry;
    ASSERT_NE(img, nullptr);
    ASSERT_NE(texture_entry_make_render_target(&rc, img, 2, 2, 1.0f), nullptr);
    EXPECT_EQ(img->render_target, 1);
    SDL_Texture *kept = img->texture;
    EXPECT_EQ(texture_entry_make_render_target(&rc, img, 0, 2, 1.0f), nullptr);
    EXPECT_EQ(img->texture, kept);
    EXPECT_EQ(texture_entry_make_render_target(&rc, nullptr, 2, 2, 1.0f), nullptr);
}

TEST_F(TextureCacheTest, UnloadDropsTheTextureButKeepsTheEntry)
{
    texture_map_unload(&rc, "");
    EXPECT_EQ(entry_count(), 0);
    texture_map_unload(&rc, "ghost.png");
    ASSERT_EQ(entry_count(), 1);
    EXPECT_EQ(lookup_texture_no_fallback(&rc, "ghost.png")->texture, nullptr);

    write_png("unload.png", 2, 1, pattern(2, 1, 0));
    const texture_lookup before = lookup_texture(&rc, "unload.png");
    ASSERT_NE(before.texture, nullptr);
    texture_map_unload(&rc, "unload.png");
    EXPECT_EQ(before.entry->texture, nullptr);
    write_png("unload.png", 3, 1, pattern(3, 1, 0));
    const texture_lookup after = lookup_texture(&rc, "unload.png");
    EXPECT_EQ(after.entry, before.entry);
    EXPECT_EQ(after.width, 3);

    // An unloaded pixel array is gone; the name falls back to its file.
    const bytes px = pattern(1, 1, 9);
    ASSERT_TRUE(texture_map_upload_pixels(&rc, "gone", 1, 1, px.data(), px.size()));
    texture_map_unload(&rc, "gone");
    EXPECT_EQ(lookup_texture(&rc, "gone").texture, rc.checkerboard);
}

TEST_F(TextureCacheTest, RecoveryDropsTexturesAndKeepsEntries)
{
    write_png("img.png", 2, 2, pattern(2, 2, 20));
    const bytes px = pattern(2, 1, 80);
    texture_entry *img = lookup_texture(&rc, "img.png").entry;
    ASSERT_TRUE(texture_map_upload_pixels(&rc, "pa", 2, 1, px.data(), px.size()));
    texture_entry *pa = lookup_texture_no_fallback(&rc, "pa");
    texture_entry *rt = lookup_texture_no_fallback(&rc, "rt");
    SDL_Texture *target = texture_entry_make_render_target(&rc, rt, 4, 4, 1.0f);
    ASSERT_TRUE(img && pa && target);
    drain_log();

    texture_map_recover_textures(rc.textures);
    EXPECT_EQ(img->texture, nullptr);
    EXPECT_EQ(pa->texture, nullptr);
    EXPECT_EQ(rt->texture, target);
    EXPECT_EQ(entry_count(), 3);

    // Images reload from their files, pixel arrays rebuild from their copy.
    EXPECT_NE(lookup_texture(&rc, "img.png").texture, nullptr);
    const texture_lookup rebuilt = lookup_texture(&rc, "pa");
    ASSERT_NE(rebuilt.texture, nullptr);
    EXPECT_NE(rebuilt.texture, rc.checkerboard);
    EXPECT_EQ(read_back(rebuilt.texture), px);
    EXPECT_EQ(drain_log(), (std::vector<logged>{{LOG_LEVEL_SPAM, "Render",
                                                 "Reuploaded managed pixels for 'pa' after device reset"}}));

    texture_map_recover_render_targets(rc.textures);
    EXPECT_EQ(rt->texture, nullptr);
    EXPECT_EQ(rt->render_target, 1);
    EXPECT_NE(img->texture, nullptr);
    EXPECT_NE(pa->texture, nullptr);
    EXPECT_NE(texture_entry_make_render_target(&rc, rt, 4, 4, 1.0f), nullptr);

    texture_map_recover_textures(nullptr);
    texture_map_recover_render_targets(nullptr);
}

TEST_F(TextureCacheTest, SpriteSizeProbesWithoutTouchingTheMap)
{
    write_png("six_by_four.png", 6, 4, bytes(6 * 4 * 4, 1));
    int w = 0, h = 0;
    EXPECT_EQ(texture_map_sprite_size(rc.textures, "six_by_four.png", &w, &h), 1);
    EXPECT_EQ(w, 6);
    EXPECT_EQ(h, 4);
    EXPECT_EQ(texture_map_sprite_size(rc.textures, "missing.png", &w, &h), 1);
    EXPECT_EQ(w, 256);
    EXPECT_EQ(h, 256);
    EXPECT_EQ(rc.textures, nullptr);

    lookup_texture_no_fallback(&rc, "other");
    EXPECT_EQ(texture_map_sprite_size(rc.textures, "six_by_four.png", &w, &h), 1);
    EXPECT_EQ(w, 6);
    EXPECT_EQ(entry_count(), 1);

    // A loaded texture or a pixel array answers its recorded size.
    const bytes px = pattern(3, 2, 0);
    ASSERT_TRUE(texture_map_upload_pixels(&rc, "six_by_four.png", 3, 2, px.data(), px.size()));
    EXPECT_EQ(texture_map_sprite_size(rc.textures, "six_by_four.png", &w, &h), 1);
    EXPECT_EQ(w, 3);
    EXPECT_EQ(h, 2);
    texture_map_recover_textures(rc.textures);   // the pixel copy still counts
    EXPECT_EQ(texture_map_sprite_size(rc.textures, "six_by_four.png", &w, &h), 1);
    EXPECT_EQ(w, 3);
    EXPECT_EQ(texture_map_sprite_size(rc.textures, nullptr, &w, &h), 0);
}

TEST_F(TextureCacheTest, SpriteSizeIsSafeWhileTheRenderThreadChangesTheMap)
{
    // The probe sees either size of a pixel array that changes size, never a
    // mix, while other entries are added around it.
    const bytes small = pattern(2, 8, 0), large = pattern(8, 2, 0);
    ASSERT_TRUE(texture_map_upload_pixels(&rc, "flip", 2, 8, small.data(), small.size()));
    std::atomic<bool> done{false};
    std::atomic<int> bad{0}, probes{0};
    texture_map *map = rc.textures;
    std::thread simulation([&] {
        while (!done.load() || probes.load() < 100) {
            int w = 0, h = 0;
            if (!texture_map_sprite_size(map, "flip", &w, &h) || !((w == 2 && h == 8) || (w == 8 && h == 2)))
                bad++;
            probes++;
        }
    });
    for (int i = 0; i < 400; i++) {
        const bytes &px = (i & 1) ? small : large;
        texture_map_upload_pixels(&rc, "flip", (i & 1) ? 2 : 8, (i & 1) ? 8 : 2, px.data(), px.size());
        lookup_texture_no_fallback(&rc, ("extra" + std::to_string(i)).c_str());
        if (i % 50 == 0)
            texture_map_recover_textures(map);
    }
    done = true;
    simulation.join();
    EXPECT_EQ(bad.load(), 0);
    EXPECT_EQ(entry_count(), 401);
}

// Cursors need a video driver; the dummy one (the default here) makes no
// colour cursors, so the tests that need real ones run only where the
// driver can (for example SDL_VIDEODRIVER=x11 under xvfb-run).
class CursorCacheTest : public TextureCacheTest {
protected:
    void SetUp() override
    {
        SDL_SetHint(SDL_HINT_VIDEODRIVER, SDL_getenv("SDL_VIDEODRIVER") ? SDL_getenv("SDL_VIDEODRIVER") : "dummy");
        ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_VIDEO), 0) << SDL_GetError();
        TextureCacheTest::SetUp();
    }
    void TearDown() override
    {
        TextureCacheTest::TearDown();
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
    }

    int cursor_count()
    {
        int n = 0;
        if (rc.cursors)
            for (cursor_entry *head : rc.cursors->buckets)
                for (cursor_entry *c = head; c; c = c->next)
                    n++;
        return n;
    }

    static bool driver_makes_cursors()
    {
        Uint32 px = 0xFFFFFFFF;
        SDL_Surface *s = SDL_CreateRGBSurfaceWithFormatFrom(&px, 1, 1, 32, 4, SDL_PIXELFORMAT_ABGR8888);
        SDL_Cursor *c = SDL_CreateColorCursor(s, 0, 0);
        SDL_FreeSurface(s);
        if (c)
            SDL_FreeCursor(c);
        return c != nullptr;
    }
};

TEST_F(CursorCacheTest, MissingImagesGiveTheDefaultCursor)
{
    EXPECT_EQ(lookup_cursor(&rc, "no_cursor.png", 0, 0), SDL_GetDefaultCursor());
    cursor_entry *missing = lookup_cursor_no_fallback(&rc, "no_cursor.png");
    ASSERT_NE(missing, nullptr);
    EXPECT_EQ(missing->cursor, nullptr);
    EXPECT_EQ(cursor_count(), 1);

    // A hot spot outside the image makes no cursor either.
    write_png("tiny.png", 2, 2, pattern(2, 2, 1));
    EXPECT_EQ(lookup_cursor(&rc, "tiny.png", 10, 10), SDL_GetDefaultCursor());
    EXPECT_EQ(lookup_cursor_no_fallback(&rc, "tiny.png")->cursor, nullptr);

    EXPECT_EQ(lookup_cursor_no_fallback(&rc, nullptr), nullptr);
    EXPECT_EQ(lookup_cursor(&rc, nullptr, 0, 0), SDL_GetDefaultCursor());
    cursor_entry *empty = lookup_cursor_no_fallback(&rc, "");
    EXPECT_EQ(rc.cursors->buckets[5], empty);
}

TEST_F(CursorCacheTest, ImageCursorsAreMadeOnce)
{
    if (!driver_makes_cursors())
        GTEST_SKIP() << "video driver " << SDL_GetCurrentVideoDriver() << " makes no colour cursors";
    write_png("pointer.png", 4, 4, pattern(4, 4, 30));
    SDL_Cursor *c = lookup_cursor(&rc, "pointer.png", 1, 1);
    ASSERT_NE(c, nullptr) << SDL_GetError();
    EXPECT_NE(c, SDL_GetDefaultCursor());
    // The hot spot of the first request stays.
    EXPECT_EQ(lookup_cursor(&rc, "pointer.png", 3, 3), c);
    EXPECT_EQ(lookup_cursor_no_fallback(&rc, "pointer.png")->cursor, c);

    // A failed image is retried once it exists.
    EXPECT_EQ(lookup_cursor(&rc, "later_cursor.png", 0, 0), SDL_GetDefaultCursor());
    write_png("later_cursor.png", 2, 2, pattern(2, 2, 1));
    SDL_Cursor *later = lookup_cursor(&rc, "later_cursor.png", 0, 0);
    EXPECT_NE(later, SDL_GetDefaultCursor());
    EXPECT_NE(later, nullptr);
}

TEST_F(CursorCacheTest, SystemCursorsHaveReservedNames)
{
    SDL_Cursor *hand = lookup_system_cursor(&rc, SDL_SYSTEM_CURSOR_HAND);
    cursor_entry *e = lookup_cursor_no_fallback(&rc, "$MFORB$11");
    ASSERT_NE(e, nullptr);
    // The dummy video driver makes no system cursors: the default stands in.
    EXPECT_EQ(hand, e->cursor ? e->cursor : SDL_GetDefaultCursor());
    EXPECT_EQ(lookup_system_cursor(&rc, SDL_SYSTEM_CURSOR_HAND), hand);

    // Numbers SDL does not know are refused before anything is stored.
    EXPECT_EQ(lookup_system_cursor(&rc, -1), SDL_GetDefaultCursor());
    EXPECT_EQ(lookup_system_cursor(&rc, SDL_NUM_SYSTEM_CURSORS), SDL_GetDefaultCursor());
    EXPECT_EQ(cursor_count(), 1);
}
