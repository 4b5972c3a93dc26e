// FFI::Draw: the native methods the runtime library calls to draw into the
// current step's scene stream and to command the window. The primitive
// methods take their fields positionally (nil for any field takes its
// default) and share the packers' record writers, so sanitising, the alpha
// rule and the HD atlas choice are the same as for packed Hashes. Window,
// cursor and display commands append one record each for the render
// thread. Depends on mruby, the packers, the scene writers and the outputs
// walker's binding.
#include "render/ffi_draw.h"

#include <mruby.h>
#include <mruby/array.h>
#include <mruby/class.h>
#include <mruby/hash.h>
#include <mruby/string.h>

#include "bindings/ffi.h"
#include "engine/engine.h"
#include "render/outputs.h"
#include "render/packers.h"
#include "render/render_context.h"
#include "render/scene.h"
#include "stream/ruby_pack.h"
#include "stream/threadstream.h"

// The method's arguments, exactly count of them.
static const mrb_value *args_exactly(mrb_state *mrb, mrb_int count)
{
    const mrb_value *argv;
    mrb_int argc;
    mrb_get_args(mrb, "*", &argv, &argc);
    if (argc != count)
        mrb_raisef(mrb, E_ARGUMENT_ERROR, "wrong number of arguments (given %i, expected %i)", argc, count);
    return argv;
}

static void require_string(mrb_state *mrb, mrb_value v, const char *what)
{
    if (!mrb_string_p(v))
        mrb_raisef(mrb, E_TYPE_ERROR, "%s must be a String (given %s)", what, mrb_obj_classname(mrb, v));
}

// Primitives are written only inside the pass the walker has open.
static int current_env(mrb_state *mrb, packers_env *env)
{
    return outputs_pass_open() && outputs_packers_env(mrb, simulation_current_stream(), env);
}

// Top-level records only between passes.
static threadstream *top_level_stream(void)
{
    return outputs_pass_open() ? nullptr : simulation_current_stream();
}

// ---------------------------------------------------------------------------
// Solids and borders: x, y, w, h, r, g, b, a [, blendmode_enum [, anchor_x, anchor_y]]

static mrb_value rect_primitive(mrb_state *mrb, int count, int border)
{
    const mrb_value *a = args_exactly(mrb, count);
    packers_env env;
    scene_solid s;
    if (!current_env(mrb, &env) || !packers_alpha(a[7], &s.a))
        return mrb_nil_value();
    s.x = ruby_value_to_float(a[0], 0.0f);
    s.y = ruby_value_to_float(a[1], 0.0f);
    s.w = ruby_value_to_float(a[2], 0.0f);
    s.h = ruby_value_to_float(a[3], 0.0f);
    s.r = ruby_value_to_int(a[4], 0);
    s.g = ruby_value_to_int(a[5], 0);
    s.b = ruby_value_to_int(a[6], 0);
    s.blend = count > 8 ? ruby_value_to_int(a[8], 1) : 1;
    s.anchor_x = count > 9 ? ruby_value_to_float(a[9], 0.0f) : 0.0f;
    s.anchor_y = count > 9 ? ruby_value_to_float(a[10], 0.0f) : 0.0f;
    if (border)
        scene_write_border(env.stream, &s);
    else
        scene_write_solid(env.stream, &s);
    return mrb_nil_value();
}

static mrb_value draw_solid(mrb_state *mrb, mrb_value) { return rect_primitive(mrb, 8, 0); }
static mrb_value draw_solid_2(mrb_state *mrb, mrb_value) { return rect_primitive(mrb, 9, 0); }
static mrb_value draw_solid_3(mrb_state *mrb, mrb_value) { return rect_primitive(mrb, 11, 0); }
static mrb_value draw_border(mrb_state *mrb, mrb_value) { return rect_primitive(mrb, 8, 1); }
static mrb_value draw_border_2(mrb_state *mrb, mrb_value) { return rect_primitive(mrb, 9, 1); }
static mrb_value draw_border_3(mrb_state *mrb, mrb_value) { return rect_primitive(mrb, 11, 1); }

// ---------------------------------------------------------------------------
// Sprites: positional fields in this order, each method taking a prefix.

static const Uint8 sprite_fields[] = {
    PK_X, PK_Y, PK_W, PK_H, PK_PATH, PK_ANGLE, PK_A, PK_R, PK_G, PK_B,
    PK_TILE_X, PK_TILE_Y, PK_TILE_W, PK_TILE_H, PK_FLIP_HORIZONTALLY, PK_FLIP_VERTICALLY,
    PK_ANGLE_ANCHOR_X, PK_ANGLE_ANCHOR_Y, PK_SOURCE_X, PK_SOURCE_Y, PK_SOURCE_W, PK_SOURCE_H,
    PK_BLENDMODE_ENUM, PK_ANCHOR_X, PK_ANCHOR_Y, PK_SCALE_QUALITY_ENUM,
};

static void fields_from_args(mrb_value *v, const mrb_value *a, const Uint8 *fields, int count)
{
    for (int i = 0; i < PK_NAME_COUNT; i++)
        v[i] = mrb_nil_value();
    for (int i = 0; i < count; i++)
        v[fields[i]] = a[i];
}

static mrb_value sprite_primitive(mrb_state *mrb, int count)
{
    const mrb_value *a = args_exactly(mrb, count);
    require_string(mrb, a[4], "the sprite's path");
    packers_env env;
    if (!current_env(mrb, &env))
        return mrb_nil_value();
    mrb_value v[PK_NAME_COUNT];
    fields_from_args(v, a, sprite_fields, count);
    threadstream_pack_sprite(mrb, &env, v);
    return mrb_nil_value();
}

static mrb_value draw_sprite(mrb_state *mrb, mrb_value) { return sprite_primitive(mrb, 5); }
static mrb_value draw_sprite_2(mrb_state *mrb, mrb_value) { return sprite_primitive(mrb, 7); }
static mrb_value draw_sprite_3(mrb_state *mrb, mrb_value) { return sprite_primitive(mrb, 22); }
static mrb_value draw_sprite_4(mrb_state *mrb, mrb_value) { return sprite_primitive(mrb, 23); }
static mrb_value draw_sprite_5(mrb_state *mrb, mrb_value) { return sprite_primitive(mrb, 25); }
static mrb_value draw_sprite_6(mrb_state *mrb, mrb_value) { return sprite_primitive(mrb, 26); }

static mrb_value draw_sprite_hash(mrb_state *mrb, mrb_value)
{
    mrb_value hash;
    mrb_get_args(mrb, "H", &hash);
    packers_env env;
    if (current_env(mrb, &env))
        threadstream_pack_sprite_hash(mrb, &env, hash);
    return mrb_nil_value();
}

// ---------------------------------------------------------------------------
// Triangles: x, y, x2, y2, x3, y3, r, g, b, a, path, six source values,
// blendmode_enum [, r2, g2, b2, a2, r3, g3, b3, a3]

static const Uint8 triangle_fields[] = {
    PK_X, PK_Y, PK_X2, PK_Y2, PK_X3, PK_Y3, PK_R, PK_G, PK_B, PK_A, PK_PATH,
    PK_SOURCE_X, PK_SOURCE_Y, PK_SOURCE_X2, PK_SOURCE_Y2, PK_SOURCE_X3, PK_SOURCE_Y3, PK_BLENDMODE_ENUM,
    PK_R2, PK_G2, PK_B2, PK_A2, PK_R3, PK_G3, PK_B3, PK_A3,
};

static mrb_value triangle_primitive(mrb_state *mrb, int count)
{
    const mrb_value *a = args_exactly(mrb, count);
    packers_env env;
    if (!current_env(mrb, &env))
        return mrb_nil_value();
    mrb_value v[PK_NAME_COUNT];
    fields_from_args(v, a, triangle_fields, count);
    threadstream_pack_triangle(mrb, &env, v);
    return mrb_nil_value();
}

static mrb_value draw_triangle(mrb_state *mrb, mrb_value) { return triangle_primitive(mrb, 18); }
static mrb_value draw_triangle_2(mrb_state *mrb, mrb_value) { return triangle_primitive(mrb, 26); }

// ---------------------------------------------------------------------------
// Labels: x, y, text, size_enum, alignment_enum, r, g, b, a, font
// [, vertical_alignment_enum [, blendmode_enum [, size_px [, anchor_x, anchor_y]]]]

static const Uint8 label_fields[] = {
    PK_X, PK_Y, PK_TEXT, PK_SIZE_ENUM, PK_ALIGNMENT_ENUM, PK_R, PK_G, PK_B, PK_A, PK_FONT,
    PK_VERTICAL_ALIGNMENT_ENUM, PK_BLENDMODE_ENUM, PK_SIZE_PX, PK_ANCHOR_X, PK_ANCHOR_Y,
};

static mrb_value label_primitive(mrb_state *mrb, int count)
{
    const mrb_value *a = args_exactly(mrb, count);
    require_string(mrb, a[2], "the label's text");
    packers_env env;
    if (!current_env(mrb, &env))
        return mrb_nil_value();
    mrb_value v[PK_NAME_COUNT];
    fields_from_args(v, a, label_fields, count);
    thread_stream_pack_label(mrb, &env, v);
    return mrb_nil_value();
}

static mrb_value draw_label(mrb_state *mrb, mrb_value) { return label_primitive(mrb, 10); }
static mrb_value draw_label_2(mrb_state *mrb, mrb_value) { return label_primitive(mrb, 11); }
static mrb_value draw_label_3(mrb_state *mrb, mrb_value) { return label_primitive(mrb, 12); }
static mrb_value draw_label_4(mrb_state *mrb, mrb_value) { return label_primitive(mrb, 13); }
static mrb_value draw_label_5(mrb_state *mrb, mrb_value) { return label_primitive(mrb, 15); }

// ---------------------------------------------------------------------------
// Lines: x, y, x2, y2, r, g, b, a [, blendmode_enum]

static const Uint8 line_fields[] = {PK_X, PK_Y, PK_X2, PK_Y2, PK_R, PK_G, PK_B, PK_A, PK_BLENDMODE_ENUM};

static mrb_value line_primitive(mrb_state *mrb, int count)
{
    const mrb_value *a = args_exactly(mrb, count);
    packers_env env;
    Sint32 alpha;
    if (!current_env(mrb, &env) || !packers_alpha(a[7], &alpha))
        return mrb_nil_value();
    mrb_value v[PK_NAME_COUNT];
    fields_from_args(v, a, line_fields, count);
    // The end point always comes from the arguments: a nil end is 0, never
    // an end derived from w and h.
    if (mrb_nil_p(v[PK_X2]))
        v[PK_X2] = mrb_fixnum_value(0);
    if (mrb_nil_p(v[PK_Y2]))
        v[PK_Y2] = mrb_fixnum_value(0);
    threadstream_pack_line(mrb, &env, v);
    return mrb_nil_value();
}

static mrb_value draw_line(mrb_state *mrb, mrb_value) { return line_primitive(mrb, 8); }
static mrb_value draw_line_2(mrb_state *mrb, mrb_value) { return line_primitive(mrb, 9); }

// ---------------------------------------------------------------------------
// Screenshots, grid, accessibility

// path, x, y, w, h, tolerance, alpha, key r, g, b, then twelve values that
// are accepted and not used.
static mrb_value draw_screenshot(mrb_state *mrb, mrb_value)
{
    const mrb_value *a = args_exactly(mrb, 22);
    require_string(mrb, a[0], "the screenshot's path");
    threadstream *s = top_level_stream();
    scene_screenshot shot;
    if (!s || !ruby_value_text(mrb, a[0], &shot.path.bytes, &shot.path.length))
        return mrb_nil_value();
    shot.x = ruby_value_to_float(a[1], 0.0f);
    shot.y = ruby_value_to_float(a[2], 0.0f);
    shot.w = ruby_value_to_float(a[3], 0.0f);
    shot.h = ruby_value_to_float(a[4], 0.0f);
    shot.tolerance = ruby_value_to_int(a[5], 0);
    shot.alpha = ruby_value_to_int(a[6], 255);
    shot.key_r = ruby_value_to_int(a[7], 0);
    shot.key_g = ruby_value_to_int(a[8], 0);
    shot.key_b = ruby_value_to_int(a[9], 0);
    scene_write_screenshot(s, &shot);
    return mrb_nil_value();
}

// set_grid(origin x, origin y, n): the grid record of this step's scene;
// a move between the bottom-left and the centred origin is remembered so
// the walker places this step's letterbox background where the grid goes.
static mrb_value draw_set_grid(mrb_state *mrb, mrb_value)
{
    mrb_value ox, oy, n;
    mrb_get_args(mrb, "ooo", &ox, &oy, &n);
    scene_grid grid = {ruby_value_to_float(ox, 0.0f), ruby_value_to_float(oy, 0.0f), ruby_value_to_int(n, 0)};
    threadstream *s = top_level_stream();
    if (!s)
        return mrb_nil_value();
    outputs_note_grid_origin(grid.origin_x);
    scene_write_grid(s, &grid);
    return mrb_nil_value();
}

static void a11y_string(mrb_state *mrb, mrb_value node, const char *key, scene_string *out)
{
    mrb_value v = mrb_hash_get(mrb, node, mrb_symbol_value(mrb_intern_cstr(mrb, key)));
    out->bytes = nullptr;
    out->length = 0;
    if (!ruby_value_text(mrb, v, &out->bytes, &out->length)) {
        out->bytes = nullptr;
        out->length = 0;
    }
}

static float a11y_float(mrb_state *mrb, mrb_value node, const char *key)
{
    return ruby_value_to_float(mrb_hash_get(mrb, node, mrb_symbol_value(mrb_intern_cstr(mrb, key))), 0.0f);
}

// draw_a11ys(nodes): one record with every Hash of the Array; other
// elements are skipped so the count always matches the nodes written.
static mrb_value draw_a11ys(mrb_state *mrb, mrb_value)
{
    mrb_value nodes;
    mrb_get_args(mrb, "A", &nodes);
    threadstream *s = top_level_stream();
    if (!s)
        return mrb_nil_value();
    Sint32 count = 0;
    for (mrb_int i = 0; i < RARRAY_LEN(nodes) && count < SDL_MAX_SINT32; i++)
        if (mrb_hash_p(RARRAY_PTR(nodes)[i]))
            count++;
    scene_a11y_nodes header = {count, nullptr};
    if (!scene_write_a11y_nodes(s, &header))
        return mrb_nil_value();
    Sint32 written = 0;
    for (mrb_int i = 0; i < RARRAY_LEN(nodes) && written < count; i++) {
        mrb_value node = RARRAY_PTR(nodes)[i];
        if (!mrb_hash_p(node))
            continue;
        scene_a11y_node n;
        a11y_string(mrb, node, "a11y_id", &n.a11y_id);
        a11y_string(mrb, node, "a11y_text", &n.a11y_text);
        a11y_string(mrb, node, "a11y_trait", &n.a11y_trait);
        a11y_string(mrb, node, "a11y_notification_target", &n.a11y_notification_target);
        n.x = a11y_float(mrb, node, "x");
        n.y = a11y_float(mrb, node, "y");
        n.w = a11y_float(mrb, node, "w");
        n.h = a11y_float(mrb, node, "h");
        if (!scene_write_a11y_node(s, &n))
            s->failed = 1;   // a short record would misread everything after it
        written++;
    }
    return mrb_nil_value();
}


// ---------------------------------------------------------------------------
// Window, cursor and display commands: one top-level record each, executed
// by the render thread when it reads the scene.

static void optional_string(mrb_state *mrb, mrb_value v, const char *what, scene_string *out)
{
    out->bytes = nullptr;
    out->length = 0;
    if (mrb_nil_p(v))
        return;
    require_string(mrb, v, what);
    if (!ruby_value_text(mrb, v, &out->bytes, &out->length)) {
        out->bytes = nullptr;
        out->length = 0;
    }
}

// Integer or Float truncated; anything else 0.
static Sint32 number_or_zero(mrb_value v) { return ruby_value_to_int(v, 0); }

static mrb_value draw_unload_sprite(mrb_state *mrb, mrb_value)
{
    const mrb_value *a = args_exactly(mrb, 1);
    scene_unload_sprite c;
    optional_string(mrb, a[0], "the sprite's path", &c.path);
    if (threadstream *s = top_level_stream())
        scene_write_unload_sprite(s, &c);
    return mrb_nil_value();
}

static mrb_value draw_toggle_cursor(mrb_state *mrb, mrb_value)
{
    const mrb_value *a = args_exactly(mrb, 1);
    scene_cursor_visibility c = {mrb_test(a[0]) ? 1 : 0};
    if (threadstream *s = top_level_stream())
        scene_write_cursor_visibility(s, &c);
    return mrb_nil_value();
}

static mrb_value draw_toggle_fullscreen(mrb_state *mrb, mrb_value)
{
    const mrb_value *a = args_exactly(mrb, 1);
    scene_fullscreen c = {mrb_test(a[0]) ? 1 : 0};
    if (threadstream *s = top_level_stream())
        scene_write_fullscreen(s, &c);
    return mrb_nil_value();
}

// set_window_scale(scale, aspect width = 16, aspect height = 9): a scale
// that is not a finite number is 1.0; an aspect unit that is not positive
// takes its default.
static mrb_value draw_set_window_scale(mrb_state *mrb, mrb_value)
{
    mrb_value scale, aw = mrb_nil_value(), ah = mrb_nil_value();
    mrb_get_args(mrb, "o|oo", &scale, &aw, &ah);
    double value = mrb_float_p(scale) ? mrb_float(scale) : mrb_integer_p(scale) ? (double)mrb_integer(scale) : 1.0;
    if (!(value == value) || value > 1e9 || value < -1e9)
        value = 1.0;
    scene_window_scale c = {(float)value, number_or_zero(aw), number_or_zero(ah)};
    if (c.aspect_width <= 0)
        c.aspect_width = 16;
    if (c.aspect_height <= 0)
        c.aspect_height = 9;
    if (threadstream *s = top_level_stream())
        scene_write_window_scale(s, &c);
    return mrb_nil_value();
}

// upload_pixel_array(name, width, height, pixels): every pixel an Integer
// whose low 32 bits are the pixel (R in the low byte); a short Array is
// padded with 0 and anything but an Integer counts as 0.
static mrb_value draw_upload_pixel_array(mrb_state *mrb, mrb_value)
{
    static Uint8 *buffer;
    static size_t buffer_size;
    const mrb_value *a = args_exactly(mrb, 4);
    scene_pixel_array c;
    optional_string(mrb, a[0], "the pixel array's name", &c.name);
    if (!mrb_array_p(a[3]))
        mrb_raisef(mrb, E_TYPE_ERROR, "the pixels must be an Array (given %s)", mrb_obj_classname(mrb, a[3]));
    const mrb_int w = mrb_integer_p(a[1]) ? mrb_integer(a[1]) : (mrb_int)number_or_zero(a[1]);
    const mrb_int h = mrb_integer_p(a[2]) ? mrb_integer(a[2]) : (mrb_int)number_or_zero(a[2]);
    render_context *rc = ffi_render_context();
    const mrb_int max_w = rc && rc->max_texture_w > 0 ? rc->max_texture_w : 16384;
    const mrb_int max_h = rc && rc->max_texture_h > 0 ? rc->max_texture_h : 16384;
    if (w <= 0 || h <= 0 || w > max_w || h > max_h || (Uint64)w * (Uint64)h * 4 > SCENE_PIXELS_MAX_BYTES)
        mrb_raisef(mrb, E_ARGUMENT_ERROR, "a pixel array of %i x %i pixels cannot be uploaded (1 to %i x %i)", w, h,
                   max_w, max_h);
    threadstream *s = top_level_stream();
    if (!s)
        return mrb_nil_value();
    const size_t count = (size_t)w * (size_t)h;
    if (buffer_size < count * 4) {
        Uint8 *grown = (Uint8 *)SDL_realloc(buffer, count * 4);
        if (!grown) {
            SDL_OutOfMemory();
            s->failed = 1;
            return mrb_nil_value();
        }
        buffer = grown;
        buffer_size = count * 4;
    }
    Uint32 *px = (Uint32 *)buffer;
    const mrb_value pixels = a[3];
    for (size_t i = 0; i < count; i++) {
        mrb_value v = (mrb_int)i < RARRAY_LEN(pixels) ? RARRAY_PTR(pixels)[i] : mrb_fixnum_value(0);
        Uint32 value = mrb_integer_p(v) ? (Uint32)(Uint64)mrb_integer(v) : 0;
        px[i] = SDL_SwapLE32(value);
    }
    c.width = (Sint32)w;
    c.height = (Sint32)h;
    c.pixels = buffer;
    scene_write_pixel_array(s, &c);
    return mrb_nil_value();
}

static mrb_value draw_openurl(mrb_state *mrb, mrb_value)
{
    const mrb_value *a = args_exactly(mrb, 1);
    scene_open_url c;
    optional_string(mrb, a[0], "the URL", &c.url);
    if (threadstream *s = top_level_stream())
        scene_write_open_url(s, &c);
    return mrb_nil_value();
}

static mrb_value draw_set_cursor(mrb_state *mrb, mrb_value)
{
    const mrb_value *a = args_exactly(mrb, 3);
    scene_cursor_image c;
    optional_string(mrb, a[0], "the cursor's path", &c.path);
    c.hot_x = number_or_zero(a[1]);
    c.hot_y = number_or_zero(a[2]);
    if (threadstream *s = top_level_stream())
        scene_write_cursor_image(s, &c);
    return mrb_nil_value();
}

static mrb_value draw_set_system_cursor(mrb_state *mrb, mrb_value)
{
    const mrb_value *a = args_exactly(mrb, 1);
    scene_system_cursor c;
    optional_string(mrb, a[0], "the cursor's name", &c.name);
    if (threadstream *s = top_level_stream())
        scene_write_system_cursor(s, &c);
    return mrb_nil_value();
}

static mrb_value draw_set_mouse_grab(mrb_state *mrb, mrb_value)
{
    const mrb_value *a = args_exactly(mrb, 1);
    scene_mouse_grab c = {number_or_zero(a[0])};
    if (threadstream *s = top_level_stream())
        scene_write_mouse_grab(s, &c);
    return mrb_nil_value();
}

static mrb_value draw_set_window_title(mrb_state *mrb, mrb_value)
{
    const mrb_value *a = args_exactly(mrb, 1);
    scene_window_title c;
    optional_string(mrb, a[0], "the window title", &c.title);
    if (threadstream *s = top_level_stream())
        scene_write_window_title(s, &c);
    return mrb_nil_value();
}

static mrb_value draw_set_scale_quality(mrb_state *mrb, mrb_value)
{
    const mrb_value *a = args_exactly(mrb, 1);
    scene_scale_quality c = {0};
    if (ruby_value_is_number(a[0])) {
        const double q = mrb_float_p(a[0]) ? mrb_float(a[0]) : (double)mrb_integer(a[0]);
        if (!(q >= 0.0 && q < 3.0))
            mrb_raise(mrb, E_ARGUMENT_ERROR, "Invalid scale quality. Must be 0, 1, or 2.");
        c.quality = (Sint32)q;
    }
    if (threadstream *s = top_level_stream())
        scene_write_scale_quality(s, &c);
    return mrb_nil_value();
}

static mrb_value draw_set_hd_max_scale(mrb_state *mrb, mrb_value)
{
    const mrb_value *a = args_exactly(mrb, 1);
    scene_hd_max_scale c = {number_or_zero(a[0])};
    if (threadstream *s = top_level_stream())
        scene_write_hd_max_scale(s, &c);
    return mrb_nil_value();
}

static mrb_value draw_set_window_size(mrb_state *mrb, mrb_value)
{
    const mrb_value *a = args_exactly(mrb, 2);
    scene_window_size c = {number_or_zero(a[0]), number_or_zero(a[1])};
    if (c.width == 0)
        c.width = 1280;
    if (c.height == 0)
        c.height = 720;
    if (threadstream *s = top_level_stream())
        scene_write_window_size(s, &c);
    return mrb_nil_value();
}

static mrb_value draw_set_window_position(mrb_state *mrb, mrb_value)
{
    const mrb_value *a = args_exactly(mrb, 2);
    scene_window_position c = {number_or_zero(a[0]), number_or_zero(a[1])};
    if (threadstream *s = top_level_stream())
        scene_write_window_position(s, &c);
    return mrb_nil_value();
}

// The commands without fields.
static mrb_value tag_only(mrb_state *mrb, int (*writer)(threadstream *))
{
    args_exactly(mrb, 0);
    if (threadstream *s = top_level_stream())
        writer(s);
    return mrb_nil_value();
}

static mrb_value draw_move_window_to_next_display(mrb_state *mrb, mrb_value)
{
    return tag_only(mrb, scene_write_move_to_next_display);
}
static mrb_value draw_maximize_window(mrb_state *mrb, mrb_value) { return tag_only(mrb, scene_write_maximize_window); }
static mrb_value draw_toggle_orientation(mrb_state *mrb, mrb_value)
{
    return tag_only(mrb, scene_write_toggle_orientation);
}
static mrb_value draw_toggle_hd_letterbox(mrb_state *mrb, mrb_value)
{
    return tag_only(mrb, scene_write_toggle_hd_letterbox);
}
static mrb_value draw_toggle_orientation_no_resize(mrb_state *mrb, mrb_value)
{
    return tag_only(mrb, scene_write_toggle_orientation_no_resize);
}
static mrb_value draw_raise_window(mrb_state *mrb, mrb_value) { return tag_only(mrb, scene_write_raise_window); }

// The renderer resets a game can provoke to test its handling of them; the
// render thread reports them in the next event stream.
static mrb_value push_event(mrb_state *mrb, Uint32 type)
{
    args_exactly(mrb, 0);
    if (!simulation_current_stream())
        return mrb_nil_value();
    SDL_Event e;
    SDL_zero(e);
    e.type = type;
    SDL_PushEvent(&e);
    return mrb_nil_value();
}
static mrb_value draw_simulate_render_targets_reset(mrb_state *mrb, mrb_value)
{
    return push_event(mrb, SDL_RENDER_TARGETS_RESET);
}
static mrb_value draw_simulate_render_device_reset(mrb_state *mrb, mrb_value)
{
    return push_event(mrb, SDL_RENDER_DEVICE_RESET);
}

// ---------------------------------------------------------------------------
// Registration, in the runtime's definition order

struct draw_method {
    const char *name;
    mrb_func_t func;
    mrb_aspec aspec;
};

static const draw_method draw_methods[] = {
    {"draw_triangle", draw_triangle, MRB_ARGS_ANY()},
    {"draw_triangle_2", draw_triangle_2, MRB_ARGS_ANY()},
    {"draw_solid", draw_solid, MRB_ARGS_ANY()},
    {"draw_solid_2", draw_solid_2, MRB_ARGS_ANY()},
    {"draw_solid_3", draw_solid_3, MRB_ARGS_ANY()},
    {"draw_sprite", draw_sprite, MRB_ARGS_ANY()},
    {"draw_sprite_2", draw_sprite_2, MRB_ARGS_ANY()},
    {"draw_sprite_3", draw_sprite_3, MRB_ARGS_ANY()},
    {"draw_sprite_4", draw_sprite_4, MRB_ARGS_ANY()},
    {"draw_sprite_5", draw_sprite_5, MRB_ARGS_ANY()},
    {"draw_sprite_6", draw_sprite_6, MRB_ARGS_ANY()},
    {"draw_label", draw_label, MRB_ARGS_ANY()},
    {"draw_label_2", draw_label_2, MRB_ARGS_ANY()},
    {"draw_label_3", draw_label_3, MRB_ARGS_ANY()},
    {"draw_label_4", draw_label_4, MRB_ARGS_ANY()},
    {"draw_label_5", draw_label_5, MRB_ARGS_ANY()},
    {"draw_line", draw_line, MRB_ARGS_ANY()},
    {"draw_line_2", draw_line_2, MRB_ARGS_ANY()},
    {"draw_border", draw_border, MRB_ARGS_ANY()},
    {"draw_border_2", draw_border_2, MRB_ARGS_ANY()},
    {"draw_border_3", draw_border_3, MRB_ARGS_ANY()},
    {"draw_screenshot", draw_screenshot, MRB_ARGS_ANY()},
    {"set_grid", draw_set_grid, MRB_ARGS_REQ(3)},
    {"unload_sprite", draw_unload_sprite, MRB_ARGS_ANY()},
    {"set_cursor", draw_set_cursor, MRB_ARGS_ANY()},
    {"set_system_cursor", draw_set_system_cursor, MRB_ARGS_ANY()},
    {"toggle_cursor", draw_toggle_cursor, MRB_ARGS_ANY()},
    {"raise_window", draw_raise_window, MRB_ARGS_ANY()},
    {"set_mouse_grab", draw_set_mouse_grab, MRB_ARGS_ANY()},
    {"toggle_fullscreen", draw_toggle_fullscreen, MRB_ARGS_ANY()},
    {"set_window_scale", draw_set_window_scale, MRB_ARGS_ANY()},
    {"set_window_size", draw_set_window_size, MRB_ARGS_ANY()},
    {"set_window_position", draw_set_window_position, MRB_ARGS_ANY()},
    {"set_window_title", draw_set_window_title, MRB_ARGS_ANY()},
    {"move_window_to_next_display", draw_move_window_to_next_display, MRB_ARGS_ANY()},
    {"maximize_window", draw_maximize_window, MRB_ARGS_ANY()},
    {"toggle_orientation", draw_toggle_orientation, MRB_ARGS_ANY()},
    {"toggle_orientation_no_resize", draw_toggle_orientation_no_resize, MRB_ARGS_ANY()},
    {"set_scale_quality", draw_set_scale_quality, MRB_ARGS_ANY()},
    {"set_hd_max_scale", draw_set_hd_max_scale, MRB_ARGS_ANY()},
    {"toggle_hd_letterbox", draw_toggle_hd_letterbox, MRB_ARGS_ANY()},
    {"upload_pixel_array", draw_upload_pixel_array, MRB_ARGS_ANY()},
    {"openurl", draw_openurl, MRB_ARGS_ANY()},
    {"simulate_render_targets_reset", draw_simulate_render_targets_reset, MRB_ARGS_ANY()},
    {"simulate_render_device_reset", draw_simulate_render_device_reset, MRB_ARGS_ANY()},
    {"draw_a11ys", draw_a11ys, MRB_ARGS_REQ(1)},
    // Used by the runtime's own drawing of Hash sprites.
    {"draw_sprite_hash", draw_sprite_hash, MRB_ARGS_REQ(1)},
};

void ffi_draw_define(mrb_state *mrb)
{
    RClass *ffi = mrb_module_get(mrb, "FFI");
    RClass *draw = mrb_define_class_under(mrb, ffi, "Draw", mrb->object_class);
    for (const draw_method &m : draw_methods)
        mrb_define_method(mrb, draw, m.name, m.func, m.aspec);
}
