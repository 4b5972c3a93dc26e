// The script host: the interpreter, the runtime object and the calls the
// engine makes into the runtime. Until the interpreter lands this is a
// native stand-in with the final entry points: it keeps the tick counts,
// never reboots and never asks to quit, so the loops run for real and the
// process ends on a window close or SIGINT/SIGTERM.
#pragma once

#include <SDL.h>

struct render_context;
struct log_entry;

#define GAME_PLAYERS 4
#define GAME_KEY_SLOTS 30

struct game {
    int key_states[GAME_PLAYERS][GAME_KEY_SLOTS];   // 0 idle, 1 down, 2 held, 3 up
    int window_close_requested;
    int production;
};
extern game the_game;

int script_host_setup(render_context *rc, const char *exe_path, const char *command_line,
                      const char *game_dir, const char *base_dir);

// Engine -> runtime calls, one per runtime method.
void game_tick(void);
void game_quit(void);
void game_quit_bang(void);
void runtime_current_fps(unsigned simulation_fps, unsigned render_fps);
int runtime_reboot_requested(void);
void runtime_reboot(int mouse_x, int mouse_y, int rel_x, int rel_y);
void runtime_controller_key(int player, int slot, int state);
void runtime_report_sticks(const Sint16 axes[GAME_PLAYERS][4]);
void runtime_report_tracked_positions(void);
void runtime_windowevent_size_changed(render_context *rc);
void runtime_new_log_entry(const log_entry *entry);
int runtime_quit_requested(void);
int runtime_tick_count(void);
int runtime_global_tick_count(void);

// One incremental GC step, and the GC arena save/restore around a step.
void script_host_gc_step(void);
int script_host_arena_save(void);
void script_host_arena_restore(int index);

// Walks the runtime's outputs into the scene stream.
struct threadstream;
void outputs_walk(threadstream *scene);
