// Primitive packers and script-value packers: Ruby values in, decoded scene
// records out (through scene_decode), with the runtime library not loaded;
// the few classes the dispatchers recognise are defined here in Ruby.

#include <gtest/gtest.h>

#include <mruby.h>
#include <mruby/compile.h>
#include <mruby/string.h>
#include <mruby/variable.h>

#include <math.h>
#include <string>
#include <vector>

#include "render/packers.h"
#include "render/scene.h"
#include "stream/ruby_pack.h"
#include "stream/threadstream.h"

static const char *const ruby_fixture = R"RUBY(
module AttrSprite; end
module ORB
  class OpenEntity
    def initialize(h); @hash = h; end
    def as_hash; @hash; end
  end
  class StrictEntity
    def initialize(h); h.each { |k, v| instance_variable_set("@#{k}", v) }; end
  end
end
NAMES = [:x, :y, :w, :h, :path, :angle, :a, :r, :g, :b, :tile_x, :tile_y, :tile_w, :tile_h,
         :flip_horizontally, :flip_vertically, :angle_anchor_x, :angle_anchor_y,
         :source_x, :source_y, :source_w, :source_h, :blendmode_enum, :anchor_x, :anchor_y,
         :scale_quality_enum, :x2, :y2, :x3, :y3, :source_x2, :source_y2, :source_x3, :source_y3,
         :r2, :g2, :b2, :a2, :r3, :g3, :b3, :a3, :text, :font, :size_enum, :alignment_enum,
         :vertical_alignment_enum, :size_px]
class Obj
  attr_accessor(*NAMES)
  def initialize(h); h.each { |k, v| send("#{k}=", v) }; end
end
class ObjZ < Obj
  attr_accessor :z
end
class IvarSprite
  include AttrSprite
  def initialize(h); h.each { |k, v| instance_variable_set("@#{k}", v) }; end
end
class Override
  include AttrSprite
  def draw_override(ffi); $override_arg = ffi; end
end
class PlainOverride
  def draw_override(ffi); $override_arg = ffi; end
end
class Raiser < Obj
  def y; raise "no y"; end
end
class NilToS
  def to_s; nil; end
end
class FakeRuntime
  def draw_sprite(a); $array_arg = [:sprite, a]; end
  def draw_label(a); $array_arg = [:label, a]; end
  def draw_line(a); $array_arg = [:line, a]; end
end
class FakeDraw; end
)RUBY";

// One decoded primitive with its strings copied.
struct prim {
    Sint32 tag;
    scene_record rec;
    std::string path, text, font;
    bool text_absent, font_absent;
};

static int atlas_lookup(void *data, const char *path, Sint32 len, int scale_percent, scene_string *out,
                        Sint32 *out_percent)
{
    static const char *const v175 = "sprites/hero@175.png";
    static const char *const v200 = "sprites/hero@200.png";
    if (std::string(path, len) != "sprites/hero.png") {
        return 0;
    }
    *out = scene_text(scale_percent >= 200 ? v200 : scale_percent >= 175 ? v175 : path);
    *out_percent = scale_percent >= 200 ? 200 : scale_percent >= 175 ? 175 : 100;
    return 1;
}

class Packers : public ::testing::Test {
protected:
    mrb_state *mrb = nullptr;
    packers_env env = {};

    static void SetUpTestSuite() { ASSERT_EQ(threadstream_init(), 1); }
    static void TearDownTestSuite() { threadstream_quit(); }

    void SetUp() override
    {
        mrb = mrb_open();
        ASSERT_NE(mrb, nullptr);
        packers_init(mrb);
        eval(ruby_fixture);
        env.open_entity = mrb_class_get_under(mrb, mrb_module_get(mrb, "ORB"), "OpenEntity");
        env.strict_entity = mrb_class_get_under(mrb, mrb_module_get(mrb, "ORB"), "StrictEntity");
        env.attr_sprite = mrb_module_get(mrb, "AttrSprite");
        env.draw = eval("$draw = FakeDraw.new");
        env.runtime = eval("$runtime = FakeRuntime.new");
        env.scale_percent = 100;
        env.scale_quality = 2;
        begin();
    }

    void TearDown() override
    {
        if (env.stream) {
            threadstream_free(env.stream);
        }
        mrb_close(mrb);
    }

    mrb_value eval(const char *code)
    {
        mrb_value v = mrb_load_string(mrb, code);
        EXPECT_EQ(mrb->exc, nullptr) << code;
        mrb->exc = nullptr;
        return v;
    }

    std::string mruby_inspect(const char *code)
    {
        mrb_value s = mrb_inspect(mrb, eval(code));
        return std::string(RSTRING_PTR(s), RSTRING_LEN(s));
    }

    // A fresh stream opened at one pass block, as the outputs walker has it.
    void begin()
    {
        if (env.stream) {
            threadstream_free(env.stream);
        }
        env.stream = threadstream_allocate();
        scene_passes ps = {1, 0};
        scene_pass pass = {0, 0, 0, 255, {nullptr, 0}, 1280, 720, 0, 0};
        ASSERT_TRUE(scene_write_frame_header(env.stream) && scene_write_passes(env.stream, &ps) &&
                    scene_write_pass(env.stream, &pass));
    }

    // Closes the pass, decodes the stream and answers its primitives; the
    // stream is opened again for the next case.
    std::vector<prim> finish()
    {
        EXPECT_EQ(scene_write_pass_end(env.stream), 1);
        scene_record_list list = {};
        EXPECT_EQ(scene_decode(env.stream, &list), 1);
        std::vector<prim> out;
        for (int i = 0; i < list.count; i++) {
            const scene_record &r = list.records[i];
            if (r.kind != SCENE_RECORD_PRIMITIVE) {
                continue;
            }
            prim p = {};
            p.tag = r.tag;
            p.rec = r;
            if (r.tag == SCENE_TAG_SPRITE) {
                p.path.assign(r.sprite.path.bytes, r.sprite.path.length);
            } else if (r.tag == SCENE_TAG_TRIANGLE) {
                p.path.assign(r.triangle.path.bytes, r.triangle.path.length);
            } else if (r.tag == SCENE_TAG_LABEL) {
                p.text_absent = r.label.text.bytes == nullptr;
                p.font_absent = r.label.font.bytes == nullptr;
                if (!p.text_absent) {
                    p.text.assign(r.label.text.bytes, r.label.text.length);
                }
                if (!p.font_absent) {
                    p.font.assign(r.label.font.bytes, r.label.font.length);
                }
            }
            out.push_back(p);
        }
        scene_record_list_free(&list);
        begin();
        return out;
    }

    std::vector<prim> sprite(const char *code)
    {
        packers_draw_sprite(mrb, &env, eval(code));
        EXPECT_EQ(mrb->exc, nullptr) << code;
        return finish();
    }
    std::vector<prim> label(const char *code)
    {
        packers_draw_label(mrb, &env, eval(code));
        EXPECT_EQ(mrb->exc, nullptr) << code;
        return finish();
    }
    std::vector<prim> line(const char *code)
    {
        packers_draw_line(mrb, &env, eval(code));
        EXPECT_EQ(mrb->exc, nullptr) << code;
        return finish();
    }
};

static void expect_default_sprite(const scene_sprite &s, Sint32 scale_quality)
{
    EXPECT_EQ(s.angle, 0.0f);
    EXPECT_EQ(s.r, 255);
    EXPECT_EQ(s.g, 255);
    EXPECT_EQ(s.b, 255);
    EXPECT_EQ(s.a, 255);
    EXPECT_EQ(s.tile_x, 0.0f);
    EXPECT_EQ(s.tile_y, 0.0f);
    EXPECT_EQ(s.tile_w, -1.0f);
    EXPECT_EQ(s.tile_h, -1.0f);
    EXPECT_EQ(s.source_x, 0.0f);
    EXPECT_EQ(s.source_y, 0.0f);
    EXPECT_EQ(s.source_w, -1.0f);
    EXPECT_EQ(s.source_h, -1.0f);
    EXPECT_EQ(s.flip_horizontally, 0);
    EXPECT_EQ(s.flip_vertically, 0);
    EXPECT_EQ(s.angle_anchor_x, 0.5f);
    EXPECT_EQ(s.angle_anchor_y, 0.5f);
    EXPECT_EQ(s.blend, 1);
    EXPECT_EQ(s.scale_percent, 100);
    EXPECT_EQ(s.anchor_x, 0.0f);
    EXPECT_EQ(s.anchor_y, 0.0f);
    EXPECT_EQ(s.scale_quality, scale_quality);
}

TEST_F(Packers, SpriteHashDefaultsAndEveryField)
{
    auto p = sprite("{x: 1, y: 2, w: 3, h: 4}");
    ASSERT_EQ(p.size(), 1u);
    ASSERT_EQ(p[0].tag, SCENE_TAG_SPRITE);
    EXPECT_EQ(p[0].path, "pixel");
    const scene_sprite &d = p[0].rec.sprite;
    EXPECT_EQ(d.x, 1.0f);
    EXPECT_EQ(d.y, 2.0f);
    EXPECT_EQ(d.w, 3.0f);
    EXPECT_EQ(d.h, 4.0f);
    expect_default_sprite(d, 2);

    // nil values count as absent, like missing keys.
    p = sprite("{x: nil, path: nil, a: nil, r: nil, tile_w: nil, blendmode_enum: nil, scale_quality_enum: nil}");
    ASSERT_EQ(p.size(), 1u);
    EXPECT_EQ(p[0].path, "pixel");
    expect_default_sprite(p[0].rec.sprite, 2);

    p = sprite("{x: 1.5, y: -2, w: 30, h: 40, path: 'sprites/a.png', angle: 45.5, a: 100, r: 10, g: 20, b: 30,"
               " tile_x: 1, tile_y: 2, tile_w: 3, tile_h: 4, flip_horizontally: 0, flip_vertically: false,"
               " angle_anchor_x: 0.25, angle_anchor_y: 0.75, source_x: 5, source_y: 6, source_w: 7, source_h: 8,"
               " blendmode_enum: 3, anchor_x: 0.5, anchor_y: 1, scale_quality_enum: 1}");
    ASSERT_EQ(p.size(), 1u);
    const scene_sprite &s = p[0].rec.sprite;
    EXPECT_EQ(p[0].path, "sprites/a.png");
    EXPECT_EQ(s.x, 1.5f);
    EXPECT_EQ(s.y, -2.0f);
    EXPECT_EQ(s.w, 30.0f);
    EXPECT_EQ(s.h, 40.0f);
    EXPECT_EQ(s.angle, 45.5f);
    EXPECT_EQ(s.a, 100);
    EXPECT_EQ(s.r, 10);
    EXPECT_EQ(s.g, 20);
    EXPECT_EQ(s.b, 30);
    EXPECT_EQ(s.tile_x, 1.0f);
    EXPECT_EQ(s.tile_y, 2.0f);
    EXPECT_EQ(s.tile_w, 3.0f);
    EXPECT_EQ(s.tile_h, 4.0f);
    EXPECT_EQ(s.flip_horizontally, 1);   // 0 is truthy in Ruby
    EXPECT_EQ(s.flip_vertically, 0);
    EXPECT_EQ(s.angle_anchor_x, 0.25f);
    EXPECT_EQ(s.angle_anchor_y, 0.75f);
    EXPECT_EQ(s.source_x, 5.0f);
    EXPECT_EQ(s.source_y, 6.0f);
    EXPECT_EQ(s.source_w, 7.0f);
    EXPECT_EQ(s.source_h, 8.0f);
    EXPECT_EQ(s.blend, 3);
    EXPECT_EQ(s.scale_percent, 100);
    EXPECT_EQ(s.anchor_x, 0.5f);
    EXPECT_EQ(s.anchor_y, 1.0f);
    EXPECT_EQ(s.scale_quality, 1);
}

TEST_F(Packers, SpriteAlphaSuppression)
{
    struct {
        const char *a;
        bool drawn;
        Sint32 alpha;
    } cases[] = {
        {"0", false, 0},        {"0.5", false, 0},   {"-0.9", false, 0},   {"'x'", false, 0},
        {":a", false, 0},       {"true", false, 0},  {"false", false, 0},  {"[]", false, 0},
        {"nil", true, 255},     {"128", true, 128},  {"200.9", true, 200}, {"-5", true, -5},
        {"0.0/0.0", true, 255}, {"1.0/0", true, 255}, {"-1.0/0", true, 255},
        {"1e20", true, SDL_MAX_SINT32}, {"-1e20", true, SDL_MIN_SINT32}, {"2**40", true, SDL_MAX_SINT32},
    };
    for (const auto &c : cases) {
        std::string code = std::string("{x: 1, y: 1, w: 1, h: 1, a: ") + c.a + "}";
        auto p = sprite(code.c_str());
        ASSERT_EQ(p.size(), c.drawn ? 1u : 0u) << c.a;
        if (c.drawn) {
            EXPECT_EQ(p[0].rec.sprite.a, c.alpha) << c.a;
        }
        // Triangles and labels follow the same rule.
        code = std::string("{x: 1, source_x3: 0, a: ") + c.a + "}";
        EXPECT_EQ(sprite(code.c_str()).size(), c.drawn ? 1u : 0u) << "triangle " << c.a;
        code = std::string("{x: 1, text: 'hi', a: ") + c.a + "}";
        EXPECT_EQ(label(code.c_str()).size(), c.drawn ? 1u : 0u) << "label " << c.a;
    }
}

TEST_F(Packers, ScriptNumbersAreSanitised)
{
    struct {
        const char *value;
        float as_float;   // x
        Sint32 as_int;    // r (default 255)
    } cases[] = {
        {"7", 7.0f, 7},
        {"2.9", 2.9f, 2},
        {"-2.9", -2.9f, -2},
        {"0.0/0.0", 0.0f, 255},
        {"1.0/0", 0.0f, 255},
        {"-1.0/0", 0.0f, 255},
        {"1e20", 1e20f, SDL_MAX_SINT32},
        {"-1e20", -1e20f, SDL_MIN_SINT32},
        {"1e300", 3.4028234663852886e38f, SDL_MAX_SINT32},
        {"-1e300", -3.4028234663852886e38f, SDL_MIN_SINT32},
        {"2**40", 1099511627776.0f, SDL_MAX_SINT32},
        {"-(2**40)", -1099511627776.0f, SDL_MIN_SINT32},
        {"2**31", 2147483648.0f, SDL_MAX_SINT32},
        {"-(2**31)", -2147483648.0f, SDL_MIN_SINT32},
        {"'12'", 0.0f, 255},
        {":r", 0.0f, 255},
        {"true", 0.0f, 255},
        {"[1]", 0.0f, 255},
        {"{}", 0.0f, 255},
    };
    for (const auto &c : cases) {
        std::string code = std::string("{x: ") + c.value + ", r: " + c.value + "}";
        auto p = sprite(code.c_str());
        ASSERT_EQ(p.size(), 1u) << c.value;
        EXPECT_EQ(p[0].rec.sprite.x, c.as_float) << c.value;
        EXPECT_EQ(p[0].rec.sprite.r, c.as_int) << c.value;
    }
}

TEST_F(Packers, SpriteHashIgnoresStringKeysAndUnknownNames)
{
    auto p = sprite("{'x' => 5, 'path' => 'a.png', 'a' => 0, w: 3, speed: 9, 1 => 2}");
    ASSERT_EQ(p.size(), 1u);
    EXPECT_EQ(p[0].rec.sprite.x, 0.0f);
    EXPECT_EQ(p[0].rec.sprite.w, 3.0f);
    EXPECT_EQ(p[0].path, "pixel");

    // A default proc is never asked for missing keys.
    p = sprite("h = Hash.new { |hh, k| raise 'asked' }; h[:x] = 4; h");
    ASSERT_EQ(p.size(), 1u);
    EXPECT_EQ(p[0].rec.sprite.x, 4.0f);
}

TEST_F(Packers, SpritePaths)
{
    struct {
        const char *path;
        const char *written;
    } cases[] = {
        {"'sprites/a.png'", "sprites/a.png"}, {":square", "square"}, {"nil", "pixel"},
        {"42", "pixel"},                      {"''", ""},             {"['a']", "pixel"},
    };
    for (const auto &c : cases) {
        std::string code = std::string("{path: ") + c.path + "}";
        auto p = sprite(code.c_str());
        ASSERT_EQ(p.size(), 1u) << c.path;
        EXPECT_EQ(p[0].path, c.written) << c.path;
    }
}

TEST_F(Packers, TriangleDetectionAndColourInheritance)
{
    auto p = sprite("{x: 1, y: 2, x2: 3, y2: 4, x3: 5, y3: 6, source_x3: 0}");
    ASSERT_EQ(p.size(), 1u);
    ASSERT_EQ(p[0].tag, SCENE_TAG_TRIANGLE);
    const scene_triangle &t = p[0].rec.triangle;
    EXPECT_EQ(t.x, 1.0f);
    EXPECT_EQ(t.y, 2.0f);
    EXPECT_EQ(t.x2, 3.0f);
    EXPECT_EQ(t.y2, 4.0f);
    EXPECT_EQ(t.x3, 5.0f);
    EXPECT_EQ(t.y3, 6.0f);
    EXPECT_EQ(p[0].path, "pixel");
    EXPECT_EQ(t.blend, 1);
    EXPECT_EQ(t.scale_percent, 100);
    const Sint32 all[] = {t.r, t.g, t.b, t.a, t.r2, t.g2, t.b2, t.a2, t.r3, t.g3, t.b3, t.a3};
    for (Sint32 c : all) {
        EXPECT_EQ(c, 255);
    }

    // Without source_x3 the same hash is a zero-size sprite.
    p = sprite("{x: 1, y: 2, x2: 3, y2: 4, x3: 5, y3: 6}");
    ASSERT_EQ(p.size(), 1u);
    ASSERT_EQ(p[0].tag, SCENE_TAG_SPRITE);
    EXPECT_EQ(p[0].rec.sprite.w, 0.0f);
    EXPECT_EQ(p[0].rec.sprite.h, 0.0f);

    p = sprite("{source_x3: 9, path: 'tri.png', r: 10, g: 20, b: 30, a: 40, r2: 50, b2: 'x', g3: 60, a3: 70,"
               " source_x: 1, source_y: 2, source_x2: 3, source_y2: 4, source_y3: 6, blendmode_enum: 2}");
    ASSERT_EQ(p.size(), 1u);
    ASSERT_EQ(p[0].tag, SCENE_TAG_TRIANGLE);
    const scene_triangle &c = p[0].rec.triangle;
    EXPECT_EQ(p[0].path, "tri.png");
    EXPECT_EQ(c.r, 10);
    EXPECT_EQ(c.g, 20);
    EXPECT_EQ(c.b, 30);
    EXPECT_EQ(c.a, 40);
    EXPECT_EQ(c.r2, 50);
    EXPECT_EQ(c.g2, 20);
    EXPECT_EQ(c.b2, 30);   // not a number: the inherited default
    EXPECT_EQ(c.a2, 40);
    EXPECT_EQ(c.r3, 50);   // from the inherited r2
    EXPECT_EQ(c.g3, 60);
    EXPECT_EQ(c.b3, 30);
    EXPECT_EQ(c.a3, 70);
    EXPECT_EQ(c.source_x, 1.0f);
    EXPECT_EQ(c.source_y, 2.0f);
    EXPECT_EQ(c.source_x2, 3.0f);
    EXPECT_EQ(c.source_y2, 4.0f);
    EXPECT_EQ(c.source_x3, 9.0f);
    EXPECT_EQ(c.source_y3, 6.0f);
    EXPECT_EQ(c.blend, 2);
}

TEST_F(Packers, LabelDefaultsFieldsAndTextConversion)
{
    auto p = label("{x: 10, y: 20, text: 'hello'}");
    ASSERT_EQ(p.size(), 1u);
    ASSERT_EQ(p[0].tag, SCENE_TAG_LABEL);
    const scene_label &d = p[0].rec.label;
    EXPECT_EQ(p[0].text, "hello");
    EXPECT_TRUE(p[0].font_absent);
    EXPECT_EQ(d.x, 10.0f);
    EXPECT_EQ(d.y, 20.0f);
    EXPECT_EQ(d.size_enum, 0.0f);
    EXPECT_EQ(d.alignment, 0);
    EXPECT_EQ(d.r, 0);
    EXPECT_EQ(d.g, 0);
    EXPECT_EQ(d.b, 0);
    EXPECT_EQ(d.a, 255);
    EXPECT_EQ(d.vertical_alignment, 2);
    EXPECT_EQ(d.blend, 1);
    EXPECT_EQ(d.size_px, -1.0f);
    EXPECT_EQ(d.anchor_x_given, 0);
    EXPECT_EQ(d.anchor_y_given, 0);

    p = label("{text: 't', font: 'fonts/a.ttf', size_enum: 2.5, alignment_enum: 1, r: 1, g: 2, b: 3, a: 4,"
              " vertical_alignment_enum: 0, blendmode_enum: 2, size_px: 30, anchor_x: 0.5, anchor_y: 0}");
    ASSERT_EQ(p.size(), 1u);
    const scene_label &l = p[0].rec.label;
    EXPECT_EQ(p[0].font, "fonts/a.ttf");
    EXPECT_EQ(l.size_enum, 2.5f);
    EXPECT_EQ(l.alignment, 1);
    EXPECT_EQ(l.r, 1);
    EXPECT_EQ(l.g, 2);
    EXPECT_EQ(l.b, 3);
    EXPECT_EQ(l.a, 4);
    EXPECT_EQ(l.vertical_alignment, 0);
    EXPECT_EQ(l.blend, 2);
    EXPECT_EQ(l.size_px, 30.0f);
    EXPECT_EQ(l.anchor_x_given, 1);
    EXPECT_EQ(l.anchor_x, 0.5f);
    EXPECT_EQ(l.anchor_y_given, 1);   // 0 is given
    EXPECT_EQ(l.anchor_y, 0.0f);

    struct {
        const char *text;
        const char *written;   // none: the absent string
    } cases[] = {
        {"42", "42"},     {"-7", "-7"},     {"2**40", "1099511627776"}, {"1.5", "1.5"},
        {":sym", "sym"},  {"''", ""},       {"nil", nullptr},           {"NilToS.new", nullptr},
        {"[1, 2]", "[1, 2]"},
    };
    for (const auto &c : cases) {
        std::string code = std::string("{text: ") + c.text + "}";
        p = label(code.c_str());
        ASSERT_EQ(p.size(), 1u) << c.text;
        if (c.written) {
            EXPECT_FALSE(p[0].text_absent) << c.text;
            EXPECT_EQ(p[0].text, c.written) << c.text;
        } else {
            EXPECT_TRUE(p[0].text_absent) << c.text;
        }
    }
}

TEST_F(Packers, LineEndFromSizeAndAlwaysWritten)
{
    struct {
        const char *hash;
        float x2, y2;
    } cases[] = {
        {"{x: 10, y: 10, w: 5, h: 0}", 15.0f, 10.0f},
        {"{x: 10, y: 10, x2: 99, w: 5, h: 2}", 15.0f, 12.0f},   // x2 without y2 is ignored
        {"{x: 10, y: 10}", 10.0f, 10.0f},
        {"{x: 10, y: 10, x2: 1, y2: 2, w: 5, h: 5}", 1.0f, 2.0f},
        {"{x: 10, y: 10, x2: nil, y2: 2}", 0.0f, 2.0f},
    };
    for (const auto &c : cases) {
        auto p = line(c.hash);
        ASSERT_EQ(p.size(), 1u) << c.hash;
        ASSERT_EQ(p[0].tag, SCENE_TAG_LINE);
        EXPECT_EQ(p[0].rec.line.x, 10.0f) << c.hash;
        EXPECT_EQ(p[0].rec.line.x2, c.x2) << c.hash;
        EXPECT_EQ(p[0].rec.line.y2, c.y2) << c.hash;
        EXPECT_EQ(p[0].rec.line.r, 0);
        EXPECT_EQ(p[0].rec.line.a, 255);
        EXPECT_EQ(p[0].rec.line.blend, 1);
    }
    auto p = line("{a: 0, r: 1, g: 2, b: 3, blendmode_enum: 0}");
    ASSERT_EQ(p.size(), 1u);
    EXPECT_EQ(p[0].rec.line.a, 0);
    EXPECT_EQ(p[0].rec.line.r, 1);
    EXPECT_EQ(p[0].rec.line.blend, 0);
    p = line("Obj.new(x: 1, y: 2, w: 3, h: 4, r: 9)");
    ASSERT_EQ(p.size(), 1u);
    EXPECT_EQ(p[0].rec.line.x2, 4.0f);
    EXPECT_EQ(p[0].rec.line.y2, 6.0f);
    EXPECT_EQ(p[0].rec.line.r, 9);
}

TEST_F(Packers, AttributeObjects)
{
    auto p = sprite("Obj.new(x: 1, y: 2, w: 3, h: 4, path: 'o.png', r: 7, flip_vertically: :yes)");
    ASSERT_EQ(p.size(), 1u);
    ASSERT_EQ(p[0].tag, SCENE_TAG_SPRITE);
    EXPECT_EQ(p[0].path, "o.png");
    EXPECT_EQ(p[0].rec.sprite.x, 1.0f);
    EXPECT_EQ(p[0].rec.sprite.h, 4.0f);
    EXPECT_EQ(p[0].rec.sprite.r, 7);
    EXPECT_EQ(p[0].rec.sprite.flip_vertically, 1);
    EXPECT_EQ(p[0].rec.sprite.tile_w, -1.0f);

    // w and h both nil: a triangle, whatever source_x3 says.
    p = sprite("Obj.new(x: 1, y: 2, x2: 3, y2: 4, x3: 5, y3: 6, r: 10)");
    ASSERT_EQ(p.size(), 1u);
    ASSERT_EQ(p[0].tag, SCENE_TAG_TRIANGLE);
    EXPECT_EQ(p[0].rec.triangle.y3, 6.0f);
    EXPECT_EQ(p[0].rec.triangle.r3, 10);

    EXPECT_EQ(sprite("Obj.new(w: 1, a: 0)").size(), 0u);

    // Labels call z only where it exists.
    p = label("Obj.new(x: 5, text: 'abc')");
    ASSERT_EQ(p.size(), 1u);
    EXPECT_EQ(p[0].text, "abc");
    EXPECT_EQ(p[0].rec.label.x, 5.0f);
    p = label("ObjZ.new(x: 5, z: 3, text: 99)");
    ASSERT_EQ(p.size(), 1u);
    EXPECT_EQ(p[0].text, "99");

    // A raising attribute writes nothing and leaves the exception pending.
    packers_draw_sprite(mrb, &env, eval("Raiser.new(x: 1, w: 1)"));
    EXPECT_NE(mrb->exc, nullptr);
    mrb->exc = nullptr;
    EXPECT_EQ(finish().size(), 0u);
}

TEST_F(Packers, InstanceVariableObjectsAndEntities)
{
    auto p = sprite("IvarSprite.new(x: 3, y: 4, w: 5, h: 6, path: :hero, b: 9, anchor_x: 0.5)");
    ASSERT_EQ(p.size(), 1u);
    ASSERT_EQ(p[0].tag, SCENE_TAG_SPRITE);
    EXPECT_EQ(p[0].path, "hero");
    EXPECT_EQ(p[0].rec.sprite.x, 3.0f);
    EXPECT_EQ(p[0].rec.sprite.h, 6.0f);
    EXPECT_EQ(p[0].rec.sprite.b, 9);
    EXPECT_EQ(p[0].rec.sprite.g, 255);
    EXPECT_EQ(p[0].rec.sprite.anchor_x, 0.5f);

    // No methods are called: the ivar object has no readers at all.
    p = sprite("ORB::StrictEntity.new(x: 1, y: 2, x2: 3, source_x3: 4, r: 8)");
    ASSERT_EQ(p.size(), 1u);
    ASSERT_EQ(p[0].tag, SCENE_TAG_TRIANGLE);
    EXPECT_EQ(p[0].rec.triangle.x2, 3.0f);
    EXPECT_EQ(p[0].rec.triangle.source_x3, 4.0f);
    EXPECT_EQ(p[0].rec.triangle.g2, 255);
    EXPECT_EQ(p[0].rec.triangle.r2, 8);

    EXPECT_EQ(sprite("IvarSprite.new(a: 0)").size(), 0u);

    p = sprite("ORB::OpenEntity.new({x: 11, path: 'e.png'})");
    ASSERT_EQ(p.size(), 1u);
    EXPECT_EQ(p[0].rec.sprite.x, 11.0f);
    EXPECT_EQ(p[0].path, "e.png");
    EXPECT_EQ(sprite("ORB::OpenEntity.new(nil)").size(), 0u);

    p = label("ORB::OpenEntity.new({x: 12, text: 'ent'})");
    ASSERT_EQ(p.size(), 1u);
    EXPECT_EQ(p[0].text, "ent");
    p = line("ORB::OpenEntity.new({x: 1, y: 1, w: 2, h: 2})");
    ASSERT_EQ(p.size(), 1u);
    EXPECT_EQ(p[0].rec.line.x2, 3.0f);
}

TEST_F(Packers, DrawOverrideAndArraysGoToTheScript)
{
    const char *overrides[] = {"Override.new", "PlainOverride.new"};
    for (const char *o : overrides) {
        eval("$override_arg = nil");
        EXPECT_EQ(sprite(o).size(), 0u) << o;
        EXPECT_EQ(mruby_inspect("$override_arg.equal?($draw)"), "true") << o;
        eval("$override_arg = nil");
        EXPECT_EQ(label(o).size(), 0u) << o;
        EXPECT_EQ(mruby_inspect("$override_arg.equal?($draw)"), "true") << o;
        eval("$override_arg = nil");
        EXPECT_EQ(line(o).size(), 0u) << o;
        EXPECT_EQ(mruby_inspect("$override_arg.equal?($draw)"), "true") << o;
    }
    EXPECT_EQ(sprite("[1, 2, 3]").size(), 0u);
    EXPECT_EQ(mruby_inspect("$array_arg"), "[:sprite, [1, 2, 3]]");
    EXPECT_EQ(label("[4]").size(), 0u);
    EXPECT_EQ(mruby_inspect("$array_arg"), "[:label, [4]]");
    EXPECT_EQ(line("[5]").size(), 0u);
    EXPECT_EQ(mruby_inspect("$array_arg"), "[:line, [5]]");
    EXPECT_EQ(sprite("nil").size(), 0u);
}

TEST_F(Packers, AtlasVariantsByScalePercent)
{
    env.atlas = atlas_lookup;
    struct {
        int percent;
        const char *path;
        Sint32 variant;
    } cases[] = {{100, "sprites/hero.png", 100}, {175, "sprites/hero@175.png", 175}, {200, "sprites/hero@200.png", 200}};
    for (const auto &c : cases) {
        env.scale_percent = c.percent;
        auto p = sprite("{path: 'sprites/hero.png'}");
        ASSERT_EQ(p.size(), 1u);
        EXPECT_EQ(p[0].path, c.path);
        EXPECT_EQ(p[0].rec.sprite.scale_percent, c.variant);
        p = sprite("{path: 'sprites/hero.png', source_x3: 1}");
        ASSERT_EQ(p.size(), 1u);
        EXPECT_EQ(p[0].path, c.path);
        EXPECT_EQ(p[0].rec.triangle.scale_percent, c.variant);
    }
    env.scale_percent = 200;
    auto p = sprite("{path: 'sprites/other.png'}");
    EXPECT_EQ(p[0].path, "sprites/other.png");
    EXPECT_EQ(p[0].rec.sprite.scale_percent, 100);
    p = sprite("{path: :'sprites/hero.png'}");   // only String paths are looked up
    EXPECT_EQ(p[0].path, "sprites/hero.png");
    EXPECT_EQ(p[0].rec.sprite.scale_percent, 100);
}

TEST_F(Packers, NothingIsWrittenWithoutAStreamOrWithAPendingException)
{
    threadstream *s = env.stream;
    env.stream = nullptr;
    packers_draw_sprite(mrb, &env, eval("{x: 1}"));
    packers_draw_label(mrb, &env, eval("{x: 1}"));
    packers_draw_line(mrb, &env, eval("{x: 1}"));
    env.stream = s;
    EXPECT_EQ(finish().size(), 0u);

    mrb_value h = eval("{x: 1}");
    mrb->exc = mrb_obj_ptr(eval("RuntimeError.new('pending')"));
    packers_draw_sprite(mrb, &env, h);
    mrb->exc = nullptr;
    EXPECT_EQ(finish().size(), 0u);
}

TEST(RubyPack, ScriptValuePackers)
{
    ASSERT_EQ(threadstream_init(), 1);
    mrb_state *mrb = mrb_open();
    threadstream *s = threadstream_allocate();
    const mrb_value big = mrb_load_string(mrb, "2**40");
    const mrb_value nan = mrb_float_value(mrb, NAN);
    const mrb_value str = mrb_str_new_lit(mrb, "abc");

    EXPECT_EQ(threadstream_pack_ruby_int(s, mrb_float_value(mrb, 2.9)), 1);
    threadstream_pack_ruby_int(s, mrb_float_value(mrb, -2.9));
    threadstream_pack_ruby_int(s, mrb_nil_value());
    threadstream_pack_ruby_int_or_default(s, mrb_nil_value(), 7);
    threadstream_pack_ruby_int_or_default(s, str, 7);
    threadstream_pack_ruby_int(s, big);
    threadstream_pack_ruby_int_or_default(s, nan, 9);
    threadstream_pack_ruby_float(s, mrb_fixnum_value(3));
    threadstream_pack_ruby_float_or_default(s, mrb_true_value(), 1.5f);
    threadstream_pack_ruby_float_or_default(s, nan, 2.5f);
    threadstream_pack_ruby_string(s, str);
    threadstream_pack_ruby_string(s, mrb_nil_value());
    threadstream_pack_ruby_string_or_default(s, mrb_nil_value(), "def");

    EXPECT_EQ(threadstream_unpack_int(s), 2);
    EXPECT_EQ(threadstream_unpack_int(s), -2);
    EXPECT_EQ(threadstream_unpack_int(s), 0);
    EXPECT_EQ(threadstream_unpack_int(s), 7);
    EXPECT_EQ(threadstream_unpack_int(s), 7);
    EXPECT_EQ(threadstream_unpack_int(s), SDL_MAX_SINT32);
    EXPECT_EQ(threadstream_unpack_int(s), 9);
    EXPECT_EQ(threadstream_unpack_float(s), 3.0f);
    EXPECT_EQ(threadstream_unpack_float(s), 1.5f);
    EXPECT_EQ(threadstream_unpack_float(s), 2.5f);
    Sint32 len = 0;
    EXPECT_STREQ(threadstream_unpack_string(s, &len), "abc");
    EXPECT_EQ(len, 3);
    EXPECT_EQ(threadstream_unpack_string(s, &len), nullptr);
    EXPECT_STREQ(threadstream_unpack_string(s, &len), "def");
    EXPECT_TRUE(threadstream_eos(s));
    EXPECT_FALSE(s->failed);

    threadstream_free(s);
    mrb_close(mrb);
    threadstream_quit();
}
