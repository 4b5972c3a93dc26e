// Game controllers and joysticks: player slots one to four, per-step
// polling into the key-state arrays, stick values. A stand-in until the
// controller module lands: no controller is ever opened.
#pragma once

#include <SDL.h>

struct game;
union SDL_Event;
struct mrb_state;

// Interns the runtime method names the controller module calls; once per host.
void controller_init(mrb_state *mrb);

// Polls the controllers of players 1 to 4 into their key states and fills
// the raw stick axes (left x, left y, right x, right y; 0 when absent).
void controller_poll(game *g, Sint16 axes[4][4]);
void controller_close_all(void);
// Engine-side handling of one event (device added/removed, raw joystick).
void controller_handle_event(game *g, const SDL_Event *e);
