// Stand-in script host: no interpreter yet. It counts ticks the way the
// runtime will (tick and global tick both advance once per game tick) so the
// render thread sees completed steps, and it answers "no" to reboot and quit
// requests. Depends on nothing but SDL.
#include "engine/script_host.h"

game the_game;

static int tick_count;
static int global_tick_count;

int script_host_setup(render_context *rc, const char *exe_path, const char *command_line,
                      const char *game_dir, const char *base_dir)
{
    SDL_zero(the_game.key_states);
    the_game.window_close_requested = 0;
    tick_count = 0;
    global_tick_count = 0;
    return 1;
}

void game_tick(void)
{
    tick_count++;
    global_tick_count++;
}

void game_quit(void) {}
void game_quit_bang(void) {}
void runtime_current_fps(unsigned, unsigned) {}
int runtime_reboot_requested(void) { return 0; }
void runtime_reboot(int, int, int, int) {}
void runtime_controller_key(int, int, int) {}
void runtime_report_sticks(const Sint16[GAME_PLAYERS][4]) {}
void runtime_report_tracked_positions(void) {}
void runtime_windowevent_size_changed(render_context *) {}
void runtime_new_log_entry(const log_entry *) {}
int runtime_quit_requested(void) { return 0; }
int runtime_tick_count(void) { return tick_count; }
int runtime_global_tick_count(void) { return global_tick_count; }
void script_host_gc_step(void) {}
int script_host_arena_save(void) { return 0; }
void script_host_arena_restore(int) {}
void outputs_walk(threadstream *) {}
