// Event processing: turns the raw SDL events of an event stream into script
// event records and the runtime's input calls. Simulation thread only.
#pragma once

#include <mruby.h>

union SDL_Event;
struct render_context;
struct game;

// Interns the record keys, type names and method names; once per host.
void events_init(mrb_state *mrb);

// Builds the script event record of one raw event and answers what the
// runtime's raw_event(record) answered (nil without a host).
mrb_value events_process_raw(render_context *rc, const SDL_Event *e);

// One event of the stream: its record, then the engine's own handling
// (quit request, focus, keys, text, mouse in canvas coordinates, wheel,
// fingers, and joysticks and controllers through the controller module).
void events_process(render_context *rc, const SDL_Event *e, game *g);

// The last mouse position given to the runtime (canvas x, y from the top,
// relative x, y), replayed after a reboot.
void events_last_mouse(int out[4]);
