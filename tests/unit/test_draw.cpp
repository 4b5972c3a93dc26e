// Drawing scene streams, checked against the pixels that reach the window:
// a real render context over the dummy video driver and its software
// renderer, canvas-sized windows so that canvas units are output pixels,
// images written by the tests, DejaVu Sans as the fallback font. Covers the
// coordinate mapping (y up, negative sizes, anchors), outlines, lines, the
// checkerboard fallback, source and tile rectangles, flips, rotation, tint,
// every blend mode, triangle vertex colours, named render targets, queued
// and replayed scenes with their commands, HD offsets and letterbox bars,
// label alignment and font fallback, screenshots read back by an
// independent PNG decoder, and truncated or unknown records.
#include <gtest/gtest.h>

#include "log_capture.h"
#include "temp_vfs.h"

#include <lodepng.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include <cstring>
#include <string>
#include <vector>

#include <mruby.h>

#include "bindings/ffi.h"
#include "config/cvar.h"
#include "config/metadata.h"
#include "engine/engine.h"
#include "log/log.h"
#include "render/draw.h"
#include "render/render_context.h"
#include "render/scene.h"
#include "render/texture_cache.h"
#include "stream/threadstream.h"
#include "text/fontatlas.h"

// Found by argument-dependent lookup, so beside SDL_Rect in the global namespace.
static bool operator==(const SDL_Rect &a, const SDL_Rect &b)
{
    return a.x == b.x && a.y == b.y && a.w == b.w && a.h == b.h;
}

static std::ostream &operator<<(std::ostream &os, const SDL_Rect &r)
{
    return os << "{" << r.x << ", " << r.y << ", " << r.w << ", " << r.h << "}";
}

namespace {

using bytes = std::vector<Uint8>;

struct rgba {
    int r, g, b, a;
};

std::ostream &operator<<(std::ostream &os, const rgba &c)
{
    return os << "(" << c.r << ", " << c.g << ", " << c.b << ", " << c.a << ")";
}

bool near(const rgba &c, int r, int g, int b, int tolerance = 0)
{
    return abs(c.r - r) <= tolerance && abs(c.g - g) <= tolerance && abs(c.b - b) <= tolerance;
}

void write_png(const std::string &name, int w, int h, const bytes &px)
{
    unsigned char *out = nullptr;
    size_t size = 0;
    ASSERT_EQ(lodepng_encode32(&out, &size, px.data(), (unsigned)w, (unsigned)h), 0u);
    std::filesystem::create_directories(std::filesystem::path(temp_root + "/" + name).parent_path());
    std::ofstream f(temp_root + "/" + name, std::ios::binary | std::ios::trunc);
    f.write((const char *)out, (std::streamsize)size);
    free(out);
}

// Pixel (column c, row r from the top) of the pattern images.
rgba pattern_at(int c, int r)
{
    return {c * 60 + 10, r * 60 + 10, 77, 255};
}

bytes pattern(int w, int h)
{
    bytes px((size_t)w * h * 4);
    for (int r = 0; r < h; r++)
        for (int c = 0; c < w; c++) {
            rgba p = pattern_at(c, r);
            Uint8 *o = &px[((size_t)r * w + c) * 4];
            o[0] = (Uint8)p.r, o[1] = (Uint8)p.g, o[2] = (Uint8)p.b, o[3] = 255;
        }
    return px;
}

// Record builders with the values a script's nil gives.
scene_solid solid(float x, float y, float w, float h, int r, int g, int b, int a = 255, int blend = 1)
{
    scene_solid s{};
    s.x = x, s.y = y, s.w = w, s.h = h;
    s.r = r, s.g = g, s.b = b, s.a = a;
    s.blend = blend;
    return s;
}

scene_sprite sprite(const char *path, float x, float y, float w, float h)
{
    scene_sprite s{};
    s.path = scene_text(path);
    s.x = x, s.y = y, s.w = w, s.h = h;
    s.r = s.g = s.b = s.a = 255;
    s.tile_w = s.tile_h = -1;
    s.source_w = s.source_h = -1;
    s.angle_anchor_x = s.angle_anchor_y = 0.5f;
    s.blend = 1;
    s.scale_percent = 100;
    return s;
}

scene_label label(const char *text, float x, float y, float size_px)
{
    scene_label l{};
    l.x = x, l.y = y;
    l.text = scene_text(text);
    l.font = scene_text(nullptr);
    l.a = 255;
    l.vertical_alignment = 2;
    l.blend = 1;
    l.size_px = size_px;
    return l;
}

// A scene stream under construction.
struct scene {
    threadstream *s;
    scene() : s(threadstream_allocate())
    {
        EXPECT_TRUE(scene_write_frame_header(s));
    }
    ~scene()
    {
        if (s)
            threadstream_free(s);
    }
    threadstream *release()
    {
        threadstream *out = s;
        s = nullptr;
        return out;
    }
    scene &grid(float x = 0, float y = 720)
    {
        scene_grid g{x, y, -1};
        EXPECT_TRUE(scene_write_grid(s, &g));
        return *this;
    }
    scene &passes(int count, int capture = 0)
    {
        scene_passes p{count, capture};
        EXPECT_TRUE(scene_write_passes(s, &p));
        return *this;
    }
    scene &pass(rgba bg, const char *target = nullptr, int w = 1280, int h = 720, int clear = 0)
    {
        scene_pass p{};
        p.r = bg.r, p.g = bg.g, p.b = bg.b, p.a = bg.a;
        p.target = scene_text(target);
        p.width = w, p.height = h;
        p.clear = clear;
        EXPECT_TRUE(scene_write_pass(s, &p));
        return *this;
    }
    scene &end()
    {
        EXPECT_TRUE(scene_write_pass_end(s));
        return *this;
    }
    scene &add(const scene_solid &r)
    {
        EXPECT_TRUE(scene_write_solid(s, &r));
        return *this;
    }
    scene &border(const scene_solid &r)
    {
        EXPECT_TRUE(scene_write_border(s, &r));
        return *this;
    }
    scene &add(const scene_sprite &r)
    {
        EXPECT_TRUE(scene_write_sprite(s, &r));
        return *this;
    }
    scene &add(const scene_label &r)
    {
        EXPECT_TRUE(scene_write_label(s, &r));
        return *this;
    }
    scene &add(const scene_line &r)
    {
        EXPECT_TRUE(scene_write_line(s, &r));
        return *this;
    }
    scene &add(const scene_triangle &r)
    {
        EXPECT_TRUE(scene_write_triangle(s, &r));
        return *this;
    }
    scene &title(const char *text)
    {
        scene_window_title t{scene_text(text)};
        EXPECT_TRUE(scene_write_window_title(s, &t));
        return *this;
    }
    scene &tag(Sint32 t)
    {
        EXPECT_TRUE(threadstream_pack_int(s, t));
        return *this;
    }
};

const rgba white = {255, 255, 255, 255}, black = {0, 0, 0, 255};

// The window's pixels, read in output pixels.
struct canvas {
    int w = 0, h = 0;
    std::vector<Uint32> px;
    rgba at(int x, int y) const
    {
        Uint32 v = px[(size_t)y * w + x];
        return {(int)(v & 0xFF), (int)(v >> 8 & 0xFF), (int)(v >> 16 & 0xFF), (int)(v >> 24)};
    }
    bool is(int x, int y, const rgba &c, int tolerance = 0) const
    {
        return near(at(x, y), c.r, c.g, c.b, tolerance);
    }
    // Bounding box and count of the pixels for which pred holds.
    template <typename F> SDL_Rect bbox(F pred, int *count = nullptr) const
    {
        int x0 = w, y0 = h, x1 = -1, y1 = -1, n = 0;
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++)
                if (pred(at(x, y))) {
                    x0 = SDL_min(x0, x), y0 = SDL_min(y0, y), x1 = SDL_max(x1, x), y1 = SDL_max(y1, y);
                    n++;
                }
        if (count)
            *count = n;
        return x1 < 0 ? SDL_Rect{0, 0, 0, 0} : SDL_Rect{x0, y0, x1 - x0 + 1, y1 - y0 + 1};
    }
    SDL_Rect bbox_of(const rgba &c, int *count = nullptr) const
    {
        return bbox([&](const rgba &p) { return near(p, c.r, c.g, c.b); }, count);
    }
};

// A render context from render_context_new over the dummy driver, its window
// resized to the output size under test, with the fallback font loaded.
class DrawTest : public ::testing::Test {
protected:
    render_context *rc = nullptr;
    font_map *own_fonts = nullptr;

    static void SetUpTestSuite()
    {
        SDL_setenv("SDL_VIDEODRIVER", "dummy", 1);
        ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_VIDEO), 0) << SDL_GetError();
        cvar_quit();
        cvar_set("log.level", "spam");
        cvar_set("log.stdout", "false");
        cvar_set("log.filename", "");
        ASSERT_TRUE(log_init());
        ASSERT_TRUE(log_ready());
        ASSERT_TRUE(register_renderer_cvars());
        ASSERT_TRUE(register_metadata_cvars());
        ASSERT_TRUE(threadstream_init());
        std::filesystem::copy_file("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", temp_root + "/font.ttf",
                                   std::filesystem::copy_options::overwrite_existing);
    }

    static void TearDownTestSuite()
    {
        threadstream_quit();
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
    }

    void SetUp() override
    {
        cvar_force_set("game_metadata.hd", "false");
        cvar_force_set("game_metadata.hd_letterbox", "true");
        cvar_force_set("game_metadata.hd_max_scale", "0");
        cvar_force_set("game_metadata.scale_quality", "0");
        cvar_force_set("game_metadata.orientation_current", "landscape");
        render_context_update_scale_quality();
        open(1280, 720);
        drain_log();
    }

    void TearDown() override
    {
        close();
    }

    void open(int w, int h)
    {
        close();
        rc = render_context_new(0, 0);
        ASSERT_NE(rc, nullptr) << SDL_GetError();
        SDL_SetWindowSize(rc->window, w, h);
        render_context_update_sizes(rc);
        if (!rc->fonts) {
            own_fonts = font_map_allocate(rc->renderer);
            ASSERT_NE(own_fonts, nullptr);
            ASSERT_TRUE(font_map_load_fallback(own_fonts)) << SDL_GetError();
            rc->fonts = own_fonts;
        }
    }

    void close()
    {
        if (!rc)
            return;
        if (own_fonts) {
            font_map_delete(own_fonts);
            own_fonts = nullptr;
            rc->fonts = nullptr;
        }
        render_context_delete(rc);
        rc = nullptr;
    }

    void draw(scene &sc, int commands_only = 0, int replay = 0)
    {
        rc->clear_pending = 1;
        draw_scene(rc, sc.s, commands_only, replay);
    }

    // Everything the window shows, in output pixels.
    canvas read()
    {
        canvas c;
        SDL_Renderer *r = rc->renderer;
        SDL_SetRenderTarget(r, rc->default_target);
        SDL_GetRendererOutputSize(r, &c.w, &c.h);
        int lw = 0, lh = 0;
        SDL_RenderGetLogicalSize(r, &lw, &lh);
        SDL_RenderSetLogicalSize(r, 0, 0);
        c.px.resize((size_t)c.w * c.h);
        EXPECT_EQ(SDL_RenderReadPixels(r, nullptr, SDL_PIXELFORMAT_ABGR8888, c.px.data(), c.w * 4), 0)
            << SDL_GetError();
        SDL_RenderSetLogicalSize(r, lw, lh);
        return c;
    }

    // The pixels of a render target.
    canvas read_texture(SDL_Texture *t)
    {
        canvas c;
        SDL_QueryTexture(t, nullptr, nullptr, &c.w, &c.h);
        c.px.resize((size_t)c.w * c.h);
        SDL_Renderer *r = rc->renderer;
        SDL_Texture *old = SDL_GetRenderTarget(r);
        SDL_SetRenderTarget(r, t);
        EXPECT_EQ(SDL_RenderReadPixels(r, nullptr, SDL_PIXELFORMAT_ABGR8888, c.px.data(), c.w * 4), 0)
            << SDL_GetError();
        SDL_SetRenderTarget(r, old);
        return c;
    }

    // One pass into the window over a background, holding what fill writes.
    template <typename F> canvas draw_one(rgba bg, F fill)
    {
        scene sc;
        sc.grid().passes(1).pass(bg);
        fill(sc);
        sc.end();
        draw(sc);
        return read();
    }
};

// ---------------------------------------------------------------------------
// Coordinate mapping

TEST_F(DrawTest, SolidsLandWithYUpNegativeSizesAndAnchors)
{
    struct {
        float x, y, w, h, ax, ay;
        SDL_Rect expected;
    } cases[] = {
        {0, 0, 100, 50, 0, 0, {0, 670, 100, 50}},          // bottom-left corner, y up
        {200, 0, -100, 50, 0, 0, {100, 670, 100, 50}},     // negative width grows to the left
        {0, 100, 100, -50, 0, 0, {0, 620, 100, 50}},       // negative height grows downwards
        {640, 360, 100, 50, 0.5f, 0.5f, {590, 335, 100, 50}},
        {300, 300, 100, 50, 1, 1, {200, 420, 100, 50}},    // anchored at the top-right corner
        {1250, 700, 100, 100, 0, 0, {1250, 0, 30, 20}},    // clipped by the window
    };
    for (const auto &c : cases) {
        canvas px = draw_one(white, [&](scene &sc) {
            scene_solid s = solid(c.x, c.y, c.w, c.h, 200, 30, 40);
            s.anchor_x = c.ax, s.anchor_y = c.ay;
            sc.add(s);
        });
        int n = 0;
        EXPECT_EQ(px.bbox_of({200, 30, 40, 255}, &n), c.expected) << c.x << ", " << c.y << ", " << c.w << ", " << c.h;
        EXPECT_EQ(n, c.expected.w * c.expected.h);
    }
}

TEST_F(DrawTest, BordersOutlineOnlyAndLinesFollowTheCanvas)
{
    canvas px = draw_one(white, [](scene &sc) {
        sc.border(solid(100, 100, 40, 20, 0, 0, 255));
        scene_line l{};
        l.x = 300, l.y = 10, l.x2 = 340, l.y2 = 10, l.r = 255, l.a = 255, l.blend = 1;
        sc.add(l);
        // Far beyond the window, but it still crosses it.
        l.x = -1e30f, l.y = 20, l.x2 = 1e30f, l.y2 = 20, l.r = 0, l.g = 255;
        sc.add(l);
    });
    int n = 0;
    EXPECT_EQ(px.bbox_of({0, 0, 255, 255}, &n), (SDL_Rect{100, 600, 40, 20}));
    EXPECT_EQ(n, 2 * 40 + 2 * 20 - 4);
    EXPECT_TRUE(px.is(120, 610, white)) << px.at(120, 610);

    SDL_Rect line = px.bbox_of({255, 0, 0, 255});
    EXPECT_EQ(line.y, 710);
    EXPECT_EQ(line.h, 1);
    EXPECT_EQ(line.x, 300);
    EXPECT_GE(line.w, 40);
    EXPECT_LE(line.w, 41);
    EXPECT_EQ(px.bbox_of({0, 255, 0, 255}), (SDL_Rect{0, 700, 1280, 1}));
}

TEST_F(DrawTest, NothingIsDrawnBeforeTheGridIsSet)
{
    scene sc;
    scene_line l{};
    l.x2 = 100, l.y2 = 100, l.a = 255;
    scene_triangle t{};
    t.x2 = 100, t.y3 = 100, t.a = t.a2 = t.a3 = 255;
    t.path = scene_text("pixel");
    sc.passes(1).pass({9, 9, 9, 255});
    sc.add(solid(0, 0, 100, 50, 255, 0, 0)).border(solid(0, 0, 100, 50, 255, 0, 0)).add(sprite("pixel", 0, 0, 50, 50));
    sc.add(l).add(t).add(label("text", 10, 10, 30)).end();
    draw(sc);
    canvas px = read();
    int n = -1;
    px.bbox([](const rgba &p) { return !near(p, 9, 9, 9); }, &n);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(rc->clear_pending, 0);
    EXPECT_EQ(rc->clear_r, 9);
}

TEST_F(DrawTest, CentredGridCountsFromTheMiddleOfEachTarget)
{
    scene sc;
    sc.grid(640, 360).passes(2);
    sc.pass({0, 0, 0, 0}, "centred", 100, 50, 1).add(solid(-50, -25, 50, 25, 0, 0, 255)).end();
    sc.pass(white).add(solid(-50, -25, 100, 50, 255, 0, 0)).add(sprite("centred", 100, 100, 100, 50)).end();
    draw(sc);
    EXPECT_EQ(rc->grid_centred, 1);
    canvas px = read();
    EXPECT_EQ(px.bbox_of({255, 0, 0, 255}), (SDL_Rect{590, 335, 100, 50}));
    // The target's bottom-left quarter, drawn at canvas (100, 100) from the middle.
    EXPECT_EQ(px.bbox_of({0, 0, 255, 255}), (SDL_Rect{740, 235, 50, 25}));
}

// ---------------------------------------------------------------------------
// Sprites

TEST_F(DrawTest, MissingImageDrawsTheCheckerboard)
{
    canvas px = draw_one(white, [](scene &sc) { sc.add(sprite("sprites/none.png", 0, 0, 256, 256)); });
    const int top = 720 - 256;
    EXPECT_TRUE(px.is(0, top, {255, 0, 0, 255})) << px.at(0, top);         // red outer frame
    EXPECT_TRUE(px.is(255, 719, {255, 0, 0, 255})) << px.at(255, 719);
    EXPECT_TRUE(px.is(1, top + 1, black)) << px.at(1, top + 1);           // black square at the top left
    EXPECT_TRUE(px.is(17, top + 1, white)) << px.at(17, top + 1);
    EXPECT_TRUE(px.is(17, top + 17, black)) << px.at(17, top + 17);
    EXPECT_TRUE(px.is(1, top + 17, white)) << px.at(1, top + 17);
}

TEST_F(DrawTest, SourceRectanglesCountFromTheBottomAndTilesFromTheTop)
{
    write_png("sprites/pattern.png", 4, 4, pattern(4, 4));
    struct {
        const char *what;
        float tile[4], source[4];
        int first_col, first_row;   // image pixel shown at the sprite's top-left
        int w, h;
    } cases[] = {
        {"source bottom rows", {0, 0, -1, -1}, {0, 0, 4, 2}, 0, 2, 4, 2},
        {"source inner block", {0, 0, -1, -1}, {1, 1, 2, 2}, 1, 1, 2, 2},
        {"tile top rows", {0, 0, 4, 2}, {0, 0, -1, -1}, 0, 0, 4, 2},
        {"tile inner block", {1, 1, 2, 2}, {0, 0, -1, -1}, 1, 1, 2, 2},
        {"whole image", {0, 0, -1, -1}, {0, 0, -1, -1}, 0, 0, 4, 4},
    };
    for (const auto &c : cases) {
        canvas px = draw_one(white, [&](scene &sc) {
            scene_sprite s = sprite("sprites/pattern.png", 100, 100, (float)c.w, (float)c.h);
            s.tile_x = c.tile[0], s.tile_y = c.tile[1], s.tile_w = c.tile[2], s.tile_h = c.tile[3];
            s.source_x = c.source[0], s.source_y = c.source[1], s.source_w = c.source[2], s.source_h = c.source[3];
            sc.add(s);
        });
        const int top = 720 - 100 - c.h;
        for (int r = 0; r < c.h; r++)
            for (int col = 0; col < c.w; col++) {
                rgba e = pattern_at(c.first_col + col, c.first_row + r);
                EXPECT_TRUE(px.is(100 + col, top + r, e)) << c.what << " at " << col << "," << r << ": "
                                                          << px.at(100 + col, top + r) << " wanted " << e;
            }
    }
}

TEST_F(DrawTest, FlipsAndRotationByNinetyDegrees)
{
    write_png("sprites/pattern.png", 4, 4, pattern(4, 4));
    for (int flip = 1; flip <= 3; flip++) {
        canvas px = draw_one(white, [&](scene &sc) {
            scene_sprite s = sprite("sprites/pattern.png", 100, 100, 4, 4);
            s.flip_horizontally = flip & 1;
            s.flip_vertically = flip >> 1;
            sc.add(s);
        });
        for (int r = 0; r < 4; r++)
            for (int c = 0; c < 4; c++) {
                rgba e = pattern_at(flip & 1 ? 3 - c : c, flip & 2 ? 3 - r : r);
                EXPECT_TRUE(px.is(100 + c, 616 + r, e)) << "flip " << flip << " at " << c << "," << r;
            }
    }

    // A 4 x 2 image turned a quarter counter-clockwise about its centre
    // stands 2 wide and 4 tall: its right column on top, its top row on the
    // left.
    write_png("sprites/wide.png", 4, 2, pattern(4, 2));
    canvas px = draw_one(white, [](scene &sc) {
        scene_sprite s = sprite("sprites/wide.png", 100, 100, 4, 2);
        s.angle = 90;
        sc.add(s);
    });
    SDL_Rect box = px.bbox([](const rgba &p) { return !near(p, 255, 255, 255); });
    EXPECT_EQ(box, (SDL_Rect{101, 617, 2, 4}));
    for (int y = 0; y < 4; y++)
        for (int x = 0; x < 2; x++) {
            rgba e = pattern_at(3 - y, x);
            EXPECT_TRUE(px.is(box.x + x, box.y + y, e)) << x << "," << y << ": " << px.at(box.x + x, box.y + y)
                                                        << " wanted " << e;
        }
}

TEST_F(DrawTest, TintAndAlphaModulateTheTexture)
{
    canvas px = draw_one({0, 0, 0, 255}, [](scene &sc) {
        scene_sprite s = sprite("pixel", 0, 0, 10, 10);
        s.r = 200, s.g = 100, s.b = 50;
        sc.add(s);
        s = sprite("solid", 20, 0, 10, 10);
        s.r = 200, s.g = 100, s.b = 300, s.a = 128;   // components above 255 clamp
        sc.add(s);
    });
    EXPECT_TRUE(px.is(5, 715, {200, 100, 50, 255})) << px.at(5, 715);
    EXPECT_TRUE(px.is(25, 715, {100, 50, 128, 255}, 2)) << px.at(25, 715);
}

TEST_F(DrawTest, BlendModesAgainstKnownColours)
{
    const rgba bg = {100, 150, 200, 255};
    const double a = 128 / 255.0;
    struct {
        int mode;
        double r, g, b;
    } cases[] = {
        {0, 200, 100, 50},                                                          // none
        {1, 200 * a + 100 * (1 - a), 100 * a + 150 * (1 - a), 50 * a + 200 * (1 - a)},   // alpha blend
        {2, 200 * a + 100, 100 * a + 150, 50 * a + 200},                            // additive
        {3, 200 * 100 / 255.0, 100 * 150 / 255.0, 50 * 200 / 255.0},                // modulate
        {4, 200 * 100 / 255.0 + 100 * (1 - a), 100 * 150 / 255.0 + 150 * (1 - a),
         50 * 200 / 255.0 + 200 * (1 - a)},                                         // multiply
        {7, 200 * a + 100 * (1 - a), 100 * a + 150 * (1 - a), 50 * a + 200 * (1 - a)},   // unknown: alpha blend
    };
    for (const auto &c : cases) {
        canvas px = draw_one(bg, [&](scene &sc) {
            sc.add(solid(0, 0, 10, 10, 200, 100, 50, 128, c.mode));
            scene_sprite s = sprite("pixel", 20, 0, 10, 10);
            s.r = 200, s.g = 100, s.b = 50, s.a = 128, s.blend = c.mode;
            sc.add(s);
        });
        for (int x : {5, 25})
            EXPECT_TRUE(px.is(x, 715, {(int)lround(c.r), (int)lround(c.g), (int)lround(c.b), 255}, 3))
                << "mode " << c.mode << (x == 5 ? " solid " : " sprite ") << px.at(x, 715) << " wanted " << c.r
                << ", " << c.g << ", " << c.b;
    }
}

TEST_F(DrawTest, TrianglesCarryOneColourPerVertex)
{
    canvas px = draw_one(black, [](scene &sc) {
        scene_triangle t{};
        t.x = 100, t.y = 100, t.x2 = 300, t.y2 = 100, t.x3 = 200, t.y3 = 300;
        t.r = 255, t.a = 255;
        t.g2 = 255, t.a2 = 255;
        t.b3 = 255, t.a3 = 255;
        t.path = scene_text("pixel");
        t.blend = 1;
        t.scale_percent = 100;
        sc.add(t);
    });
    rgba v1 = px.at(106, 617), v2 = px.at(293, 617), v3 = px.at(200, 426), mid = px.at(200, 553);
    EXPECT_TRUE(v1.r > 200 && v1.g < 50 && v1.b < 50) << v1;
    EXPECT_TRUE(v2.g > 200 && v2.r < 50 && v2.b < 50) << v2;
    EXPECT_TRUE(v3.b > 200 && v3.r < 50 && v3.g < 50) << v3;
    EXPECT_TRUE(near(mid, 85, 85, 85, 20)) << mid;
    EXPECT_TRUE(px.is(100, 500, black));   // outside the triangle
}

TEST_F(DrawTest, BoundaryWarningOncePerTexture)
{
    write_png("sprites/pattern.png", 4, 4, pattern(4, 4));
    for (int frame = 0; frame < 3; frame++)
        draw_one(white, [](scene &sc) {
            scene_sprite s = sprite("sprites/pattern.png", 0, 0, 8, 8);
            s.tile_x = 2, s.tile_y = 0, s.tile_w = 4, s.tile_h = 4;
            sc.add(s).add(s);
        });
    int warnings = 0;
    for (const logged &e : drain_log())
        if (e.message.find("rendering passed the boundaries of the =sprites/pattern.png=") != std::string::npos) {
            warnings++;
            EXPECT_EQ(e.subsystem, "Render");
            EXPECT_EQ(e.level, (Uint32)LOG_LEVEL_WARN);
            EXPECT_NE(e.message.find("~w: 4, h: 4~"), std::string::npos) << e.message;
            EXPECT_NE(e.message.find("~x: 2.000000, y: 0.000000, w: 4.000000, h: 4.000000]~"), std::string::npos)
                << e.message;
        }
    EXPECT_EQ(warnings, 1);
}

// ---------------------------------------------------------------------------
// Render targets and scenes

TEST_F(DrawTest, NamedRenderTargetDrawnAsASprite)
{
    auto frame = [&](int target_w) {
        scene sc;
        sc.grid().passes(2);
        sc.pass({0, 0, 0, 0}, "rt", target_w, 50, 1)
            .add(solid(0, 0, 50, 50, 255, 0, 0))
            .add(solid(50, 0, 50, 25, 0, 0, 255))
            .end();
        sc.pass(white).add(sprite("rt", 10, 10, 100, 50)).end();
        draw(sc);
    };
    frame(100);
    texture_entry *e = lookup_texture_no_fallback(rc, "rt");
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->render_target, 1);
    EXPECT_EQ(e->width, 100);
    EXPECT_EQ(e->height, 50);
    SDL_Texture *first = e->texture;

    canvas px = read();
    EXPECT_EQ(px.bbox_of({255, 0, 0, 255}), (SDL_Rect{10, 660, 50, 50}));
    EXPECT_EQ(px.bbox_of({0, 0, 255, 255}), (SDL_Rect{60, 685, 50, 25}));   // the target's own y is up too
    EXPECT_TRUE(px.is(80, 670, white)) << px.at(80, 670);                  // cleared to transparent

    frame(100);
    EXPECT_EQ(e->texture, first);
    frame(120);
    EXPECT_EQ(e->width, 120);
    EXPECT_EQ(e->height, 50);
}

TEST_F(DrawTest, FailedRenderTargetSkipsThePassButReadsIt)
{
    scene sc;
    sc.grid().passes(2);
    sc.pass({0, 0, 0, 0}, "huge", 100000, 50, 1).add(solid(0, 0, 50, 50, 255, 0, 0)).end();
    sc.pass(white).add(solid(0, 0, 10, 10, 0, 255, 0)).end();
    draw(sc);
    canvas px = read();
    EXPECT_TRUE(px.is(5, 715, {0, 255, 0, 255})) << px.at(5, 715);
    EXPECT_EQ(px.bbox_of({255, 0, 0, 255}).w, 0);
}

TEST_F(DrawTest, QueuedScenesOnlyTheLastReachesTheWindow)
{
    SDL_AtomicSet(&atomic_last_completed_global_tick_count, -1);
    scene a, b, c;
    a.title("first").grid().passes(2);
    a.pass({0, 0, 0, 0}, "ta", 10, 10, 1).add(solid(0, 0, 10, 10, 0, 255, 0)).end();
    a.pass({0, 0, 255, 255}).end();
    b.grid().passes(2);
    b.pass({0, 0, 0, 0}, "tb", 10, 10, 1).add(solid(0, 0, 10, 10, 255, 255, 0)).end();
    b.pass({0, 255, 255, 255}).add(solid(0, 0, 1280, 720, 0, 0, 255)).end();
    c.grid().passes(1).pass({255, 0, 0, 255}).end();
    threadstreamqueue_putitem(rc->scene_queue, a.release());
    threadstreamqueue_putitem(rc->scene_queue, b.release());
    threadstreamqueue_putitem(rc->scene_queue, c.release());

    EXPECT_EQ(draw_iteration(rc), 2);
    EXPECT_STREQ(SDL_GetWindowTitle(rc->window), "first");
    canvas px = read();
    int n = 0;
    px.bbox_of({255, 0, 0, 255}, &n);
    EXPECT_EQ(n, 1280 * 720);

    // The superseded scenes still updated their render targets.
    texture_entry *ta = lookup_texture_no_fallback(rc, "ta"), *tb = lookup_texture_no_fallback(rc, "tb");
    ASSERT_TRUE(ta && ta->texture && tb && tb->texture);
    EXPECT_TRUE(read_texture(ta->texture).is(5, 5, {0, 255, 0, 255}));
    EXPECT_TRUE(read_texture(tb->texture).is(5, 5, {255, 255, 0, 255}));
    EXPECT_EQ(threadstreamqueue_getcount(rc->scene_queue), 0);
    EXPECT_NE(rc->current_scene, nullptr);
}

TEST_F(DrawTest, ReplayRedrawsWithoutRepeatingCommands)
{
    SDL_AtomicSet(&atomic_last_completed_global_tick_count, -1);
    const bytes red = {255, 0, 0, 255, 255, 0, 0, 255, 255, 0, 0, 255, 255, 0, 0, 255};
    const bytes green = {0, 255, 0, 255, 0, 255, 0, 255, 0, 255, 0, 255, 0, 255, 0, 255};
    write_png("sprites/file.png", 1, 1, {255, 0, 0, 255});
    scene sc;
    scene_pixel_array pa{scene_text("dots"), 2, 2, red.data()};
    scene_unload_sprite unload{scene_text("sprites/file.png")};
    ASSERT_TRUE(scene_write_pixel_array(sc.s, &pa));
    ASSERT_TRUE(scene_write_unload_sprite(sc.s, &unload));
    sc.title("mine").grid().passes(1).pass(white);
    sc.add(sprite("dots", 0, 0, 20, 20)).add(sprite("sprites/file.png", 30, 0, 20, 20)).end();
    threadstreamqueue_putitem(rc->scene_queue, sc.release());

    EXPECT_EQ(draw_iteration(rc), 0);
    canvas px = read();
    EXPECT_TRUE(px.is(10, 710, {255, 0, 0, 255}));
    EXPECT_TRUE(px.is(40, 710, {255, 0, 0, 255}));

    // A later upload under the same name is not undone by the replay, the
    // image is not unloaded again (its new file stays unread), and the
    // title is set again.
    ASSERT_TRUE(texture_map_upload_pixels(rc, "dots", 2, 2, green.data(), green.size()));
    write_png("sprites/file.png", 1, 1, {0, 0, 255, 255});
    SDL_SetWindowTitle(rc->window, "changed");
    EXPECT_EQ(draw_iteration(rc), 0);
    px = read();
    EXPECT_TRUE(px.is(10, 710, {0, 255, 0, 255})) << px.at(10, 710);
    EXPECT_TRUE(px.is(40, 710, {255, 0, 0, 255})) << px.at(40, 710);
    EXPECT_TRUE(px.is(100, 100, white));
    EXPECT_STREQ(SDL_GetWindowTitle(rc->window), "mine");
}

TEST_F(DrawTest, CommandsUnloadAndReloadSprites)
{
    write_png("sprites/swap.png", 1, 1, {255, 0, 0, 255});
    canvas px = draw_one(white, [](scene &sc) { sc.add(sprite("sprites/swap.png", 0, 0, 10, 10)); });
    EXPECT_TRUE(px.is(5, 715, {255, 0, 0, 255}));

    write_png("sprites/swap.png", 1, 1, {0, 0, 255, 255});
    px = draw_one(white, [](scene &sc) { sc.add(sprite("sprites/swap.png", 0, 0, 10, 10)); });
    EXPECT_TRUE(px.is(5, 715, {255, 0, 0, 255})) << "cached until unloaded";

    scene sc;
    scene_unload_sprite u{scene_text("sprites/swap.png")};
    ASSERT_TRUE(scene_write_unload_sprite(sc.s, &u));
    sc.grid().passes(1).pass(white).add(sprite("sprites/swap.png", 0, 0, 10, 10)).end();
    draw(sc);
    EXPECT_TRUE(read().is(5, 715, {0, 0, 255, 255}));
}

TEST_F(DrawTest, CursorAndGrabCommandsRunOnceWithKnownValues)
{
    SDL_ShowCursor(SDL_ENABLE);
    scene sc;
    scene_cursor_visibility hide{0};
    scene_mouse_grab bad{3};
    scene_system_cursor unknown{scene_text("pointer")}, hand{scene_text("hand")};
    ASSERT_TRUE(scene_write_cursor_visibility(sc.s, &hide));
    ASSERT_TRUE(scene_write_mouse_grab(sc.s, &bad));
    ASSERT_TRUE(scene_write_system_cursor(sc.s, &unknown));
    draw(sc);
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_DISABLE);
    std::vector<logged> log = drain_log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0], (logged{LOG_LEVEL_ERROR, "Engine", "App tried to set an invalid mouse grab value of 3, ignoring"}));

    SDL_Cursor *before = SDL_GetCursor();
    scene sys;
    ASSERT_TRUE(scene_write_system_cursor(sys.s, &unknown));
    draw(sys);
    EXPECT_EQ(SDL_GetCursor(), before);
    scene set;
    ASSERT_TRUE(scene_write_system_cursor(set.s, &hand));
    draw(set);
    EXPECT_EQ(SDL_GetCursor(), lookup_system_cursor(rc, SDL_SYSTEM_CURSOR_HAND));

    // Replayed, nothing runs again.
    SDL_ShowCursor(SDL_ENABLE);
    SDL_SetCursor(before);
    draw(sc, 0, 1);
    draw(set, 0, 1);
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_ENABLE);
    EXPECT_EQ(SDL_GetCursor(), before);
    EXPECT_TRUE(drain_log().empty());
}

TEST_F(DrawTest, WindowAndSettingCommandsRunOnce)
{
    scene sc;
    scene_window_scale scale{1.3f, 16, 9};
    scene_scale_quality quality{2};
    ASSERT_TRUE(scene_write_window_scale(sc.s, &scale));
    ASSERT_TRUE(scene_write_scale_quality(sc.s, &quality));
    ASSERT_TRUE(scene_write_toggle_hd_letterbox(sc.s));
    sc.title("Moved");
    const int letterbox = cvar_game_metadata_hd_letterbox;
    draw(sc);
    int w = 0, h = 0;
    SDL_GetWindowSize(rc->window, &w, &h);
    EXPECT_EQ(w, 1600);
    EXPECT_EQ(h, 900);
    EXPECT_EQ(SDL_AtomicGet(&atomic_resize_occurred), 1);
    EXPECT_STREQ(SDL_GetWindowTitle(rc->window), "Moved");
    EXPECT_EQ(cvar_game_metadata_scale_quality, 2);
    EXPECT_EQ(cvar_game_metadata_hd_letterbox, !letterbox);
    EXPECT_TRUE(cvar_islocked("game_metadata.hd_letterbox"));

    // A replay changes nothing but the title.
    SDL_SetWindowTitle(rc->window, "Other");
    SDL_SetWindowSize(rc->window, 1280, 720);
    draw(sc, 0, 1);
    SDL_GetWindowSize(rc->window, &w, &h);
    EXPECT_EQ(w, 1280);
    EXPECT_STREQ(SDL_GetWindowTitle(rc->window), "Moved");
    EXPECT_EQ(cvar_game_metadata_hd_letterbox, !letterbox);

    // The second toggle restores the setting and leaves it locked.
    scene again;
    ASSERT_TRUE(scene_write_toggle_hd_letterbox(again.s));
    draw(again);
    EXPECT_EQ(cvar_game_metadata_hd_letterbox, letterbox);
    EXPECT_TRUE(cvar_islocked("game_metadata.hd_letterbox"));
    cvar_force_set("game_metadata.scale_quality", "0");
    render_context_update_scale_quality();

    // Orientation: the canvas turns and the window follows.
    scene turn;
    ASSERT_TRUE(scene_write_toggle_orientation(turn.s));
    draw(turn);
    EXPECT_EQ(rc->canvas_w, 720);
    EXPECT_EQ(rc->canvas_h, 1280);
    SDL_GetWindowSize(rc->window, &w, &h);
    EXPECT_EQ(w, 720);
    EXPECT_EQ(h, 1280);
    draw(turn);
    EXPECT_EQ(rc->canvas_w, 1280);
}

TEST_F(DrawTest, RendererResetsReachTheEventStreamAndDropTextures)
{
    write_png("sprites/reset.png", 1, 1, {255, 0, 0, 255});
    draw_one(white, [](scene &sc) { sc.add(sprite("sprites/reset.png", 0, 0, 10, 10)); });
    texture_entry *e = lookup_texture_no_fallback(rc, "sprites/reset.png");
    ASSERT_NE(e, nullptr);
    ASSERT_NE(e->texture, nullptr);
    while (threadstream *old = threadstreamqueue_getitem(rc->event_queue))
        threadstream_free(old);

    SDL_Event ev;
    SDL_zero(ev);
    ev.type = SDL_RENDER_DEVICE_RESET;
    ASSERT_EQ(SDL_PushEvent(&ev), 1);
    SDL_AtomicSet(&atomic_last_completed_global_tick_count, -1);
    draw_iteration(rc);
    EXPECT_EQ(e->texture, nullptr) << "reloaded on its next use";
    threadstream *events = threadstreamqueue_getitem(rc->event_queue);
    ASSERT_NE(events, nullptr);
    size_t count = 0;
    SDL_memcpy(&count, events->data, sizeof count);
    bool seen = false;
    for (size_t i = 0; i < count; i++) {
        SDL_Event got;
        SDL_memcpy(&got, events->data + sizeof count + i * sizeof got, sizeof got);
        seen = seen || got.type == SDL_RENDER_DEVICE_RESET;
    }
    EXPECT_TRUE(seen);
    threadstream_free(events);
    canvas px = draw_one(white, [](scene &sc) { sc.add(sprite("sprites/reset.png", 0, 0, 10, 10)); });
    EXPECT_TRUE(px.is(5, 715, {255, 0, 0, 255}));
}

TEST_F(DrawTest, TruncatedAndUnknownRecordsStopTheScene)
{
    // A stream cut inside the second solid keeps what was drawn before it.
    {
        scene sc;
        sc.grid().passes(1).pass(white).add(solid(0, 0, 10, 10, 255, 0, 0));
        const size_t cut = sc.s->length + 20;
        sc.add(solid(20, 0, 10, 10, 0, 0, 255)).end();
        sc.s->length = cut;
        draw(sc);
        canvas px = read();
        EXPECT_TRUE(px.is(5, 715, {255, 0, 0, 255}));
        EXPECT_TRUE(px.is(25, 715, white));
    }
    // Inside a pass unknown tags stand alone; at top level they end the
    // scene, and nothing after them runs.
    {
        scene sc;
        sc.grid().passes(1).pass(white).tag(7).tag(40).add(solid(0, 0, 10, 10, 255, 0, 0)).end();
        sc.tag(40).title("never");
        draw(sc);
        EXPECT_TRUE(read().is(5, 715, {255, 0, 0, 255}));
        EXPECT_STRNE(SDL_GetWindowTitle(rc->window), "never");
    }
    // Counts that the bytes left cannot hold are refused.
    {
        scene sc;
        sc.grid().passes(1).pass({1, 2, 3, 255}).end();
        sc.tag(SCENE_TAG_PASSES).tag(1000000).tag(0);
        sc.title("never");
        draw(sc);
        EXPECT_TRUE(read().is(5, 715, {1, 2, 3, 255}));
        EXPECT_STRNE(SDL_GetWindowTitle(rc->window), "never");
    }
}

// Fixed-seed mutations of a scene that holds every kind of record: the
// reader must stop cleanly wherever the bytes stop making sense (run under
// the sanitizers to see it).
TEST_F(DrawTest, MutatedScenesNeverMisbehave)
{
    write_png("sprites/pattern.png", 4, 4, pattern(4, 4));
    const bytes dots(4 * 4 * 4, 200);
    scene base;
    scene_pixel_array pa{scene_text("fuzz_dots"), 4, 4, dots.data()};
    ASSERT_TRUE(scene_write_pixel_array(base.s, &pa));
    base.title("fuzz").grid().passes(3, 1);
    base.pass({0, 0, 0, 0}, "fuzz_rt", 64, 32, 1).add(solid(1, 2, 30, 10, 255, 0, 0)).end();
    scene_sprite sp = sprite("sprites/pattern.png", 10, 10, 40, 40);
    sp.angle = 33;
    sp.source_x = 1, sp.source_w = 2;
    scene_label lb = label("Fuzz \xC3\xA9", 100, 100, 20);
    lb.alignment = 1;
    scene_line ln{};
    ln.x2 = 50, ln.y2 = 60, ln.a = 255;
    scene_triangle tr{};
    tr.x2 = 40, tr.y3 = 40, tr.a = tr.a2 = tr.a3 = 255;
    tr.path = scene_text("fuzz_dots");
    base.pass({1, 2, 3, 255}).add(sp).add(lb).add(ln).add(tr).border(solid(5, 5, 5, 5, 9, 9, 9)).end();
    base.pass({4, 5, 6, 255}).add(sprite("fuzz_rt", 0, 0, 64, 32)).add(sprite("fuzz_dots", 70, 0, 8, 8)).end();
    scene_screenshot shot{scene_text("fuzz.png"), 0, 0, 10, 10, 0, 0, 0, 0, 0};
    ASSERT_TRUE(scene_write_screenshot(base.s, &shot));
    scene_cursor_visibility cv{1};
    ASSERT_TRUE(scene_write_cursor_visibility(base.s, &cv));
    const bytes original(base.s->data, base.s->data + base.s->length);

    const Sint32 specials[] = {0, 1, -1, 2, 7, 8, 9, 40, 1000, SDL_MAX_SINT32, SDL_MIN_SINT32,
                               0x7FC00000 /* NaN */, 0x7F800000 /* inf */, (Sint32)0xFF800000, 0x4B000000};
    Uint32 seed = 12345;
    auto next = [&seed]() { return seed = seed * 1664525u + 1013904223u; };
    for (int round = 0; round < 1500; round++) {
        threadstream *s = threadstream_allocate();
        ASSERT_TRUE(threadstream_claim_space(s, original.size()));
        memcpy(s->data, original.data(), original.size());
        s->length = original.size();
        for (Uint32 m = 0, count = 1 + next() % 4; m < count; m++) {
            const size_t word = 2 + next() % (s->length / 4 - 2);
            Sint32 v = (next() & 1) ? specials[next() % SDL_arraysize(specials)] : (Sint32)next();
            memcpy(s->data + word * 4, &v, 4);
        }
        if (next() % 8 == 0)
            s->length = 8 + next() % (s->length - 8);
        draw_scene(rc, s, next() % 4 == 0, next() % 4 == 0);
        threadstream_free(s);
        drain_log();
    }
    // Still drawing afterwards.
    SDL_ShowCursor(SDL_ENABLE);
    EXPECT_TRUE(draw_one(white, [](scene &sc) { sc.add(solid(0, 0, 10, 10, 255, 0, 0)); }).is(5, 715, {255, 0, 0, 255}));
}

// ---------------------------------------------------------------------------
// HD mode

TEST_F(DrawTest, HdOffsetsAndLetterboxBars)
{
    cvar_force_set("game_metadata.hd", "true");
    cvar_force_set("game_metadata.hd_max_scale", "400");
    open(1366, 768);
    ASSERT_FLOAT_EQ(rc->render_scale, 1.0f);
    ASSERT_EQ(rc->offset_x, 43);
    ASSERT_EQ(rc->offset_y, 24);

    auto hd_scene = [](scene &sc) { sc.grid().passes(1).pass(white).add(solid(0, 0, 100, 50, 255, 0, 0)).end(); };
    scene sc;
    hd_scene(sc);
    draw(sc);
    canvas px = read();
    EXPECT_EQ(px.bbox_of({255, 0, 0, 255}), (SDL_Rect{43, 24 + 670, 100, 50}));
    EXPECT_EQ(px.bbox_of(white), (SDL_Rect{43, 24, 1280, 720}));
    int n = 0;
    px.bbox_of(black, &n);
    EXPECT_EQ(n, 1366 * 768 - 1280 * 720);

    // An unknown record ends the scene before the bars.
    scene cut;
    hd_scene(cut);
    cut.tag(40);
    draw(cut);
    px = read();
    EXPECT_TRUE(px.is(10, 400, white));
    EXPECT_TRUE(px.is(600, 10, white));

    cvar_force_set("game_metadata.hd_letterbox", "false");
    scene plain;
    hd_scene(plain);
    draw(plain);
    EXPECT_TRUE(read().is(10, 400, white));
}

TEST_F(DrawTest, HdRenderScaleTwoScalesPrimitivesAndTargets)
{
    cvar_force_set("game_metadata.hd", "true");
    cvar_force_set("game_metadata.hd_max_scale", "0");
    open(2560, 1600);
    ASSERT_FLOAT_EQ(rc->render_scale, 2.0f);
    ASSERT_EQ(rc->offset_x, 0);
    ASSERT_EQ(rc->offset_y, 80);

    auto frame = [&](int w) {
        scene sc;
        sc.grid().passes(2);
        sc.pass({0, 0, 0, 0}, "rt", w, 50, 1).add(solid(0, 0, 10, 10, 0, 0, 255)).end();
        sc.pass(white).add(solid(0, 0, 100, 50, 255, 0, 0)).add(sprite("rt", 200, 0, 100, 50)).end();
        draw(sc);
    };
    frame(100);
    texture_entry *e = lookup_texture_no_fallback(rc, "rt");
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->width, 200);
    EXPECT_EQ(e->height, 100);
    EXPECT_FLOAT_EQ(e->scale, 2.0f);
    SDL_Texture *first = e->texture;

    canvas px = read();
    EXPECT_EQ(px.bbox_of({255, 0, 0, 255}), (SDL_Rect{0, 80 + 1340, 200, 100}));
    // The target's contents (no offsets inside it) come back at the same scale.
    EXPECT_EQ(px.bbox_of({0, 0, 255, 255}), (SDL_Rect{400, 80 + 1420, 20, 20}));
    int n = 0;
    px.bbox_of(black, &n);
    EXPECT_EQ(n, 2 * 2560 * 80);

    frame(100);
    EXPECT_EQ(e->texture, first);
    frame(120);
    EXPECT_EQ(e->width, 240);
}

// ---------------------------------------------------------------------------
// Labels

class LabelTest : public DrawTest {
protected:
    FontAtlas *fallback()
    {
        return lookup_font(rc->fonts, nullptr);
    }
    SDL_Rect ink(const canvas &px)
    {
        return px.bbox([](const rgba &p) { return p.r < 128; });
    }
    SDL_Rect draw_label(const scene_label &l)
    {
        return ink(draw_one(white, [&](scene &sc) { sc.add(l); }));
    }
};

TEST_F(LabelTest, AlignmentShiftsByTheMeasuredWidth)
{
    // The width games measure (font data, 1/100 pixel advances).
    float width = 0, height = 0;
    fontatlas_calcstringrect_uncached(fallback(), "Hello", &width, &height, 40);
    ASSERT_GT(width, 50);

    SDL_Rect box[3];
    for (int align = 0; align < 3; align++) {
        scene_label l = label("Hello", 640, 400, 40);
        l.alignment = align;
        box[align] = draw_label(l);
        ASSERT_GT(box[align].w, 0) << align;
        EXPECT_EQ(box[align].w, box[0].w);
        EXPECT_EQ(box[align].h, box[0].h);
    }
    EXPECT_NEAR(box[0].x - box[1].x, width / 2, 1.5);
    EXPECT_NEAR(box[0].x - box[2].x, width, 1.5);
    EXPECT_NEAR(box[0].x, 640, 4);   // the pen starts at x, the ink a bearing later
    EXPECT_GE(box[0].y, 720 - 400);   // y is the top of the line by default

    // Bottom alignment lifts the line by its height.
    scene_label l = label("Hello", 640, 400, 40);
    l.vertical_alignment = 0;
    SDL_Rect bottom = draw_label(l);
    float line = 0;
    fontatlas_calcstringrect(fallback(), "W", nullptr, &line, 40);
    EXPECT_NEAR(box[0].y - bottom.y, line, 1.0);

    // A given anchor replaces the alignment.
    l = label("Hello", 640, 400, 40);
    l.alignment = 2;
    l.anchor_x_given = 1;
    l.anchor_x = 0.5f;
    EXPECT_EQ(draw_label(l).x, box[1].x);
}

TEST_F(LabelTest, MissingFontsFallBackAndBadSizesDrawNothing)
{
    scene_label l = label("Fallback", 100, 600, 30);
    SDL_Rect fallback = draw_label(l);
    ASSERT_GT(fallback.w, 0);
    for (const char *font : {"fonts/missing.ttf", "font.ttf", "fonts/missing.ttf"}) {
        l.font = scene_text(font);
        EXPECT_EQ(draw_label(l), fallback) << font;
    }
    write_png("fonts/not_a_font.ttf", 1, 1, {1, 2, 3, 4});
    l.font = scene_text("fonts/not_a_font.ttf");
    EXPECT_EQ(draw_label(l), fallback);

    // A font that loads is used: the condensed face draws narrower.
    std::filesystem::copy_file("/usr/share/fonts/truetype/dejavu/DejaVuSansCondensed.ttf",
                               temp_root + "/fonts/condensed.ttf", std::filesystem::copy_options::overwrite_existing);
    l.font = scene_text("fonts/condensed.ttf");
    SDL_Rect condensed = draw_label(l);
    EXPECT_GT(condensed.w, fallback.w / 2);
    EXPECT_LT(condensed.w, fallback.w - 5);

    struct {
        float size_px, size_enum;
        bool draws;
    } sizes[] = {
        {-1, 0, true},            // 22 pixels from the size enum
        {0, 0, true},
        {-1, -11, false},         // 22 - 22 = 0 pixels
        {-1, -20, false},
        {NAN, 0, false},
        {-1, NAN, false},
        {INFINITY, 0, false},
    };
    for (const auto &c : sizes) {
        scene_label s = label("Size", 100, 600, c.size_px);
        s.size_enum = c.size_enum;
        EXPECT_EQ(draw_label(s).w > 0, c.draws) << c.size_px << ", " << c.size_enum;
    }
    scene_label none = label(nullptr, 100, 600, 30);
    EXPECT_EQ(draw_label(none).w, 0);
}

TEST_F(LabelTest, ScaledWindowsDrawTextAtOutputResolution)
{
    open(640, 360);
    scene_label l = label("Hello", 100, 400, 40);
    canvas px = draw_one(white, [&](scene &sc) {
        sc.add(l);
        sc.add(solid(0, 0, 100, 50, 255, 0, 0));   // after the label: back on the canvas scale
    });
    EXPECT_EQ(px.bbox_of({255, 0, 0, 255}), (SDL_Rect{0, 335, 50, 25}));
    SDL_Rect half = ink(px);

    open(1280, 720);
    SDL_Rect full = ink(draw_one(white, [&](scene &sc) { sc.add(l); }));
    EXPECT_NEAR(half.x, full.x / 2.0, 2);
    EXPECT_NEAR(half.y, full.y / 2.0, 2);
    EXPECT_NEAR(half.w, full.w / 2.0, 2);
    EXPECT_NEAR(half.h, full.h / 2.0, 2);
}

// ---------------------------------------------------------------------------
// Screenshots

// Decodes an 8-bit RGBA PNG with Python's zlib, independently of lodepng.
const char *const png_decoder = R"(
import sys, zlib, struct
data = open(sys.argv[1], 'rb').read()
assert data[:8] == b'\x89PNG\r\n\x1a\n'
pos, idat, w, h = 8, b'', 0, 0
while pos < len(data):
    n, kind = struct.unpack('>I4s', data[pos:pos + 8])
    body = data[pos + 8:pos + 8 + n]
    if kind == b'IHDR':
        w, h, depth, colour = struct.unpack('>IIBB', body[:10])
        assert depth == 8 and colour == 6
    elif kind == b'IDAT':
        idat += body
    pos += 12 + n
raw, stride, rows, prev = zlib.decompress(idat), w * 4, [], bytearray(w * 4)
for y in range(h):
    f, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
    for i in range(stride):
        a = line[i - 4] if i >= 4 else 0
        b = prev[i]
        c = prev[i - 4] if i >= 4 else 0
        if f == 1: line[i] = (line[i] + a) & 255
        elif f == 2: line[i] = (line[i] + b) & 255
        elif f == 3: line[i] = (line[i] + (a + b) // 2) & 255
        elif f == 4:
            p = a + b - c
            pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
            line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
    rows.append(line)
    prev = line
print(w, h)
print(b''.join(rows).hex())
)";

struct decoded {
    int w = 0, h = 0;
    bytes px;
};

decoded decode_png(const std::string &path)
{
    std::string script = temp_root + "/decode_png.py";
    std::ofstream(script) << png_decoder;
    decoded out;
    FILE *p = popen(("python3 " + script + " " + path).c_str(), "r");
    if (!p)
        return out;
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        text.append(buf, n);
    if (pclose(p) != 0)
        return out;
    size_t nl = text.find('\n');
    if (sscanf(text.c_str(), "%d %d", &out.w, &out.h) != 2)
        return out;
    std::string hex = text.substr(nl + 1);
    for (size_t i = 0; i + 1 < hex.size() && hex[i] != '\n'; i += 2)
        out.px.push_back((Uint8)std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

class ScreenshotTest : public DrawTest {
protected:
    mrb_state *mrb = nullptr;
    std::string dir;

    void SetUp() override
    {
        DrawTest::SetUp();
        dir = temp_root + "/game_" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::filesystem::create_directories(dir);
        mrb = mrb_open();
        ASSERT_NE(mrb, nullptr);
        ASSERT_TRUE(ffi_init(dir.c_str(), dir.c_str(), mrb, rc)) << SDL_GetError();
        rc->game_dir = dir.c_str();
    }
    void TearDown() override
    {
        if (mrb)
            mrb_close(mrb);
        DrawTest::TearDown();
    }

    static scene_screenshot shot(const char *path, float x, float y, float w, float h)
    {
        scene_screenshot s{};
        s.path = scene_text(path);
        s.x = x, s.y = y, s.w = w, s.h = h;
        s.alpha = 255;
        return s;
    }

    // A captured frame: grey background, a red and a green block at the
    // bottom left, then the screenshot records.
    void capture(const std::vector<scene_screenshot> &shots, int replay = 0)
    {
        scene sc;
        sc.grid().passes(1, 1).pass({50, 60, 70, 255});
        sc.add(solid(0, 0, 2, 2, 255, 0, 0)).add(solid(2, 0, 2, 2, 0, 255, 0)).end();
        for (const auto &s : shots)
            EXPECT_TRUE(scene_write_screenshot(sc.s, &s));
        draw(sc, 0, replay);
    }

    std::string file(const char *name)
    {
        return dir + "/" + name;
    }
};

TEST_F(ScreenshotTest, WritesThePixelsAsPngWithTheKeyColourRule)
{
    scene_screenshot keyed = shot("shots/keyed.png", 0, 0, 6, 3);
    keyed.tolerance = 10;
    keyed.key_r = 5, keyed.key_g = 250, keyed.key_b = 0;
    keyed.alpha = 0;
    capture({shot("shots/plain.png", 0, 0, 6, 3), keyed});

    // Rows from the top: one grey row, then two rows of red, green, grey.
    auto expect = [](int x, int y, bool keyed_out) -> std::vector<int> {
        if (y == 0 || x >= 4)
            return {50, 60, 70, 255};
        if (x < 2)
            return {255, 0, 0, 255};
        return {0, 255, 0, keyed_out ? 0 : 255};
    };
    for (const char *name : {"shots/plain.png", "shots/keyed.png"}) {
        decoded png = decode_png(file(name));
        ASSERT_EQ(png.w, 6) << name;
        ASSERT_EQ(png.h, 3) << name;
        ASSERT_EQ(png.px.size(), 6u * 3 * 4);
        for (int y = 0; y < 3; y++)
            for (int x = 0; x < 6; x++) {
                const Uint8 *p = &png.px[(size_t)(y * 6 + x) * 4];
                std::vector<int> e = expect(x, y, name[6] == 'k');
                EXPECT_EQ((std::vector<int>{p[0], p[1], p[2], p[3]}), e) << name << " at " << x << "," << y;
            }
    }
}

TEST_F(ScreenshotTest, RectanglesAreClippedAndBadRequestsWriteNothing)
{
    capture({shot("edge.png", -2, 0, 4, 2), shot("empty.png", 10, 10, 0, 5), shot("outside.png", 5000, 0, 4, 4),
             shot("../escape.png", 0, 0, 4, 4), shot("/tmp/absolute.png", 0, 0, 4, 4)});
    decoded edge = decode_png(file("edge.png"));
    EXPECT_EQ(edge.w, 2);
    EXPECT_EQ(edge.h, 2);
    ASSERT_EQ(edge.px.size(), 16u);
    EXPECT_EQ(edge.px[0], 255);
    for (const char *name : {"empty.png", "outside.png"})
        EXPECT_FALSE(std::filesystem::exists(file(name))) << name;
    EXPECT_FALSE(std::filesystem::exists(temp_root + "/escape.png"));
    EXPECT_FALSE(std::filesystem::exists("/tmp/absolute.png"));
}

TEST_F(ScreenshotTest, ReplaysTakeNoScreenshots)
{
    capture({shot("replayed.png", 0, 0, 4, 4)}, 1);
    EXPECT_FALSE(std::filesystem::exists(file("replayed.png")));
    capture({shot("taken.png", 0, 0, 4, 4)}, 0);
    EXPECT_TRUE(std::filesystem::exists(file("taken.png")));
}

TEST_F(ScreenshotTest, SupersededScenesStillCapture)
{
    scene sc;
    sc.grid().passes(1, 1).pass({10, 20, 30, 255}).add(solid(0, 0, 4, 4, 255, 0, 0)).end();
    scene_screenshot s = shot("superseded.png", 0, 0, 4, 4);
    ASSERT_TRUE(scene_write_screenshot(sc.s, &s));
    canvas before = read();
    draw(sc, 1, 0);
    decoded png = decode_png(file("superseded.png"));
    ASSERT_EQ(png.px.size(), 64u);
    EXPECT_EQ(png.px[0], 255);
    // Nothing of it reached the window.
    canvas after = read();
    EXPECT_EQ(after.px, before.px);
}

}  // namespace
