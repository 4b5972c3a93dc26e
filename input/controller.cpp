// Stand-in controller module: no controller is opened, sticks read 0.
#include "input/controller.h"

void controller_poll(game *, Sint16 axes[4][4]) { SDL_memset(axes, 0, sizeof(Sint16) * 16); }
void controller_close_all(void) {}
void controller_handle_event(game *, const SDL_Event *) {}
void controller_init(mrb_state *) {}
