// Text and sprite measurement through FFI::Misc: calcstringbox over the
// render context's font map (DejaVu Sans as the fallback "font.ttf", widths
// checked against the font's own metrics, kerning included), unknown and
// unusable fonts, sizes outside the usable range and wrong arguments; and
// calcspritebox over the texture cache (a PNG fixture, a missing file, a
// file that is no image, a cached pixel array), which must leave the cache
// exactly as it found it.
#include <gtest/gtest.h>

#include "mruby_run.h"

#include "log_capture.h"
#include "temp_vfs.h"

#include <lodepng.h>
#include <math.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <mruby.h>
#include <mruby/array.h>
#include <mruby/compile.h>
#include <physfs.h>

#include "bindings/ffi.h"
#include "config/cvar.h"
#include "log/log.h"
#include "render/render_context.h"
#include "render/texture_cache.h"
#include "text/fontatlas.h"

namespace fs = std::filesystem;

namespace {

const char *const dejavu_sans = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
const char *const dejavu_mono = "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf";

// DejaVu Sans as its hhea, hmtx and GPOS tables give it: the line is
// ascent - descent = 2384 units high, "A" and "V" advance 1401 units, the
// pairs "AV" and "VA" kern by -131 units, "AA" by +57 and "VV" not at all.
const double dv_units_per_line = 1901.0 + 483.0;
const double dv_advance_A = 1401.0, dv_advance_V = 1401.0;

double dv_kern(char first, char second)
{
    if (first != second)
        return -131.0;
    return first == 'A' ? 57.0 : 0.0;
}

// Advances are whole hundredths of a pixel, truncated; kerning is not.
double dv_width(const std::string &text, double pixel_size)
{
    const double s = pixel_size / dv_units_per_line * 100.0;
    double sum = 0.0;
    for (size_t i = 0; i < text.size(); i++) {
        sum += truncf((float)(s * (text[i] == 'A' ? dv_advance_A : dv_advance_V)));
        if (i + 1 < text.size())
            sum += s * dv_kern(text[i], text[i + 1]);
    }
    return sum / 100.0;
}

void copy_into(const std::string &dir, const char *from, const std::string &name)
{
    fs::copy_file(from, dir + "/" + name, fs::copy_options::overwrite_existing);
}

void write_png(const std::string &path, int w, int h)
{
    std::vector<unsigned char> rgba((size_t)w * h * 4, 200);
    unsigned char *out = nullptr;
    size_t size = 0;
    ASSERT_EQ(lodepng_encode32(&out, &size, rgba.data(), (unsigned)w, (unsigned)h), 0u);
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write((const char *)out, (std::streamsize)size);
    free(out);
}

// An interpreter with the bindings over a per-test game folder whose
// "font.ttf" is DejaVu Sans, and a render context holding just the caches
// measurement reads: a font map with that fallback and a texture map
// whose textures a software renderer makes.
class MeasureTest : public ::testing::Test {
protected:
    mrb_state *mrb = nullptr;
    std::string game;
    SDL_Surface *surface = nullptr;
    render_context rc{};

    void SetUp() override
    {
        cvar_quit();
        cvar_set("log.level", "spam");
        cvar_set("log.stdout", "false");
        cvar_set("log.filename", "");
        ASSERT_TRUE(log_init());

        game = temp_root + "/" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::create_directories(game);
        copy_into(game, dejavu_sans, "font.ttf");
        copy_into(game, dejavu_mono, "mono.ttf");
        ASSERT_TRUE(PHYSFS_mount(game.c_str(), nullptr, 0));

        surface = SDL_CreateRGBSurfaceWithFormat(0, 64, 64, 32, SDL_PIXELFORMAT_ABGR8888);
        ASSERT_NE(surface, nullptr);
        rc.renderer = SDL_CreateSoftwareRenderer(surface);
        ASSERT_NE(rc.renderer, nullptr) << SDL_GetError();
        rc.fonts = font_map_allocate(rc.renderer);
        ASSERT_NE(rc.fonts, nullptr);
        ASSERT_TRUE(font_map_load_fallback(rc.fonts)) << SDL_GetError();

        mrb = mrb_open();
        ASSERT_NE(mrb, nullptr);
        ASSERT_TRUE(ffi_init(game.c_str(), (game + "_base").c_str(), mrb, &rc)) << SDL_GetError();
        drain_log();
    }

    void TearDown() override
    {
        if (mrb)
            mrb_close(mrb);
        font_map_delete(rc.fonts);
        texture_map_delete(rc.textures);
        cursor_map_delete(rc.cursors);
        SDL_DestroyRenderer(rc.renderer);
        SDL_FreeSurface(surface);
        PHYSFS_unmount(game.c_str());
        log_quit();
        cvar_quit();
    }

    std::string run(const std::string &code) { return mruby_run(mrb, code); }

    // The two numbers of the [w, h] the code answers; NAN, NAN when it
    // answers something else or raises.
    std::pair<double, double> box(const std::string &code)
    {
        const int ai = mrb_gc_arena_save(mrb);
        mrb_value v = mrb_load_string(mrb, code.c_str());
        std::pair<double, double> out{NAN, NAN};
        if (mrb->exc) {
            mrb_value e = mrb_obj_value(mrb->exc);
            mrb->exc = nullptr;
            ADD_FAILURE() << code << " raised " << mrb_str_to_cstr(mrb, mrb_inspect(mrb, e));
        } else if (mrb_array_p(v) && RARRAY_LEN(v) == 2 && mrb_float_p(RARRAY_PTR(v)[0]) &&
                   mrb_float_p(RARRAY_PTR(v)[1])) {
            out = {mrb_float(RARRAY_PTR(v)[0]), mrb_float(RARRAY_PTR(v)[1])};
        } else {
            ADD_FAILURE() << code << " answered " << mrb_str_to_cstr(mrb, mrb_inspect(mrb, v));
        }
        mrb_gc_arena_restore(mrb, ai);
        return out;
    }

    int texture_entries()
    {
        int n = 0;
        if (rc.textures)
            for (texture_entry *head : rc.textures->buckets)
                for (texture_entry *e = head; e; e = e->next)
                    n++;
        return n;
    }
};

TEST_F(MeasureTest, WidthsFollowTheFontsAdvancesAndKerning)
{
    struct width_case {
        const char *text;
        double size_enum;
    };
    const width_case cases[] = {{"A", 0}, {"AV", 0}, {"", 0}, {"VA", 0}, {"AA", 0},
                                  {"VV", 0}, {"A", 2}, {"AV", 9}, {"AVVA", -5}};
    for (const auto &c : cases) {
        const double px = 22.0 + 2.0 * c.size_enum;
        const auto [w, h] = box("FFI::Misc.new.calcstringbox(" + std::string("\"") + c.text + "\", " +
                                std::to_string(c.size_enum) + ")");
        EXPECT_NEAR(w, dv_width(c.text, px), 1e-3) << c.text << " at " << px;
        // The line of DejaVu Sans is exactly the pixel size high.
        EXPECT_NEAR(h, px, 1e-3) << c.text << " at " << px;
    }
    // Kerning pulls "AV" together: more than a pixel narrower than two lone
    // letters at 22 pixels, while the unkerned "VV" is exactly two.
    const double a = box(R"(FFI::Misc.new.calcstringbox("A", 0.0))").first;
    const double av = box(R"(FFI::Misc.new.calcstringbox("AV", 0.0))").first;
    const double vv = box(R"(FFI::Misc.new.calcstringbox("VV", 0.0))").first;
    EXPECT_NEAR(a, 12.92, 1e-3);
    EXPECT_LT(av, 2 * a - 1.0);
    EXPECT_NEAR(vv, 2 * a, 1e-3);
    EXPECT_EQ(run(R"(FFI::Misc.new.calcstringbox("", 0.0))"), "[0.0, 22.0]");
    // An Integer size is taken as a Float.
    EXPECT_EQ(box(R"(FFI::Misc.new.calcstringbox("AV", 3))"), box(R"(FFI::Misc.new.calcstringbox("AV", 3.0))"));
}

TEST_F(MeasureTest, FontArgumentPicksTheAtlasAndFallsBackWhenUnusable)
{
    std::ofstream(game + "/not_a_font.ttf") << "plain text, no tables";
    const auto sans = box(R"(FFI::Misc.new.calcstringbox("AVW", 0.0))");
    for (const char *font : {"\"font.ttf\"", "nil", "\"missing.ttf\"", "\"not_a_font.ttf\"", "\"\""}) {
        EXPECT_EQ(box(std::string(R"(FFI::Misc.new.calcstringbox("AVW", 0.0, )") + font + ")"), sans) << font;
    }
    // A real second font measures with its own advances: monospaced.
    const auto mono_a = box(R"(FFI::Misc.new.calcstringbox("A", 0.0, "mono.ttf"))");
    const auto mono_w = box(R"(FFI::Misc.new.calcstringbox("W", 0.0, "mono.ttf"))");
    EXPECT_EQ(mono_a, mono_w);
    EXPECT_NE(mono_a.first, box(R"(FFI::Misc.new.calcstringbox("A", 0.0))").first);
    // A failed load is remembered, and asking again still answers.
    EXPECT_EQ(box(R"(FFI::Misc.new.calcstringbox("AVW", 0.0, "missing.ttf"))"), sans);
}

TEST_F(MeasureTest, UnusableSizesAndMissingFontsMeasureNothing)
{
    // Pixel sizes of 0 or less, beyond the glyph cache's bound, or not a
    // number measure 0 x 0.
    for (const char *size : {"-11.0", "-20.0", "1.0e9", "Float::NAN", "Float::INFINITY"})
        EXPECT_EQ(run(std::string(R"(FFI::Misc.new.calcstringbox("A", )") + size + ")"), "[0.0, 0.0]") << size;
    EXPECT_GT(box(R"(FFI::Misc.new.calcstringbox("A", -10.0))").second, 1.9);   // 2 pixels

    // A font map without a fallback, or no render context at all.
    font_map *saved = rc.fonts;
    rc.fonts = font_map_allocate(rc.renderer);
    EXPECT_EQ(run(R"(FFI::Misc.new.calcstringbox("A", 0.0, "missing.ttf"))"), "[0.0, 0.0]");
    EXPECT_EQ(run(R"(FFI::Misc.new.calcstringbox("A", 0.0))"), "[0.0, 0.0]");
    font_map_delete(rc.fonts);
    rc.fonts = nullptr;
    EXPECT_EQ(run(R"(FFI::Misc.new.calcstringbox("A", 0.0))"), "[0.0, 0.0]");
    rc.fonts = saved;
}

TEST_F(MeasureTest, WrongArgumentsRaiseClearErrors)
{
    const struct {
        const char *code;
        const char *error_class;
    } cases[] = {
        {R"(FFI::Misc.new.calcstringbox(5, 0.0))", "TypeError"},
        {R"(FFI::Misc.new.calcstringbox(nil, 0.0))", "TypeError"},
        {R"(FFI::Misc.new.calcstringbox("A", "big"))", "TypeError"},
        {R"(FFI::Misc.new.calcstringbox("A", nil))", "TypeError"},
        {R"(FFI::Misc.new.calcstringbox("A", 0.0, 7))", "TypeError"},
        {R"(FFI::Misc.new.calcstringbox("A"))", "ArgumentError"},
        {R"(FFI::Misc.new.calcstringbox("A", 0.0, "font.ttf", 1))", "ArgumentError"},
        {"FFI::Misc.new.calcstringbox(\"A\\0B\", 0.0)", "ArgumentError"},
        {R"(FFI::Misc.new.calcspritebox(nil))", "TypeError"},
        {R"(FFI::Misc.new.calcspritebox(:sprite))", "TypeError"},
        {R"(FFI::Misc.new.calcspritebox)", "ArgumentError"},
        {R"(FFI::Misc.new.calcspritebox("a.png", "b.png"))", "ArgumentError"},
    };
    for (const auto &c : cases) {
        const std::string out = run(c.code);
        EXPECT_EQ(out.substr(0, out.find(':')), c.error_class) << c.code << " -> " << out;
    }
    // The interpreter is still usable afterwards.
    EXPECT_EQ(run(R"(FFI::Misc.new.calcstringbox("", 0.0))"), "[0.0, 22.0]");
}

TEST_F(MeasureTest, SpriteBoxProbesFilesAndCachedSizesWithoutTouchingTheCache)
{
    fs::create_directories(game + "/sprites");
    write_png(game + "/sprites/six_by_four.png", 6, 4);
    std::ofstream(game + "/sprites/broken.png") << "not an image";
    const struct {
        const char *path;
        const char *expected;
    } cases[] = {
        {"sprites/six_by_four.png", "[6, 4]"},
        {"sprites/missing.png", "[256, 256]"},   // the size of the checkerboard drawn instead
        {"sprites/broken.png", "[256, 256]"},
        {"", "[256, 256]"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(run(std::string("FFI::Misc.new.calcspritebox(\"") + c.path + "\")"), c.expected) << c.path;
    EXPECT_EQ(rc.textures, nullptr) << "probing made a texture map";

    // A cached pixel array of the same name answers its own size; probing
    // other names adds no entries.
    const std::vector<Uint8> px(3 * 2 * 4, 9);
    ASSERT_TRUE(texture_map_upload_pixels(&rc, "sprites/six_by_four.png", 3, 2, px.data(), px.size()))
        << SDL_GetError();
    const int before = texture_entries();
    EXPECT_EQ(run(R"(FFI::Misc.new.calcspritebox("sprites/six_by_four.png"))"), "[3, 2]");
    EXPECT_EQ(run(R"(FFI::Misc.new.calcspritebox("sprites/missing.png"))"), "[256, 256]");
    EXPECT_EQ(texture_entries(), before);

    // Without a render context the file is still probed.
    mrb_close(mrb);
    mrb = mrb_open();
    ASSERT_NE(mrb, nullptr);
    ASSERT_TRUE(ffi_init(game.c_str(), (game + "_base").c_str(), mrb, nullptr)) << SDL_GetError();
    EXPECT_EQ(run(R"(FFI::Misc.new.calcspritebox("sprites/six_by_four.png"))"), "[6, 4]");
    EXPECT_EQ(run(R"(FFI::Misc.new.calcstringbox("A", 0.0))"), "[0.0, 0.0]");
}

}   // namespace
