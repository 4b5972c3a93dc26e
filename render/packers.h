// Primitive packers: turn one script value (a Hash with well-known Symbol
// keys, an object with attribute methods, an object that keeps its
// attributes in instance variables, or an Array) into one sprite,
// triangle, label or line record of the scene stream. Simulation thread
// only.
#pragma once

#include <SDL.h>

#include <mruby.h>

#include "render/scene.h"
#include "stream/threadstream.h"

struct RClass;

// The image variant a path stands for at a scale percent. Answers 1 with
// the variant's path and scale percent, 0 when the path has no variants.
typedef int (*packers_atlas_lookup)(void *data, const char *path, Sint32 len, int scale_percent,
                                    scene_string *out_path, Sint32 *out_scale_percent);

// What the packers need from the script host and the current step. Classes
// may be none (values are then never recognised as them); a nil draw or
// runtime object skips draw_override and Array primitives.
struct packers_env {
    threadstream *stream;          // none: every packer does nothing
    RClass *open_entity;           // ORB::OpenEntity
    RClass *strict_entity;         // ORB::StrictEntity
    RClass *attr_sprite;           // the module AttrSprite
    RClass *top_level_outputs;     // ORBTopLevelOutputs (for the outputs walker)
    mrb_value draw;                // the runtime's FFI::Draw object, given to draw_override
    mrb_value runtime;             // answers draw_sprite, draw_label, draw_line for Arrays
    int scale_percent;             // the render context's
    Sint32 scale_quality;          // game_metadata.scale_quality, the sprite default
    packers_atlas_lookup atlas;    // none: no HD variants
    void *atlas_data;
};

// Every name a packer reads, as an index into the value arrays the record
// writers take (the same names serve as Hash keys, attribute methods and,
// with "@" in front, instance variables).
enum packers_name {
    PK_X, PK_Y, PK_W, PK_H, PK_PATH, PK_ANGLE, PK_A, PK_R, PK_G, PK_B,
    PK_TILE_X, PK_TILE_Y, PK_TILE_W, PK_TILE_H, PK_FLIP_HORIZONTALLY, PK_FLIP_VERTICALLY,
    PK_ANGLE_ANCHOR_X, PK_ANGLE_ANCHOR_Y, PK_SOURCE_X, PK_SOURCE_Y, PK_SOURCE_W, PK_SOURCE_H,
    PK_BLENDMODE_ENUM, PK_ANCHOR_X, PK_ANCHOR_Y, PK_SCALE_QUALITY_ENUM,
    PK_X2, PK_Y2, PK_X3, PK_Y3, PK_SOURCE_X2, PK_SOURCE_Y2, PK_SOURCE_X3, PK_SOURCE_Y3,
    PK_R2, PK_G2, PK_B2, PK_A2, PK_R3, PK_G3, PK_B3, PK_A3,
    PK_Z, PK_TEXT, PK_FONT, PK_SIZE_ENUM, PK_ALIGNMENT_ENUM, PK_VERTICAL_ALIGNMENT_ENUM, PK_SIZE_PX,
    PK_NAME_COUNT
};

// Interns every key, attribute, instance-variable and method name; call
// once per interpreter before any packer runs on it.
void packers_init(mrb_state *mrb);

// Dispatchers: nil does nothing; Hashes, entities, attribute objects and
// Arrays go to the matching packer.
void packers_draw_sprite(mrb_state *mrb, const packers_env *env, mrb_value v);
void packers_draw_label(mrb_state *mrb, const packers_env *env, mrb_value v);
void packers_draw_line(mrb_state *mrb, const packers_env *env, mrb_value v);

// Packers: each writes at most one record. A raise inside an attribute
// method or draw_override is left to the caller (mrb->exc, or the
// interpreter's unwinding inside a script call) and nothing is written.
void threadstream_pack_sprite_hash(mrb_state *mrb, const packers_env *env, mrb_value hash);
void threadstream_pack_sprite_object(mrb_state *mrb, const packers_env *env, mrb_value obj);
void threadstream_pack_sprite_ivars(mrb_state *mrb, const packers_env *env, mrb_value obj);
void threadstream_pack_label_hash(mrb_state *mrb, const packers_env *env, mrb_value hash);
void threadstream_pack_label_object(mrb_state *mrb, const packers_env *env, mrb_value obj);
void threadstream_pack_line_hash(mrb_state *mrb, const packers_env *env, mrb_value hash);
void threadstream_pack_line_object(mrb_state *mrb, const packers_env *env, mrb_value obj);

// The alpha rule of every primitive: nil draws with 255 (answers 1); a
// value that is not a number, or a number that truncates to 0, suppresses
// the primitive (answers 0).
int packers_alpha(mrb_value a, Sint32 *out);

// Record writers from already-fetched values: v holds PK_NAME_COUNT values
// indexed by packers_name (nil for what was not given). Alpha that is not a number, or
// that truncates to 0, writes nothing (lines are always written).
void threadstream_pack_sprite(mrb_state *mrb, const packers_env *env, const mrb_value *v);
void threadstream_pack_triangle(mrb_state *mrb, const packers_env *env, const mrb_value *v);
void thread_stream_pack_label(mrb_state *mrb, const packers_env *env, const mrb_value *v);
void threadstream_pack_line(mrb_state *mrb, const packers_env *env, const mrb_value *v);
