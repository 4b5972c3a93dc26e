// Process entry, start-up order, shutdown, and the two threads' loops.
// Start-up runs on the main thread, which then becomes the render thread;
// the "simulation" thread owns the script host and steps at 60 Hz.
#pragma once

#include <SDL.h>

struct render_context;

// Cross-thread flags and counters.
extern SDL_atomic_t atomic_is_first_simulation_iteration;
extern SDL_atomic_t atomic_last_completed_global_tick_count;
extern SDL_atomic_t sleep_occurred_flag;
extern SDL_atomic_t wake_occurred_flag;
extern SDL_atomic_t atomic_resize_occurred;
extern SDL_atomic_t atomic_a11y_activation_occurred_at;
extern SDL_atomic_t simulation_quit_flag;

// Strings saved by start-up for every build of the script host.
struct engine_saved_strings {
    char *game_dir;      // write dir in production, else the game dir (or base dir)
    char *base_dir;      // write dir in production, else the base dir
    char *exe_path;      // argv[0], "" when argc is 0
    char *command_line;  // all arguments joined, at most 1023 characters
};
extern engine_saved_strings engine_strings;
extern render_context *engine_render_context;

// The ordered start-up; returns only on success.
void engine_startup(int argc, char **argv);
// The ordered teardown, after the simulation thread has ended.
void engine_shutdown(void);
// Reports a failure before the loops run and ends the process with status 1.
[[noreturn]] void startup_failure(const char *fmt, ...) SDL_PRINTF_VARARG_FUNC(1);
void crash_signal_handler(int sig);
// Installs the crash handler (SIGSEGV) with its backtrace machinery warmed up.
void crash_handler_install(void);

// Starts the simulation thread, runs the render loop, shuts down and exits 0.
[[noreturn]] void run_main_loop(void);
// One simulation step; false asks the simulation thread to stop.
bool simulation_iteration(void);
int simulation_thread_main(void *render_ctx);
// The scene stream the current simulation step is filling (none between
// steps); the draw bindings write into it.
struct threadstream;
threadstream *simulation_current_stream(void);
void simulation_set_current_stream(threadstream *s);
