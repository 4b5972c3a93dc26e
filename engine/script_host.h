// The script host: builds the interpreter, runs the runtime library's
// bytecode, installs the native bindings, creates the one runtime object and
// makes every call from the engine into it. Every such call is protected: a
// Ruby exception is logged with its backtrace and cleared, never left
// pending and never fatal. Built on the main thread at start-up, used only by
// the simulation thread afterwards, rebuilt from scratch on reboot.
#pragma once

#include <SDL.h>

#include <mruby.h>

struct render_context;
struct log_entry;
struct threadstream;
struct mrb_state;
struct RClass;

#define GAME_PLAYERS 4
#define GAME_KEY_SLOTS 30

struct game {
    int key_states[GAME_PLAYERS][GAME_KEY_SLOTS];   // 0 idle, 1 down, 2 held, 3 up
    int window_close_requested;
    mrb_state *mrb;
    // The runtime object, the draw object, the strings handed to the runtime
    // and the looked-up classes live in the interpreter; the host keeps them
    // alive through the GC's global registry.
    RClass *open_entity_class;
    RClass *strict_entity_class;
    RClass *attr_sprite_module;
    RClass *top_level_outputs_class;
    RClass *runtime_class;
    RClass *orb_module;
    int production;
};
extern game the_game;

// Builds (or rebuilds) the host. 0 with the reason in SDL's error text when
// the interpreter cannot be made or the runtime library is incomplete.
int script_host_setup(render_context *rc, const char *exe_path, const char *command_line,
                      const char *game_dir, const char *base_dir);

// A protected call of the runtime object's method mid: nil when there is no
// runtime or the call raised (the exception is then logged and cleared).
// For the input modules, which intern their own method names.
mrb_value script_host_call(mrb_sym mid, mrb_int argc, const mrb_value *argv);
// The host's interpreter, none before the first setup.
mrb_state *script_host_mrb(void);

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

// The exit status the runtime asked for (a failed test run answers 1).
int script_host_exit_status(void);

// Runs `ClassName.new.run`; a pending exception afterwards is printed and
// ends the process with status 1.
void run_test_class(const char *class_name, mrb_state *mrb);
void run_tests(void);

// Walks the runtime's outputs into the scene stream. An exception raised by
// the runtime's drawing is logged (a repeat of the same message only once)
// and the scene is marked failed, so a half-written scene is never drawn.
void script_host_walk_outputs(threadstream *scene);
