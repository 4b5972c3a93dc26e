// Game controllers and joysticks: up to four players with SDL game
// controllers, assigned to player slots one to four in order of connection,
// polled every step into the game record's key-state arrays; every other
// joystick (or every joystick, by `controller.config_ui`) is opened raw and
// reported by instance id. Runs on the simulation thread only; talks to the
// runtime through the script host's protected calls.
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
// Closes the player controllers and the raw joysticks (shutdown).
void controller_close_all(void);
// Engine-side handling of one event (device added/removed, raw joystick);
// every other event type is ignored, so it may be called for every event.
void controller_handle_event(game *g, const SDL_Event *e);
