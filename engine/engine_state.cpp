// The process-wide flags and counters shared by the main (render) thread and
// the simulation thread. They live in the core library so the render code
// and its tests link without the loops.
#include "engine/engine.h"

SDL_atomic_t atomic_is_first_simulation_iteration;
SDL_atomic_t atomic_last_completed_global_tick_count;
SDL_atomic_t sleep_occurred_flag;
SDL_atomic_t wake_occurred_flag;
SDL_atomic_t atomic_resize_occurred;
SDL_atomic_t atomic_a11y_activation_occurred_at;
SDL_atomic_t simulation_quit_flag;

static threadstream *current_scene_stream;

threadstream *simulation_current_stream(void) { return current_scene_stream; }

void simulation_set_current_stream(threadstream *s) { current_scene_stream = s; }
