// Outputs walker and FFI::Draw primitive methods: a scripted runtime and
// passes written in Ruby go in, the decoded scene comes out. The runtime
// library is not loaded; the fake runtime records which drawing callbacks
// the walker made, in order.

#include <gtest/gtest.h>

#include <mruby.h>
#include <mruby/array.h>
#include <mruby/compile.h>
#include <mruby/string.h>

#include <string>
#include <vector>

#include "config/metadata.h"
#include "engine/engine.h"
#include "render/ffi_draw.h"
#include "render/outputs.h"
#include "render/packers.h"
#include "render/render_context.h"
#include "render/scene.h"
#include "render/texture_atlas.h"
#include "stream/threadstream.h"

#include "mruby_run.h"

static const char *const ruby_fixture = R"RUBY(
module AttrSprite; end
module ORB
  class OpenEntity; end
  class StrictEntity; end
end
COLLECTIONS = [:solids, :static_solids, :sprites, :static_sprites, :primitives, :static_primitives,
               :labels, :static_labels, :lines, :static_lines, :borders, :static_borders,
               :debug, :static_debug, :reserved, :static_reserved]
class Pass
  attr_accessor :target, :transient, :width, :height, :background_color, :clear_before_render
  COLLECTIONS.each { |c| attr_accessor c }
  def initialize(target = nil)
    @target = target
    @background_color = [10, 20, 30, 40]
    @clear_before_render = true
    COLLECTIONS.each { |c| instance_variable_set("@#{c}", []) }
  end
end
class ORBTopLevelOutputs < Pass; end
class Drawn
  def initialize(x); @x = x; end
  def draw_override(ffi); $calls << [:override, @x]; ffi.draw_solid(@x, 0, 1, 1, 0, 0, 0, 255); end
end
class Runtime
  attr_accessor :passes, :screenshot, :draw
  def initialize(draw); @draw = draw; @passes = []; $calls = []; end
  def pixel_arrays; $calls << :pixel_arrays; nil; end
  def take_screenshot; @screenshot; end
  def target(p); p.target; end
  def render_transient(p); p.transient; end
  def render_width(p); p.width; end
  def render_height(p); p.height; end
  def draw_solid(s)
    $calls << [:solid, s[:x]]
    @draw.draw_solid(s[:x], s[:y], s[:w], s[:h], s[:r], s[:g], s[:b], s[:a])
  end
  def draw_border(s)
    $calls << [:border, s[:x]]
    @draw.draw_border(s[:x], s[:y], s[:w], s[:h], s[:r], s[:g], s[:b], s[:a])
  end
  def draw_primitive(p)
    $calls << [:primitive, p.is_a?(Hash) ? p[:x] : p]
    raise "broken primitive" if p.is_a?(Hash) && p[:raise]
  end
  def draw_sprite(a); $calls << [:array_sprite, a[0]]; end
  def draw_screenshots; $calls << :screenshots; end
end
class OverridingRuntime < Runtime
  def primitives(pass); $calls << [:primitives, pass.target]; $body.call if $body; end
end
$draw = FFI::Draw.new
$rt = Runtime.new($draw)
)RUBY";

class Outputs : public ::testing::Test {
protected:
    mrb_state *mrb = nullptr;
    threadstream *stream = nullptr;
    render_context *rc = nullptr;

    static void SetUpTestSuite() { ASSERT_EQ(threadstream_init(), 1); }
    static void TearDownTestSuite() { threadstream_quit(); }

    void SetUp() override
    {
        mrb = mrb_open();
        ASSERT_NE(mrb, nullptr);
        mrb_define_module(mrb, "FFI");
        ffi_draw_define(mrb);
        packers_init(mrb);
        outputs_init(mrb);
        eval(ruby_fixture);
        rc = (render_context *)SDL_calloc(1, sizeof *rc);
        SDL_AtomicSet(&rc->published_scale_percent, 100);
        SDL_AtomicSet(&rc->published_canvas_w, 1280);
        SDL_AtomicSet(&rc->published_canvas_h, 720);
        SDL_AtomicSet(&rc->published_landscape, 1);
        SDL_AtomicSet(&rc->global_tick_count, 5);
        bind("$rt");
        cvar_game_metadata_hd_letterbox = 0;
        texture_atlas_clear();
        begin();
    }

    void TearDown() override
    {
        simulation_set_current_stream(nullptr);
        outputs_unbind();
        texture_atlas_clear();
        if (stream)
            threadstream_free(stream);
        mrb_close(mrb);
        SDL_free(rc);
    }

    void bind(const char *runtime)
    {
        outputs_binding b = {eval(runtime), eval("$draw"),
                             mrb_class_get_under(mrb, mrb_module_get(mrb, "ORB"), "OpenEntity"),
                             mrb_class_get_under(mrb, mrb_module_get(mrb, "ORB"), "StrictEntity"),
                             mrb_module_get(mrb, "AttrSprite"), mrb_class_get(mrb, "ORBTopLevelOutputs"), rc};
        outputs_bind(&b);
    }

    mrb_value eval(const char *code)
    {
        mrb_value v = mrb_load_string(mrb, code);
        EXPECT_EQ(mrb->exc, nullptr) << code;
        mrb->exc = nullptr;
        return v;
    }

    void begin()
    {
        if (stream)
            threadstream_free(stream);
        stream = threadstream_allocate();
        ASSERT_TRUE(scene_write_frame_header(stream));
        simulation_set_current_stream(stream);
    }

    // Walks the bound runtime and decodes everything the scene holds.
    std::vector<scene_record> walk(scene_record_list *list)
    {
        outputs_walk(mrb, stream);
        EXPECT_EQ(mrb->exc, nullptr);
        return decode(list);
    }

    // Runs code inside the one pass of a walk and answers the primitives
    // it wrote, and then writes after top-level code.
    std::vector<scene_record> in_pass(const char *code, const char *after, scene_record_list *list)
    {
        std::string body = std::string("$body = -> do\n") + code + "\nend\n"
                           "$o = OverridingRuntime.new($draw); $o.passes = [Pass.new]";
        eval(body.c_str());
        bind("$o");
        outputs_walk(mrb, stream);
        EXPECT_EQ(mrb->exc, nullptr);
        mrb->exc = nullptr;
        eval(after);
        std::vector<scene_record> all = decode(list), out;
        for (const scene_record &r : all)
            if (r.kind == SCENE_RECORD_PRIMITIVE || (r.kind == SCENE_RECORD_TOP && r.tag != SCENE_TAG_PASSES))
                out.push_back(r);
        return out;
    }

    std::vector<scene_record> decode(scene_record_list *list)
    {
        *list = {};
        EXPECT_EQ(scene_decode(stream, list), 1);
        return std::vector<scene_record>(list->records, list->records + list->count);
    }

    static std::string str(const scene_string &s) { return s.bytes ? std::string(s.bytes, s.length) : "<absent>"; }
};

// Record kinds and tags in order, e.g. "passes(2,0) pass(rt) 1 2 end".
static std::string shape(const std::vector<scene_record> &rs)
{
    std::string out;
    for (const scene_record &r : rs) {
        if (!out.empty())
            out += " ";
        if (r.kind == SCENE_RECORD_PASS)
            out += "pass(" + std::string(r.pass.target.bytes ? std::string(r.pass.target.bytes, r.pass.target.length) : "-") + ")";
        else if (r.kind == SCENE_RECORD_PASS_END)
            out += "end";
        else if (r.kind == SCENE_RECORD_TOP && r.tag == SCENE_TAG_PASSES)
            out += "passes(" + std::to_string(r.passes.count) + "," + std::to_string(r.passes.capture) + ")";
        else if (r.tag == SCENE_TAG_SOLID)
            out += "solid@" + std::to_string((int)r.solid.x);
        else if (r.tag == SCENE_TAG_BORDER)
            out += "border@" + std::to_string((int)r.border.x);
        else if (r.tag == SCENE_TAG_SPRITE)
            out += "sprite@" + std::to_string((int)r.sprite.x);
        else if (r.tag == SCENE_TAG_LABEL)
            out += "label@" + std::to_string((int)r.label.x);
        else if (r.tag == SCENE_TAG_LINE)
            out += "line@" + std::to_string((int)r.line.x);
        else
            out += std::to_string(r.tag);
    }
    return out;
}

TEST_F(Outputs, TwoPassesInOrderWithEveryCollection)
{
    eval(R"RUBY(
      rt = Pass.new("rt"); rt.width = 200; rt.height = 100; rt.transient = true
      rt.background_color = [255, 255, 255]
      rt.solids << { x: 1, y: 0, w: 1, h: 1 }
      top = ORBTopLevelOutputs.new
      top.clear_before_render = false
      x = 100
      COLLECTIONS.each do |c|
        list = top.send(c)
        case c
        when :sprites, :static_sprites then list << { x: x, path: "p" }
        when :labels, :static_labels then list << { x: x, text: "t" }
        when :lines, :static_lines then list << { x: x, x2: 1, y2: 1 }
        when :primitives, :static_primitives then list << nil << { x: x, path: "p" } << { x: x + 1, primitive_marker: :solid }
        else list << nil << { x: x }
        end
        x += 10
      end
      top.primitives << { x: 300, text: "t" } << { x: 301, x2: 5, y2: 5 } << Drawn.new(302) << [303, 0, 1, 1].freeze
      $rt.passes = [rt, top]
    )RUBY");
    scene_record_list list;
    std::vector<scene_record> rs = walk(&list);
    EXPECT_EQ(shape(rs),
              "passes(2,0) pass(rt) solid@1 end pass(-) solid@100 solid@110 sprite@120 sprite@130 sprite@140 "
              "label@300 line@301 solid@302 sprite@150 label@160 label@170 line@180 line@190 border@200 border@210 end");
    ASSERT_GE(rs.size(), 4u);
    const scene_pass &p0 = rs[1].pass;
    EXPECT_EQ(str(p0.target), "rt");
    EXPECT_EQ(p0.width, 200);
    EXPECT_EQ(p0.height, 100);
    EXPECT_EQ(p0.transient, 1);
    EXPECT_EQ(p0.clear, 1);
    // A missing background entry reads 0.
    EXPECT_EQ(p0.r, 255);
    EXPECT_EQ(p0.a, 0);
    const scene_pass &p1 = rs[4].pass;
    EXPECT_EQ(str(p1.target), "<absent>");
    EXPECT_EQ(p1.width, 0);   // nil size gives 0
    EXPECT_EQ(p1.transient, 0);
    EXPECT_EQ(p1.clear, 0);
    EXPECT_EQ(p1.r, 10);
    EXPECT_EQ(p1.a, 40);
    scene_record_list_free(&list);
    // Solids and borders go through the runtime; generic Hashes without a
    // packable marker, objects without draw_override and the debug and
    // reserved collections go to draw_primitive.
    EXPECT_EQ(mruby_run(mrb, "$calls"),
              "[:pixel_arrays, [:solid, 1], [:solid, 100], [:solid, 110], [:primitive, 141], [:override, 302], "
              "[:primitive, [303, 0, 1, 1]], [:primitive, 151], [:border, 200], [:border, 210], [:primitive, 220], "
              "[:primitive, 230], [:primitive, 240], [:primitive, 250]]");
}

TEST_F(Outputs, ScreenshotsAreAskedForAfterThePassesAndOverrideReplacesTheWalk)
{
    eval("$rt.screenshot = 1; $rt.passes = [ORBTopLevelOutputs.new]; $rt.passes[0].solids << { x: 3 }");
    scene_record_list list;
    EXPECT_EQ(shape(walk(&list)), "passes(1,1) pass(-) solid@3 end");
    scene_record_list_free(&list);
    EXPECT_EQ(mruby_run(mrb, "$calls"), "[:pixel_arrays, [:solid, 3], :screenshots]");

    eval("$o = OverridingRuntime.new($draw); $o.passes = [Pass.new('a')]; $o.passes[0].solids << { x: 3 }");
    bind("$o");
    begin();
    EXPECT_EQ(shape(walk(&list)), "passes(1,0) pass(a) end");
    scene_record_list_free(&list);
    EXPECT_EQ(mruby_run(mrb, "$calls"), "[:pixel_arrays, [:primitives, \"a\"]]");
}

TEST_F(Outputs, CallbacksMayShrinkTheCollectionAndRaisesStopTheWalk)
{
    eval(R"RUBY(
      class Runtime
        def draw_border(s); $calls << [:border, s[:x]]; $rt.passes[0].borders.clear; end
      end
      top = ORBTopLevelOutputs.new
      top.borders << { x: 1 } << { x: 2 } << { x: 3 }
      top.debug << { x: 7, raise: true } << { x: 8 }
      $rt.passes = [top]
    )RUBY");
    outputs_walk(mrb, stream);
    ASSERT_NE(mrb->exc, nullptr);
    mrb->exc = nullptr;
    EXPECT_EQ(mruby_run(mrb, "$calls"), "[:pixel_arrays, [:border, 1], [:primitive, 7]]");
}

TEST_F(Outputs, LetterboxBackgroundFollowsTheGrid)
{
    cvar_game_metadata_hd_letterbox = 1;
    eval("$rt.passes = [Pass.new('t'), ORBTopLevelOutputs.new]; $rt.passes[1].background_color = [200, 100, 50, 9]");
    scene_record_list list;
    std::vector<scene_record> rs = walk(&list);
    ASSERT_EQ(shape(rs), "passes(2,0) pass(t) end pass(-) solid@0 end");
    EXPECT_EQ(rs[1].pass.r, 10);   // render targets keep their own background
    const scene_pass &top = rs[3].pass;
    EXPECT_EQ(top.r, 0);
    EXPECT_EQ(top.a, 255);
    const scene_solid &s = rs[4].solid;
    EXPECT_EQ(s.w, 1280.0f);
    EXPECT_EQ(s.h, 720.0f);
    EXPECT_EQ(s.r, 200);
    EXPECT_EQ(s.b, 50);
    EXPECT_EQ(s.a, 255);
    scene_record_list_free(&list);

    // set_grid to the centre in this very step: the backdrop is placed for
    // the centred grid, and a second step (no change) keeps it there.
    begin();
    eval("$draw.set_grid(640.0, 360.0, -1.0)");
    rs = walk(&list);
    ASSERT_EQ(shape(rs), "7 passes(2,0) pass(t) end pass(-) solid@-640 end");
    EXPECT_EQ(rs[5].solid.y, -360.0f);
    scene_record_list_free(&list);
    SDL_AtomicSet(&rc->published_grid_centred, 1);
    SDL_AtomicSet(&rc->global_tick_count, 6);
    begin();
    EXPECT_EQ(shape(walk(&list)), "passes(2,0) pass(t) end pass(-) solid@-640 end");
    scene_record_list_free(&list);

    // At global tick 0 the background is drawn as is.
    SDL_AtomicSet(&rc->global_tick_count, 0);
    begin();
    rs = walk(&list);
    EXPECT_EQ(shape(rs), "passes(2,0) pass(t) end pass(-) end");
    EXPECT_EQ(rs[3].pass.r, 200);
    scene_record_list_free(&list);
}

TEST_F(Outputs, AtlasVariantsAtTheRenderScale)
{
    EXPECT_EQ(texture_atlas_load(mrb, eval(R"RUBY(
      levels = [100, 125, 150, 175, 200, 250, 300, 400]
      info = {}
      levels.each do |l|
        file = l >= 200 ? "sprites/hero@200.png" : "sprites/hero.png"
        info["texture_#{l}"] = file
        info["texture_#{l}_scale_enum"] = l >= 200 ? 200 : 100
      end
      info.delete("texture_175")  # a hole keeps the original image
      { "sprites/hero.png" => info, "sprites/bad.png" => 5 }
    )RUBY")), 1);
    eval("$rt.passes = [ORBTopLevelOutputs.new]; $rt.passes[0].sprites << { path: 'sprites/hero.png' } << { path: 'other.png' }");
    const int percents[] = {100, 175, 200, 400};
    const char *const expected[] = {"sprites/hero.png", "sprites/hero.png", "sprites/hero@200.png", "sprites/hero@200.png"};
    const int expected_percent[] = {100, 100, 200, 200};
    for (int i = 0; i < 4; i++) {
        SDL_AtomicSet(&rc->published_scale_percent, percents[i]);
        begin();
        scene_record_list list;
        std::vector<scene_record> rs = walk(&list);
        ASSERT_EQ(shape(rs), "passes(1,0) pass(-) sprite@0 sprite@0 end") << percents[i];
        EXPECT_EQ(str(rs[2].sprite.path), expected[i]) << percents[i];
        EXPECT_EQ(rs[2].sprite.scale_percent, expected_percent[i]) << percents[i];
        EXPECT_EQ(str(rs[3].sprite.path), "other.png");
        EXPECT_EQ(rs[3].sprite.scale_percent, 100);
        scene_record_list_free(&list);
    }
    // The FFI sprite methods choose the same variant.
    begin();
    scene_record_list list;
    std::vector<scene_record> rs = in_pass("$draw.draw_sprite(0, 0, 1, 1, 'sprites/hero.png')", "", &list);
    ASSERT_EQ(rs.size(), 1u);
    EXPECT_EQ(str(rs[0].sprite.path), "sprites/hero@200.png");
    scene_record_list_free(&list);
}

TEST_F(Outputs, DrawMethodsWriteRecordsWithDefaults)
{
    scene_record_list list;
    std::vector<scene_record> rs = in_pass(R"RUBY(
      $draw.draw_sprite(0, 0, 10, 10, "p")
      $draw.draw_solid(1, 2, 3, 4, nil, nil, nil, nil)
      $draw.draw_solid(1, 2, 3, 4, 9, 9, 9, 0)          # alpha 0: nothing
      $draw.draw_border_3(5, 6, 7, 8, 1, 2, 3, 4, 2, 0.5, 1.0)
      $draw.draw_line(0, 0, nil, 7, 1, 1, 1, 0)         # alpha 0: nothing
      $draw.draw_line_2(1, 1, nil, 7, 1, 1, 1, nil, 3)
      $draw.draw_label(1, 2, "hi", nil, nil, nil, nil, nil, nil, nil)
      $draw.draw_triangle(0, 0, 1, 0, 0, 1, 10, 20, 30, 40, nil, 0, 0, 0, 0, 0, 0, nil)
      $draw.draw_sprite_6(0, 0, 1, 1, "q", 45, :bad, *([nil] * 19))  # non-numeric alpha: nothing
      # Top-level records are refused inside a pass.
      $draw.draw_screenshot("inside.png", *([0] * 21))
      $draw.set_grid(640.0, 360.0, -1.0)
    )RUBY", R"RUBY(
      $draw.draw_screenshot("s.png", 1, 2, 3, 4, 5, 6, 7, 8, 9, *([0] * 12))
      $draw.draw_a11ys([{ a11y_id: "b", x: 1, w: 2 }, 3, { a11y_text: :t }])
      $draw.draw_solid(1, 2, 3, 4, 0, 0, 0, 255)  # outside a pass: nothing
    )RUBY", &list);
    ASSERT_EQ(rs.size(), 8u);
    const scene_sprite &sp = rs[0].sprite;
    EXPECT_EQ(str(sp.path), "p");
    EXPECT_EQ(sp.angle, 0.0f);
    EXPECT_EQ(sp.r + sp.g + sp.b + sp.a, 4 * 255);
    EXPECT_EQ(sp.tile_w, -1.0f);
    EXPECT_EQ(sp.source_h, -1.0f);
    EXPECT_EQ(sp.blend, 1);
    const scene_solid &so = rs[1].solid;
    EXPECT_EQ(rs[1].tag, SCENE_TAG_SOLID);
    EXPECT_EQ(so.r + so.g + so.b, 0);
    EXPECT_EQ(so.a, 255);
    EXPECT_EQ(so.blend, 1);
    EXPECT_EQ(rs[2].tag, SCENE_TAG_BORDER);
    EXPECT_EQ(rs[2].border.blend, 2);
    EXPECT_EQ(rs[2].border.anchor_x, 0.5f);
    EXPECT_EQ(rs[3].tag, SCENE_TAG_LINE);
    EXPECT_EQ(rs[3].line.x2, 0.0f);   // a nil end is 0, not derived from a size
    EXPECT_EQ(rs[3].line.a, 255);
    EXPECT_EQ(rs[3].line.blend, 3);
    EXPECT_EQ(rs[4].tag, SCENE_TAG_LABEL);
    EXPECT_EQ(rs[4].label.r, 0);
    EXPECT_EQ(rs[4].label.a, 255);
    EXPECT_EQ(str(rs[4].label.font), "<absent>");
    const scene_triangle &t = rs[5].triangle;
    EXPECT_EQ(str(t.path), "pixel");
    EXPECT_EQ(t.r3, 10);
    EXPECT_EQ(t.a2, 40);
    EXPECT_EQ(rs[6].tag, SCENE_TAG_SCREENSHOT);
    EXPECT_EQ(str(rs[6].screenshot.path), "s.png");
    EXPECT_EQ(rs[6].screenshot.tolerance, 5);
    EXPECT_EQ(rs[6].screenshot.alpha, 6);
    EXPECT_EQ(rs[6].screenshot.key_b, 9);
    EXPECT_EQ(rs[7].tag, SCENE_TAG_A11Y_NODES);
    ASSERT_EQ(rs[7].a11y_nodes.count, 2);
    EXPECT_EQ(str(rs[7].a11y_nodes.nodes[0].a11y_id), "b");
    EXPECT_EQ(rs[7].a11y_nodes.nodes[0].w, 2.0f);
    EXPECT_EQ(str(rs[7].a11y_nodes.nodes[1].a11y_text), "t");
    EXPECT_EQ(str(rs[7].a11y_nodes.nodes[1].a11y_id), "<absent>");
    scene_record_list_free(&list);
}

TEST_F(Outputs, DrawMethodsRefuseBadArgumentsAndDoNothingOutsideAStep)
{
    const struct {
        const char *code;
        const char *answer;
    } cases[] = {
        {"$draw.draw_sprite(0, 0, 1, 1)", "ArgumentError: wrong number of arguments (given 4, expected 5)"},
        {"$draw.draw_sprite(0, 0, 1, 1, :sym)", "TypeError: the sprite's path must be a String (given Symbol)"},
        {"$draw.draw_label_5(0, 0, 5, *([nil] * 12))", "TypeError: the label's text must be a String (given Integer)"},
        {"$draw.draw_screenshot(nil, *([0] * 21))", "TypeError: the screenshot's path must be a String (given NilClass)"},
        {"$draw.draw_solid_3(1)", "ArgumentError: wrong number of arguments (given 1, expected 11)"},
        {"$draw.draw_a11ys", "ArgumentError: wrong number of arguments (given 0, expected 1)"},
        {"$draw.draw_sprite_hash(5)", "TypeError: Integer cannot be converted to Hash"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(mruby_run(mrb, c.code), c.answer) << c.code;
    simulation_set_current_stream(nullptr);
    EXPECT_EQ(mruby_run(mrb, "[$draw.draw_solid(1, 2, 3, 4, 0, 0, 0, 255), $draw.set_grid(1.0, 2.0, 3)]"),
              "[nil, nil]");
    scene_record_list list;
    EXPECT_EQ(decode(&list).size(), 0u);
    scene_record_list_free(&list);
}

TEST_F(Outputs, CommandMethodsWriteTheirRecords)
{
    eval(R"RUBY(
      $draw.set_window_scale(0.0 / 0.0)
      $draw.set_window_scale(2, 0, nil)
      $draw.set_window_size(nil, 600.7)
      $draw.set_scale_quality(nil)
      $draw.set_scale_quality(2.0)
      $draw.upload_pixel_array("px", 2, 2, [0x11223344, 7.5])
      $draw.toggle_fullscreen(nil)
      $draw.set_mouse_grab("x")
    )RUBY");
    scene_record_list list;
    std::vector<scene_record> rs = decode(&list);
    ASSERT_EQ(rs.size(), 8u);
    EXPECT_EQ(rs[0].window_scale.scale, 1.0f);   // not a number
    EXPECT_EQ(rs[0].window_scale.aspect_width, 16);
    EXPECT_EQ(rs[1].window_scale.scale, 2.0f);
    EXPECT_EQ(rs[1].window_scale.aspect_width, 16);
    EXPECT_EQ(rs[1].window_scale.aspect_height, 9);
    EXPECT_EQ(rs[2].window_size.width, 1280);
    EXPECT_EQ(rs[2].window_size.height, 600);
    EXPECT_EQ(rs[3].scale_quality.quality, 0);
    EXPECT_EQ(rs[4].scale_quality.quality, 2);
    const scene_pixel_array &px = rs[5].pixel_array;
    EXPECT_EQ(str(px.name), "px");
    ASSERT_EQ(px.width * px.height, 4);
    // R in the lowest byte; a Float and the missing pixels are 0.
    const Uint8 expected[16] = {0x44, 0x33, 0x22, 0x11};
    EXPECT_EQ(SDL_memcmp(px.pixels, expected, sizeof expected), 0);
    EXPECT_EQ(rs[6].fullscreen.on, 0);
    EXPECT_EQ(rs[7].mouse_grab.mode, 0);
    scene_record_list_free(&list);

    const struct {
        const char *code;
        const char *answer;
    } refused[] = {
        {"$draw.set_scale_quality(3)", "ArgumentError: Invalid scale quality. Must be 0, 1, or 2."},
        {"$draw.set_scale_quality(-1)", "ArgumentError: Invalid scale quality. Must be 0, 1, or 2."},
        {"$draw.upload_pixel_array('p', 0, 1, [])",
         "ArgumentError: a pixel array of 0 x 1 pixels cannot be uploaded (1 to 16384 x 16384)"},
        {"$draw.upload_pixel_array('p', 70000, 70000, [])",
         "ArgumentError: a pixel array of 70000 x 70000 pixels cannot be uploaded (1 to 16384 x 16384)"},
        {"$draw.upload_pixel_array('p', 1, 1, 5)", "TypeError: the pixels must be an Array (given Integer)"},
        {"$draw.set_window_title(5)", "TypeError: the window title must be a String (given Integer)"},
        {"$draw.maximize_window(1)", "ArgumentError: wrong number of arguments (given 1, expected 0)"},
    };
    for (const auto &c : refused)
        EXPECT_EQ(mruby_run(mrb, c.code), c.answer) << c.code;
    rs = decode(&list);
    EXPECT_EQ(rs.size(), 8u) << "refused calls write nothing";
    scene_record_list_free(&list);
}
