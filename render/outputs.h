// Outputs walker: once per simulation step, after the game's tick, walks
// the runtime's passes and their primitive collections into the passes
// record of the step's scene stream. Sprites, labels and lines are packed
// natively; solids, borders and everything the packers cannot handle go
// back to the runtime's drawing methods, which write through FFI::Draw.
// Simulation thread only.
#pragma once

#include <SDL.h>

#include <mruby.h>

#include "render/packers.h"

struct render_context;

// What the walker and the FFI::Draw methods work with for one script host.
struct outputs_binding {
    mrb_value runtime;             // the ORBRuntime instance (kept alive by the host)
    mrb_value draw;                // its FFI::Draw object
    RClass *open_entity, *strict_entity, *attr_sprite, *top_level_outputs;
    render_context *rc;            // none: scale 100, canvas 1280x720, grid at the bottom left
};

// Interns every method name the walker calls; once per interpreter.
void outputs_init(mrb_state *mrb);

// Binds the walker and FFI::Draw to a host (copied) and forgets the grid
// change marker; outputs_unbind before the interpreter closes.
void outputs_bind(const outputs_binding *binding);
void outputs_unbind(void);

// Fills env for writing into stream with the bound host and the render
// context's current scale; 0 when there is no stream or no binding.
int outputs_packers_env(mrb_state *mrb, threadstream *stream, packers_env *env);

// Walks the outputs into scene. Runtime callbacks may raise: the exception
// is left to the caller (mrb->exc or an unwinding protected call), and the
// scene is then incomplete.
void outputs_walk(mrb_state *mrb, threadstream *scene);

// 1 while the walker is inside a pass block: primitive records may be
// written only then, top-level records (grid, screenshot, accessibility)
// only outside, or the scene would end at the misplaced record.
int outputs_pass_open(void);

// Closes the pass state after a walk that an exception unwound.
void outputs_walk_abandon(void);

// The grid change rule of set_grid: remembers the current global tick when
// origin_x moves the grid between the bottom-left and the centred origin.
void outputs_note_grid_origin(float origin_x);
