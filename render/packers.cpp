// Primitive packers: read the fields of one sprite, triangle, label or line
// from a script Hash (one pass over its own keys), an object's attribute
// methods or its instance variables, sanitise them with the script-value
// conversions and write the record through the scene writers. Depends on
// the interpreter's value API, stream/ruby_pack and render/scene.

#include "render/packers.h"

#include <mruby/class.h>
#include <mruby/hash.h>
#include <mruby/string.h>
#include <mruby/variable.h>

#include "stream/ruby_pack.h"

static const char *const pk_names[PK_NAME_COUNT] = {
    "x", "y", "w", "h", "path", "angle", "a", "r", "g", "b",
    "tile_x", "tile_y", "tile_w", "tile_h", "flip_horizontally", "flip_vertically",
    "angle_anchor_x", "angle_anchor_y", "source_x", "source_y", "source_w", "source_h",
    "blendmode_enum", "anchor_x", "anchor_y", "scale_quality_enum",
    "x2", "y2", "x3", "y3", "source_x2", "source_y2", "source_x3", "source_y3",
    "r2", "g2", "b2", "a2", "r3", "g3", "b3", "a3",
    "z", "text", "font", "size_enum", "alignment_enum", "vertical_alignment_enum", "size_px",
};

// Attribute order of each primitive after the leading names every object
// packer fetches first.
static const Uint8 sprite_rest[] = {
    PK_ANGLE, PK_A, PK_R, PK_G, PK_B, PK_TILE_X, PK_TILE_Y, PK_TILE_W, PK_TILE_H,
    PK_FLIP_HORIZONTALLY, PK_FLIP_VERTICALLY, PK_ANGLE_ANCHOR_X, PK_ANGLE_ANCHOR_Y,
    PK_SOURCE_X, PK_SOURCE_Y, PK_SOURCE_W, PK_SOURCE_H, PK_BLENDMODE_ENUM,
    PK_ANCHOR_X, PK_ANCHOR_Y, PK_SCALE_QUALITY_ENUM,
};
static const Uint8 triangle_rest[] = {
    PK_X2, PK_Y2, PK_X3, PK_Y3, PK_R, PK_G, PK_B, PK_A,
    PK_SOURCE_X, PK_SOURCE_Y, PK_SOURCE_X2, PK_SOURCE_Y2, PK_SOURCE_X3, PK_SOURCE_Y3,
    PK_BLENDMODE_ENUM, PK_R2, PK_G2, PK_B2, PK_A2, PK_R3, PK_G3, PK_B3, PK_A3,
};
static const Uint8 label_rest[] = {
    PK_TEXT, PK_FONT, PK_SIZE_ENUM, PK_ALIGNMENT_ENUM, PK_R, PK_G, PK_B, PK_A,
    PK_VERTICAL_ALIGNMENT_ENUM, PK_BLENDMODE_ENUM, PK_SIZE_PX, PK_ANCHOR_X, PK_ANCHOR_Y,
};
static const Uint8 line_names[] = {
    PK_X, PK_Y, PK_W, PK_H, PK_X2, PK_Y2, PK_R, PK_G, PK_B, PK_A, PK_BLENDMODE_ENUM,
};

// Symbol -> name index, open addressing; sized well above PK_NAME_COUNT so
// probes stay short.
#define PK_SLOTS 256
#define PK_EMPTY 0xFF

struct packers_syms {
    mrb_state *mrb;                   // the interpreter the symbols belong to
    mrb_sym name[PK_NAME_COUNT];
    mrb_sym ivar[PK_NAME_COUNT];
    mrb_sym slot_sym[PK_SLOTS];
    Uint8 slot_index[PK_SLOTS];
    mrb_sym draw_override, draw_sprite, draw_label, draw_line, as_hash, to_s, ivar_hash;
};

static packers_syms pk;

static Uint32 pk_slot(mrb_sym sym)
{
    return ((Uint32)sym * 2654435761u) >> 24;
}

void packers_init(mrb_state *mrb)
{
    SDL_memset(pk.slot_index, PK_EMPTY, sizeof pk.slot_index);
    char ivname[64];
    for (int i = 0; i < PK_NAME_COUNT; i++) {
        pk.name[i] = mrb_intern_cstr(mrb, pk_names[i]);
        SDL_snprintf(ivname, sizeof ivname, "@%s", pk_names[i]);
        pk.ivar[i] = mrb_intern_cstr(mrb, ivname);
        Uint32 slot = pk_slot(pk.name[i]);
        while (pk.slot_index[slot] != PK_EMPTY) {
            slot = (slot + 1) & (PK_SLOTS - 1);
        }
        pk.slot_sym[slot] = pk.name[i];
        pk.slot_index[slot] = (Uint8)i;
    }
    pk.draw_override = mrb_intern_lit(mrb, "draw_override");
    pk.draw_sprite = mrb_intern_lit(mrb, "draw_sprite");
    pk.draw_label = mrb_intern_lit(mrb, "draw_label");
    pk.draw_line = mrb_intern_lit(mrb, "draw_line");
    pk.as_hash = mrb_intern_lit(mrb, "as_hash");
    pk.to_s = mrb_intern_lit(mrb, "to_s");
    pk.ivar_hash = mrb_intern_lit(mrb, "@hash");
    pk.mrb = mrb;
}

static int pk_lookup(mrb_sym sym)
{
    Uint32 slot = pk_slot(sym);
    while (pk.slot_index[slot] != PK_EMPTY) {
        if (pk.slot_sym[slot] == sym) {
            return pk.slot_index[slot];
        }
        slot = (slot + 1) & (PK_SLOTS - 1);
    }
    return -1;
}

static void values_clear(mrb_value *v)
{
    for (int i = 0; i < PK_NAME_COUNT; i++) {
        v[i] = mrb_nil_value();
    }
}

static int hash_collect(mrb_state *mrb, mrb_value key, mrb_value val, void *data)
{
    if (mrb_symbol_p(key) && !mrb_nil_p(val)) {
        const int i = pk_lookup(mrb_symbol(key));
        if (i >= 0) {
            ((mrb_value *)data)[i] = val;
        }
    }
    return 0;
}

// Fills v from the hash's own Symbol keys; String keys and unknown names
// are ignored, and a default value or default proc is never consulted.
static void values_from_hash(mrb_state *mrb, mrb_value hash, mrb_value *v)
{
    values_clear(v);
    mrb_hash_foreach(mrb, mrb_hash_ptr(hash), hash_collect, v);
}

static int env_ready(mrb_state *mrb, const packers_env *env)
{
    return env && env->stream && !env->stream->failed && pk.mrb == mrb && !mrb->exc;
}

static int has_override(mrb_state *mrb, mrb_value obj)
{
    return mrb_respond_to(mrb, obj, pk.draw_override);
}

static void call_override(mrb_state *mrb, const packers_env *env, mrb_value obj)
{
    mrb_funcall_argv(mrb, obj, pk.draw_override, 1, &env->draw);
}

// One attribute call; 0 once the call raised (mrb->exc is left set).
static int call_attr(mrb_state *mrb, mrb_value obj, mrb_value *v, int i)
{
    v[i] = mrb_funcall_argv(mrb, obj, pk.name[i], 0, NULL);
    return mrb->exc == NULL;
}

int packers_alpha(mrb_value a, Sint32 *out)
{
    if (mrb_nil_p(a)) {
        *out = 255;
        return 1;
    }
    if (!ruby_value_is_number(a)) {
        return 0;
    }
    *out = ruby_value_to_int(a, 255);
    return *out != 0;
}

static Sint32 int_of(const mrb_value *v, int i, Sint32 def)
{
    return ruby_value_to_int(v[i], def);
}

static float float_of(const mrb_value *v, int i, float def)
{
    return ruby_value_to_float(v[i], def);
}

// Sprite and triangle paths: String or Symbol bytes, else "pixel"; a String
// path with an atlas variant at the current scale writes that variant.
static void image_path(mrb_state *mrb, const packers_env *env, mrb_value path, scene_string *out, Sint32 *percent)
{
    *percent = 100;
    if (!ruby_value_text(mrb, path, &out->bytes, &out->length)) {
        *out = scene_text("pixel");
        return;
    }
    if (env->atlas && mrb_string_p(path)) {
        scene_string variant;
        Sint32 variant_percent;
        if (env->atlas(env->atlas_data, out->bytes, out->length, env->scale_percent, &variant, &variant_percent)) {
            *out = variant;
            *percent = variant_percent;
        }
    }
}

void threadstream_pack_sprite(mrb_state *mrb, const packers_env *env, const mrb_value *v)
{
    scene_sprite sp;
    if (!env_ready(mrb, env) || !packers_alpha(v[PK_A], &sp.a)) {
        return;
    }
    image_path(mrb, env, v[PK_PATH], &sp.path, &sp.scale_percent);
    sp.x = float_of(v, PK_X, 0.0f);
    sp.y = float_of(v, PK_Y, 0.0f);
    sp.w = float_of(v, PK_W, 0.0f);
    sp.h = float_of(v, PK_H, 0.0f);
    sp.angle = float_of(v, PK_ANGLE, 0.0f);
    sp.r = int_of(v, PK_R, 255);
    sp.g = int_of(v, PK_G, 255);
    sp.b = int_of(v, PK_B, 255);
    sp.tile_x = float_of(v, PK_TILE_X, 0.0f);
    sp.tile_y = float_of(v, PK_TILE_Y, 0.0f);
    sp.tile_w = float_of(v, PK_TILE_W, -1.0f);
    sp.tile_h = float_of(v, PK_TILE_H, -1.0f);
    sp.source_x = float_of(v, PK_SOURCE_X, 0.0f);
    sp.source_y = float_of(v, PK_SOURCE_Y, 0.0f);
    sp.source_w = float_of(v, PK_SOURCE_W, -1.0f);
    sp.source_h = float_of(v, PK_SOURCE_H, -1.0f);
    sp.flip_horizontally = mrb_test(v[PK_FLIP_HORIZONTALLY]) ? 1 : 0;
    sp.flip_vertically = mrb_test(v[PK_FLIP_VERTICALLY]) ? 1 : 0;
    sp.angle_anchor_x = float_of(v, PK_ANGLE_ANCHOR_X, 0.5f);
    sp.angle_anchor_y = float_of(v, PK_ANGLE_ANCHOR_Y, 0.5f);
    sp.blend = int_of(v, PK_BLENDMODE_ENUM, 1);
    sp.anchor_x = float_of(v, PK_ANCHOR_X, 0.0f);
    sp.anchor_y = float_of(v, PK_ANCHOR_Y, 0.0f);
    sp.scale_quality = int_of(v, PK_SCALE_QUALITY_ENUM, env->scale_quality);
    scene_write_sprite(env->stream, &sp);
}

void threadstream_pack_triangle(mrb_state *mrb, const packers_env *env, const mrb_value *v)
{
    scene_triangle t;
    if (!env_ready(mrb, env) || !packers_alpha(v[PK_A], &t.a)) {
        return;
    }
    image_path(mrb, env, v[PK_PATH], &t.path, &t.scale_percent);
    t.x = float_of(v, PK_X, 0.0f);
    t.y = float_of(v, PK_Y, 0.0f);
    t.x2 = float_of(v, PK_X2, 0.0f);
    t.y2 = float_of(v, PK_Y2, 0.0f);
    t.x3 = float_of(v, PK_X3, 0.0f);
    t.y3 = float_of(v, PK_Y3, 0.0f);
    t.r = int_of(v, PK_R, 255);
    t.g = int_of(v, PK_G, 255);
    t.b = int_of(v, PK_B, 255);
    t.source_x = float_of(v, PK_SOURCE_X, 0.0f);
    t.source_y = float_of(v, PK_SOURCE_Y, 0.0f);
    t.source_x2 = float_of(v, PK_SOURCE_X2, 0.0f);
    t.source_y2 = float_of(v, PK_SOURCE_Y2, 0.0f);
    t.source_x3 = float_of(v, PK_SOURCE_X3, 0.0f);
    t.source_y3 = float_of(v, PK_SOURCE_Y3, 0.0f);
    t.blend = int_of(v, PK_BLENDMODE_ENUM, 1);
    // Each vertex colour defaults to the previous vertex's.
    t.r2 = int_of(v, PK_R2, t.r);
    t.g2 = int_of(v, PK_G2, t.g);
    t.b2 = int_of(v, PK_B2, t.b);
    t.a2 = int_of(v, PK_A2, t.a);
    t.r3 = int_of(v, PK_R3, t.r2);
    t.g3 = int_of(v, PK_G3, t.g2);
    t.b3 = int_of(v, PK_B3, t.b2);
    t.a3 = int_of(v, PK_A3, t.a2);
    scene_write_triangle(env->stream, &t);
}

void thread_stream_pack_label(mrb_state *mrb, const packers_env *env, const mrb_value *v)
{
    scene_label l;
    if (!env_ready(mrb, env) || !packers_alpha(v[PK_A], &l.a)) {
        return;
    }
    const int ai = mrb_gc_arena_save(mrb);
    char digits[24];
    const mrb_value text = v[PK_TEXT];
    l.text.bytes = NULL;
    l.text.length = 0;
    if (mrb_nil_p(text)) {
        // absent
    } else if (mrb_integer_p(text)) {
        l.text.length = SDL_snprintf(digits, sizeof digits, "%lld", (long long)mrb_integer(text));
        l.text.bytes = digits;
    } else if (!ruby_value_text(mrb, text, &l.text.bytes, &l.text.length)) {
        const mrb_value str = mrb_funcall_argv(mrb, text, pk.to_s, 0, NULL);
        if (mrb->exc) {
            mrb_gc_arena_restore(mrb, ai);
            return;
        }
        if (!mrb_string_p(str) || !ruby_value_text(mrb, str, &l.text.bytes, &l.text.length)) {
            l.text.bytes = NULL;
            l.text.length = 0;
        }
    }
    if (!ruby_value_text(mrb, v[PK_FONT], &l.font.bytes, &l.font.length)) {
        l.font.bytes = NULL;
        l.font.length = 0;
    }
    l.x = float_of(v, PK_X, 0.0f);
    l.y = float_of(v, PK_Y, 0.0f);
    l.size_enum = float_of(v, PK_SIZE_ENUM, 0.0f);
    l.alignment = int_of(v, PK_ALIGNMENT_ENUM, 0);
    l.r = int_of(v, PK_R, 0);
    l.g = int_of(v, PK_G, 0);
    l.b = int_of(v, PK_B, 0);
    l.vertical_alignment = int_of(v, PK_VERTICAL_ALIGNMENT_ENUM, 2);
    l.blend = int_of(v, PK_BLENDMODE_ENUM, 1);
    l.size_px = float_of(v, PK_SIZE_PX, -1.0f);
    l.anchor_x_given = mrb_nil_p(v[PK_ANCHOR_X]) ? 0 : 1;
    l.anchor_x = float_of(v, PK_ANCHOR_X, 0.0f);
    l.anchor_y_given = mrb_nil_p(v[PK_ANCHOR_Y]) ? 0 : 1;
    l.anchor_y = float_of(v, PK_ANCHOR_Y, 0.0f);
    scene_write_label(env->stream, &l);
    mrb_gc_arena_restore(mrb, ai);
}

void threadstream_pack_line(mrb_state *mrb, const packers_env *env, const mrb_value *v)
{
    if (!env_ready(mrb, env)) {
        return;
    }
    scene_line l;
    l.x = float_of(v, PK_X, 0.0f);
    l.y = float_of(v, PK_Y, 0.0f);
    if (mrb_nil_p(v[PK_Y2])) {
        l.x2 = l.x + float_of(v, PK_W, 0.0f);
        l.y2 = l.y + float_of(v, PK_H, 0.0f);
    } else {
        l.x2 = float_of(v, PK_X2, 0.0f);
        l.y2 = float_of(v, PK_Y2, 0.0f);
    }
    l.r = int_of(v, PK_R, 0);
    l.g = int_of(v, PK_G, 0);
    l.b = int_of(v, PK_B, 0);
    l.a = int_of(v, PK_A, 255);
    l.blend = int_of(v, PK_BLENDMODE_ENUM, 1);
    scene_write_line(env->stream, &l);
}

void threadstream_pack_sprite_hash(mrb_state *mrb, const packers_env *env, mrb_value hash)
{
    if (!env_ready(mrb, env) || !mrb_hash_p(hash)) {
        return;
    }
    mrb_value v[PK_NAME_COUNT];
    values_from_hash(mrb, hash, v);
    if (!mrb_nil_p(v[PK_SOURCE_X3])) {
        threadstream_pack_triangle(mrb, env, v);
    } else {
        threadstream_pack_sprite(mrb, env, v);
    }
}

// Calls the attributes of names on obj; 0 once one raised.
static int call_attrs(mrb_state *mrb, mrb_value obj, mrb_value *v, const Uint8 *names, int count)
{
    for (int i = 0; i < count; i++) {
        if (!call_attr(mrb, obj, v, names[i])) {
            return 0;
        }
    }
    return 1;
}

void threadstream_pack_sprite_object(mrb_state *mrb, const packers_env *env, mrb_value obj)
{
    if (!env_ready(mrb, env)) {
        return;
    }
    if (has_override(mrb, obj)) {
        call_override(mrb, env, obj);
        return;
    }
    static const Uint8 lead[] = {PK_W, PK_H, PK_PATH, PK_X, PK_Y};
    const int ai = mrb_gc_arena_save(mrb);
    mrb_value v[PK_NAME_COUNT];
    values_clear(v);
    if (call_attrs(mrb, obj, v, lead, (int)SDL_arraysize(lead))) {
        if (mrb_nil_p(v[PK_W]) && mrb_nil_p(v[PK_H])) {
            if (call_attrs(mrb, obj, v, triangle_rest, (int)SDL_arraysize(triangle_rest))) {
                threadstream_pack_triangle(mrb, env, v);
            }
        } else if (call_attrs(mrb, obj, v, sprite_rest, (int)SDL_arraysize(sprite_rest))) {
            threadstream_pack_sprite(mrb, env, v);
        }
    }
    mrb_gc_arena_restore(mrb, ai);
}

static void ivars_read(mrb_state *mrb, mrb_value obj, mrb_value *v, const Uint8 *names, int count)
{
    for (int i = 0; i < count; i++) {
        v[names[i]] = mrb_iv_get(mrb, obj, pk.ivar[names[i]]);
    }
}

void threadstream_pack_sprite_ivars(mrb_state *mrb, const packers_env *env, mrb_value obj)
{
    if (!env_ready(mrb, env) || mrb_immediate_p(obj)) {
        return;
    }
    static const Uint8 lead[] = {PK_X, PK_Y, PK_PATH, PK_SOURCE_X3};
    mrb_value v[PK_NAME_COUNT];
    values_clear(v);
    ivars_read(mrb, obj, v, lead, (int)SDL_arraysize(lead));
    if (!mrb_nil_p(v[PK_SOURCE_X3])) {
        ivars_read(mrb, obj, v, triangle_rest, (int)SDL_arraysize(triangle_rest));
        threadstream_pack_triangle(mrb, env, v);
    } else {
        static const Uint8 size[] = {PK_W, PK_H};
        ivars_read(mrb, obj, v, size, 2);
        ivars_read(mrb, obj, v, sprite_rest, (int)SDL_arraysize(sprite_rest));
        threadstream_pack_sprite(mrb, env, v);
    }
}

void threadstream_pack_label_hash(mrb_state *mrb, const packers_env *env, mrb_value hash)
{
    if (!env_ready(mrb, env) || !mrb_hash_p(hash)) {
        return;
    }
    mrb_value v[PK_NAME_COUNT];
    values_from_hash(mrb, hash, v);
    thread_stream_pack_label(mrb, env, v);
}

void threadstream_pack_label_object(mrb_state *mrb, const packers_env *env, mrb_value obj)
{
    if (!env_ready(mrb, env)) {
        return;
    }
    if (has_override(mrb, obj)) {
        call_override(mrb, env, obj);
        return;
    }
    static const Uint8 lead[] = {PK_X, PK_Y};
    const int ai = mrb_gc_arena_save(mrb);
    mrb_value v[PK_NAME_COUNT];
    values_clear(v);
    if (call_attrs(mrb, obj, v, lead, 2) &&
        (!mrb_respond_to(mrb, obj, pk.name[PK_Z]) || call_attr(mrb, obj, v, PK_Z)) &&
        call_attrs(mrb, obj, v, label_rest, (int)SDL_arraysize(label_rest))) {
        thread_stream_pack_label(mrb, env, v);
    }
    mrb_gc_arena_restore(mrb, ai);
}

void threadstream_pack_line_hash(mrb_state *mrb, const packers_env *env, mrb_value hash)
{
    if (!env_ready(mrb, env) || !mrb_hash_p(hash)) {
        return;
    }
    mrb_value v[PK_NAME_COUNT];
    values_from_hash(mrb, hash, v);
    threadstream_pack_line(mrb, env, v);
}

void threadstream_pack_line_object(mrb_state *mrb, const packers_env *env, mrb_value obj)
{
    if (!env_ready(mrb, env)) {
        return;
    }
    if (has_override(mrb, obj)) {
        call_override(mrb, env, obj);
        return;
    }
    const int ai = mrb_gc_arena_save(mrb);
    mrb_value v[PK_NAME_COUNT];
    values_clear(v);
    if (call_attrs(mrb, obj, v, line_names, (int)SDL_arraysize(line_names))) {
        threadstream_pack_line(mrb, env, v);
    }
    mrb_gc_arena_restore(mrb, ai);
}

static int is_a(mrb_state *mrb, mrb_value v, RClass *cls)
{
    return cls && mrb_obj_is_kind_of(mrb, v, cls);
}

static void draw_array(mrb_state *mrb, const packers_env *env, mrb_sym method, mrb_value array)
{
    if (!mrb_nil_p(env->runtime)) {
        mrb_funcall_argv(mrb, env->runtime, method, 1, &array);
    }
}

void packers_draw_sprite(mrb_state *mrb, const packers_env *env, mrb_value v)
{
    if (mrb_nil_p(v) || !env_ready(mrb, env)) {
        return;
    }
    if (mrb_hash_p(v)) {
        threadstream_pack_sprite_hash(mrb, env, v);
    } else if (mrb_array_p(v)) {
        draw_array(mrb, env, pk.draw_sprite, v);
    } else if (mrb_immediate_p(v)) {
        threadstream_pack_sprite_object(mrb, env, v);
    } else if (is_a(mrb, v, env->open_entity)) {
        const mrb_value hash = mrb_iv_get(mrb, v, pk.ivar_hash);
        if (mrb_hash_p(hash)) {
            threadstream_pack_sprite_hash(mrb, env, hash);
        }
    } else if (is_a(mrb, v, env->attr_sprite) || is_a(mrb, v, env->strict_entity)) {
        if (has_override(mrb, v)) {
            call_override(mrb, env, v);
        } else {
            threadstream_pack_sprite_ivars(mrb, env, v);
        }
    } else {
        threadstream_pack_sprite_object(mrb, env, v);
    }
}

// Labels and lines share their dispatch: entities by their as_hash.
static void draw_other(mrb_state *mrb, const packers_env *env, mrb_value v, mrb_sym array_method,
                       void (*pack_hash)(mrb_state *, const packers_env *, mrb_value),
                       void (*pack_object)(mrb_state *, const packers_env *, mrb_value))
{
    if (mrb_nil_p(v) || !env_ready(mrb, env)) {
        return;
    }
    if (mrb_hash_p(v)) {
        pack_hash(mrb, env, v);
    } else if (mrb_array_p(v)) {
        draw_array(mrb, env, array_method, v);
    } else if (!mrb_immediate_p(v) && is_a(mrb, v, env->open_entity)) {
        const int ai = mrb_gc_arena_save(mrb);
        const mrb_value hash = mrb_funcall_argv(mrb, v, pk.as_hash, 0, NULL);
        if (!mrb->exc) {
            pack_hash(mrb, env, hash);
        }
        mrb_gc_arena_restore(mrb, ai);
    } else {
        pack_object(mrb, env, v);
    }
}

void packers_draw_label(mrb_state *mrb, const packers_env *env, mrb_value v)
{
    draw_other(mrb, env, v, pk.draw_label, threadstream_pack_label_hash, threadstream_pack_label_object);
}

void packers_draw_line(mrb_state *mrb, const packers_env *env, mrb_value v)
{
    draw_other(mrb, env, v, pk.draw_line, threadstream_pack_line_hash, threadstream_pack_line_object);
}
