// Outputs walker: the per-step walk of the runtime's passes into one passes
// record (tag 8 ... pass blocks ... tag 9 each). Collection arrays are read
// element by element with their length re-read on every step, because a
// runtime callback may change them while they are walked. Names are interned
// once per interpreter and every temporary value is dropped from the GC
// arena per element, so a walk of any size keeps the arena flat. Depends on
// the packers, the scene writers, the texture atlas and the render
// context's published values.
#include "render/outputs.h"

#include <mruby/array.h>
#include <mruby/class.h>
#include <mruby/hash.h>

#include "config/metadata.h"
#include "render/render_context.h"
#include "render/scene.h"
#include "render/texture_atlas.h"
#include "stream/ruby_pack.h"

enum outputs_collection {
    OC_SOLIDS, OC_STATIC_SOLIDS, OC_SPRITES, OC_STATIC_SPRITES, OC_PRIMITIVES, OC_STATIC_PRIMITIVES,
    OC_LABELS, OC_STATIC_LABELS, OC_LINES, OC_STATIC_LINES, OC_BORDERS, OC_STATIC_BORDERS,
    OC_DEBUG, OC_STATIC_DEBUG, OC_RESERVED, OC_STATIC_RESERVED, OC_COUNT
};

static const char *const collection_names[OC_COUNT] = {
    "solids", "static_solids", "sprites", "static_sprites", "primitives", "static_primitives",
    "labels", "static_labels", "lines", "static_lines", "borders", "static_borders",
    "debug", "static_debug", "reserved", "static_reserved",
};

static struct {
    mrb_state *mrb;
    mrb_sym collection[OC_COUNT];
    mrb_sym pixel_arrays, passes, take_screenshot, target, render_transient, render_width, render_height;
    mrb_sym background_color, clear_before_render, primitives, draw_solid, draw_border, draw_primitive;
    mrb_sym draw_screenshots, draw_override;
    mrb_sym key_primitive_marker, key_text, key_path, key_x3, key_x2, sprite, label, line;
} os;

static outputs_binding bound;
static int is_bound;
static int pass_open;
static int grid_change_tick = -2;   // never equal to a real global tick count

void outputs_init(mrb_state *mrb)
{
    for (int i = 0; i < OC_COUNT; i++)
        os.collection[i] = mrb_intern_cstr(mrb, collection_names[i]);
    os.pixel_arrays = mrb_intern_lit(mrb, "pixel_arrays");
    os.passes = mrb_intern_lit(mrb, "passes");
    os.take_screenshot = mrb_intern_lit(mrb, "take_screenshot");
    os.target = mrb_intern_lit(mrb, "target");
    os.render_transient = mrb_intern_lit(mrb, "render_transient");
    os.render_width = mrb_intern_lit(mrb, "render_width");
    os.render_height = mrb_intern_lit(mrb, "render_height");
    os.background_color = mrb_intern_lit(mrb, "background_color");
    os.clear_before_render = mrb_intern_lit(mrb, "clear_before_render");
    os.primitives = mrb_intern_lit(mrb, "primitives");
    os.draw_solid = mrb_intern_lit(mrb, "draw_solid");
    os.draw_border = mrb_intern_lit(mrb, "draw_border");
    os.draw_primitive = mrb_intern_lit(mrb, "draw_primitive");
    os.draw_screenshots = mrb_intern_lit(mrb, "draw_screenshots");
    os.draw_override = mrb_intern_lit(mrb, "draw_override");
    os.key_primitive_marker = mrb_intern_lit(mrb, "primitive_marker");
    os.key_text = mrb_intern_lit(mrb, "text");
    os.key_path = mrb_intern_lit(mrb, "path");
    os.key_x3 = mrb_intern_lit(mrb, "x3");
    os.key_x2 = mrb_intern_lit(mrb, "x2");
    os.sprite = mrb_intern_lit(mrb, "sprite");
    os.label = mrb_intern_lit(mrb, "label");
    os.line = mrb_intern_lit(mrb, "line");
    os.mrb = mrb;
}

int outputs_pass_open(void) { return pass_open; }

void outputs_walk_abandon(void) { pass_open = 0; }

void outputs_bind(const outputs_binding *binding)
{
    bound = *binding;
    is_bound = 1;
    grid_change_tick = -2;
}

void outputs_unbind(void)
{
    is_bound = 0;
    pass_open = 0;
    bound.runtime = mrb_nil_value();
    bound.draw = mrb_nil_value();
    grid_change_tick = -2;
}

static int global_tick(void) { return bound.rc ? SDL_AtomicGet(&bound.rc->global_tick_count) : 0; }

static int grid_centred(void) { return bound.rc ? SDL_AtomicGet(&bound.rc->published_grid_centred) : 0; }

void outputs_note_grid_origin(float origin_x)
{
    const int landscape = bound.rc ? SDL_AtomicGet(&bound.rc->published_landscape) : 1;
    const float centre_x = landscape ? 640.0f : 360.0f;
    const int centred = grid_centred();
    if ((!centred && SDL_fabsf(origin_x) > 0.01f) || (centred && SDL_fabsf(centre_x - origin_x) > 0.01f))
        grid_change_tick = global_tick();
}

int outputs_packers_env(mrb_state *mrb, threadstream *stream, packers_env *env)
{
    if (!stream || !is_bound || os.mrb != mrb)
        return 0;
    env->stream = stream;
    env->open_entity = bound.open_entity;
    env->strict_entity = bound.strict_entity;
    env->attr_sprite = bound.attr_sprite;
    env->top_level_outputs = bound.top_level_outputs;
    env->draw = bound.draw;
    env->runtime = bound.runtime;
    env->scale_percent = bound.rc ? SDL_AtomicGet(&bound.rc->published_scale_percent) : 100;
    env->scale_quality = cvar_game_metadata_scale_quality;
    env->atlas = texture_atlas_count() > 0 ? texture_atlas_lookup : nullptr;
    env->atlas_data = nullptr;
    return 1;
}

// ---------------------------------------------------------------------------
// Elements

static mrb_value call0(mrb_state *mrb, mrb_value self, mrb_sym mid)
{
    return mrb_funcall_argv(mrb, self, mid, 0, nullptr);
}

static mrb_value call1(mrb_state *mrb, mrb_value self, mrb_sym mid, mrb_value arg)
{
    return mrb_funcall_argv(mrb, self, mid, 1, &arg);
}

// A Hash's kind: its primitive_marker key, else by the keys it carries.
static mrb_value hash_marker(mrb_state *mrb, mrb_value hash)
{
    mrb_value marker = mrb_hash_get(mrb, hash, mrb_symbol_value(os.key_primitive_marker));
    if (mrb_test(marker))
        return marker;
    if (mrb_hash_key_p(mrb, hash, mrb_symbol_value(os.key_text)))
        return mrb_symbol_value(os.label);
    if (mrb_hash_key_p(mrb, hash, mrb_symbol_value(os.key_path)))
        return mrb_symbol_value(os.sprite);
    if (mrb_hash_key_p(mrb, hash, mrb_symbol_value(os.key_x3)))
        return mrb_nil_value();   // a filled triangle: the runtime draws it as a solid
    if (mrb_hash_key_p(mrb, hash, mrb_symbol_value(os.key_x2)))
        return mrb_symbol_value(os.line);
    return mrb_nil_value();
}

static void walk_generic(mrb_state *mrb, const packers_env *env, mrb_value e)
{
    if (mrb_hash_p(e)) {
        mrb_value marker = hash_marker(mrb, e);
        if (mrb_symbol_p(marker) && mrb_symbol(marker) == os.sprite)
            packers_draw_sprite(mrb, env, e);
        else if (mrb_symbol_p(marker) && mrb_symbol(marker) == os.label)
            packers_draw_label(mrb, env, e);
        else if (mrb_symbol_p(marker) && mrb_symbol(marker) == os.line)
            packers_draw_line(mrb, env, e);
        else
            call1(mrb, bound.runtime, os.draw_primitive, e);
    } else if (mrb_respond_to(mrb, e, os.draw_override)) {
        call1(mrb, e, os.draw_override, bound.draw);
    } else {
        call1(mrb, bound.runtime, os.draw_primitive, e);
    }
}

// Walks one collection of pass; 0 once a callback raised.
static int walk_collection(mrb_state *mrb, const packers_env *env, mrb_value pass, int which)
{
    mrb_value list = call0(mrb, pass, os.collection[which]);
    if (mrb->exc)
        return 0;
    if (!mrb_array_p(list))
        return 1;
    const int ai = mrb_gc_arena_save(mrb);
    for (mrb_int i = 0; i < RARRAY_LEN(list); i++) {
        mrb_value e = RARRAY_PTR(list)[i];
        if (mrb_nil_p(e))
            continue;
        switch (which) {
        case OC_SOLIDS: case OC_STATIC_SOLIDS:
            call1(mrb, bound.runtime, os.draw_solid, e);
            break;
        case OC_SPRITES: case OC_STATIC_SPRITES:
            packers_draw_sprite(mrb, env, e);
            break;
        case OC_PRIMITIVES: case OC_STATIC_PRIMITIVES:
            walk_generic(mrb, env, e);
            break;
        case OC_LABELS: case OC_STATIC_LABELS:
            packers_draw_label(mrb, env, e);
            break;
        case OC_LINES: case OC_STATIC_LINES:
            packers_draw_line(mrb, env, e);
            break;
        case OC_BORDERS: case OC_STATIC_BORDERS:
            call1(mrb, bound.runtime, os.draw_border, e);
            break;
        default:
            call1(mrb, bound.runtime, os.draw_primitive, e);
            break;
        }
        mrb_gc_arena_restore(mrb, ai);
        if (mrb->exc)
            return 0;
    }
    return 1;
}

// ---------------------------------------------------------------------------
// Passes

static Sint32 int_answer(mrb_value v)
{
    return ruby_value_to_int(v, 0);
}

static Sint32 colour_entry(mrb_value colour, int i)
{
    if (!mrb_array_p(colour) || i >= RARRAY_LEN(colour))
        return 0;
    return ruby_value_to_int(RARRAY_PTR(colour)[i], 0);
}

// The pass header, the letterbox background solid and the collections; 0
// once a callback raised.
static int walk_pass(mrb_state *mrb, const packers_env *env, mrb_value pass, int walk_override)
{
    mrb_value rt = bound.runtime;
    mrb_value target = call1(mrb, rt, os.target, pass);
    if (mrb->exc) return 0;
    mrb_value transient = call1(mrb, rt, os.render_transient, pass);
    if (mrb->exc) return 0;
    mrb_value width = call1(mrb, rt, os.render_width, pass);
    if (mrb->exc) return 0;
    mrb_value height = call1(mrb, rt, os.render_height, pass);
    if (mrb->exc) return 0;
    mrb_value colour = call0(mrb, pass, os.background_color);
    if (mrb->exc) return 0;
    mrb_value clear = call0(mrb, pass, os.clear_before_render);
    if (mrb->exc) return 0;

    scene_pass header;
    scene_solid backdrop;
    int letterbox = cvar_game_metadata_hd_letterbox && bound.top_level_outputs &&
                    mrb_obj_is_kind_of(mrb, pass, bound.top_level_outputs) && global_tick() != 0;
    if (letterbox) {
        // The letterbox bars stay black; the game's background fills only
        // the canvas, in the coordinates the grid will have for this scene.
        header.r = header.g = header.b = 0;
        header.a = 255;
        const int cw = bound.rc ? SDL_AtomicGet(&bound.rc->published_canvas_w) : 1280;
        const int ch = bound.rc ? SDL_AtomicGet(&bound.rc->published_canvas_h) : 720;
        int centred = grid_centred();
        if (grid_change_tick == global_tick())
            centred = !centred;
        backdrop.x = centred ? (float)-(cw / 2) : 0.0f;
        backdrop.y = centred ? (float)-(ch / 2) : 0.0f;
        backdrop.w = (float)cw;
        backdrop.h = (float)ch;
        backdrop.r = colour_entry(colour, 0);
        backdrop.g = colour_entry(colour, 1);
        backdrop.b = colour_entry(colour, 2);
        backdrop.a = 255;
        backdrop.blend = 1;
        backdrop.anchor_x = backdrop.anchor_y = 0.0f;
    } else {
        header.r = colour_entry(colour, 0);
        header.g = colour_entry(colour, 1);
        header.b = colour_entry(colour, 2);
        header.a = colour_entry(colour, 3);
    }
    header.target.bytes = nullptr;
    header.target.length = 0;
    if (mrb_string_p(target) && !ruby_value_text(mrb, target, &header.target.bytes, &header.target.length)) {
        header.target.bytes = nullptr;
        header.target.length = 0;
    }
    header.width = int_answer(width);
    header.height = int_answer(height);
    header.transient = mrb_test(transient) ? 1 : 0;
    header.clear = mrb_test(clear) ? 1 : 0;
    scene_write_pass(env->stream, &header);
    if (letterbox)
        scene_write_solid(env->stream, &backdrop);

    int ok = 1;
    pass_open = 1;
    if (walk_override) {
        call1(mrb, rt, os.primitives, pass);
        ok = mrb->exc == nullptr;
    } else {
        for (int c = 0; c < OC_COUNT && ok; c++)
            ok = walk_collection(mrb, env, pass, c);
    }
    pass_open = 0;
    return ok;
}

void outputs_walk(mrb_state *mrb, threadstream *scene)
{
    packers_env env;
    if (!outputs_packers_env(mrb, scene, &env) || mrb_nil_p(bound.runtime))
        return;
    mrb_value rt = bound.runtime;
    const int ai = mrb_gc_arena_save(mrb);
    pass_open = 0;
    call0(mrb, rt, os.pixel_arrays);
    if (mrb->exc) return;
    mrb_value passes = call0(mrb, rt, os.passes);
    if (mrb->exc) return;
    mrb_value capture = call0(mrb, rt, os.take_screenshot);
    if (mrb->exc) return;

    const mrb_int count = mrb_array_p(passes) ? RARRAY_LEN(passes) : 0;
    scene_passes header = {(Sint32)SDL_min(count, (mrb_int)SDL_MAX_SINT32), mrb_test(capture) ? 1 : 0};
    scene_write_passes(scene, &header);
    const int walk_override = mrb_obj_respond_to(mrb, mrb_obj_class(mrb, rt), os.primitives);
    const int pi = mrb_gc_arena_save(mrb);
    // The count is written first, so exactly that many pass blocks follow
    // even when a callback changes the Array meanwhile.
    for (mrb_int i = 0; i < header.count; i++) {
        mrb_value pass = i < RARRAY_LEN(passes) ? RARRAY_PTR(passes)[i] : mrb_nil_value();
        int ok = walk_pass(mrb, &env, pass, walk_override);
        scene_write_pass_end(scene);
        mrb_gc_arena_restore(mrb, pi);
        if (!ok)
            return;
    }
    if (header.capture)
        call0(mrb, rt, os.draw_screenshots);
    mrb_gc_arena_restore(mrb, ai);
}
