// Script host: the mruby interpreter, the runtime library's bytecode image
// (main_ruby), the native bindings and the one runtime object. The engine
// talks to the game only through methods of that object, by symbols interned
// once per host; every call is protected so a Ruby exception is logged and
// cleared instead of being left pending or aborting the process. Depends on
// mruby, the bindings, the draw bindings, cvars, logging and file utilities.
#include "engine/script_host.h"

#include <mruby.h>
#include <mruby/array.h>
#include <mruby/class.h>
#include <mruby/compile.h>
#include <mruby/error.h>
#include <mruby/hash.h>
#include <mruby/irep.h>
#include <mruby/string.h>
#include <mruby/variable.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "bindings/ffi.h"
#include "config/cvar.h"
#include "config/metadata.h"
#include "engine/util.h"
#include "input/controller.h"
#include "input/events.h"
#include "log/log.h"
#include "render/ffi_draw.h"
#include "render/outputs.h"
#include "render/packers.h"
#include "render/render_context.h"
#include "render/texture_atlas.h"

extern "C" const uint8_t main_ruby[];

game the_game;

// Method names the engine calls, interned once per host.
static struct {
    mrb_sym sdl_tick, current_fps, reboot_requested, reboot, key_down, key_held, key_up;
    mrb_sym windowevent_size_changed, new_log_entry, quit_requested, tick_count, global_tick_count;
    mrb_sym quit, quit_bang, get_ruby_reload_list, reload_complete, ffi_draw, new_, get_texture_atlas;
    mrb_sym sticks[GAME_PLAYERS][4];
    mrb_sym tracked[3];
} sym;

static mrb_value runtime_object;   // registered with the GC while the host lives
static mrb_value draw_object;
static int exit_status;

static const char *const stick_names[4] = {"left_analog_x", "left_analog_y", "right_analog_x", "right_analog_y"};

// ---------------------------------------------------------------------------
// Protected calls

static void log_exception(mrb_state *mrb, mrb_value exc, const char *context);

struct protected_call {
    mrb_value self;
    mrb_sym mid;
    mrb_int argc;
    const mrb_value *argv;
};

static mrb_value protected_call_body(mrb_state *mrb, void *ud)
{
    protected_call *c = (protected_call *)ud;
    return mrb_funcall_argv(mrb, c->self, c->mid, c->argc, c->argv);
}

// Calls self.mid(*argv). An exception is logged and cleared; the answer is
// then nil.
static mrb_value host_call(mrb_value self, mrb_sym mid, mrb_int argc, const mrb_value *argv)
{
    mrb_state *mrb = the_game.mrb;
    if (!mrb)
        return mrb_nil_value();
    protected_call c = {self, mid, argc, argv};
    mrb_bool failed = FALSE;
    mrb_value result = mrb_protect_error(mrb, protected_call_body, &c, &failed);
    if (failed || mrb->exc) {
        mrb_value exc = failed ? result : mrb_obj_value(mrb->exc);
        mrb->exc = nullptr;
        log_exception(mrb, exc, mrb_sym_name(mrb, mid));
        return mrb_nil_value();
    }
    return result;
}

static mrb_value runtime_call(mrb_sym mid, mrb_int argc = 0, const mrb_value *argv = nullptr)
{
    if (mrb_nil_p(runtime_object))
        return mrb_nil_value();
    return host_call(runtime_object, mid, argc, argv);
}

static mrb_value inspect_body(mrb_state *mrb, void *ud) { return mrb_inspect(mrb, *(mrb_value *)ud); }

static void log_exception(mrb_state *mrb, mrb_value exc, const char *context)
{
    int arena = mrb_gc_arena_save(mrb);
    mrb_bool failed = FALSE;
    mrb_value text = mrb_protect_error(mrb, inspect_body, &exc, &failed);
    mrb->exc = nullptr;
    const char *message = (!failed && mrb_string_p(text)) ? mrb_str_to_cstr(mrb, text) : mrb_obj_classname(mrb, exc);
    log_error("Game", "* EXCEPTION: %s (in ~%s~)", message, context ? context : "?");
    mrb_value bt = mrb_exc_backtrace(mrb, exc);
    if (mrb_array_p(bt))
        for (mrb_int i = 0; i < RARRAY_LEN(bt); i++) {
            mrb_value line = RARRAY_PTR(bt)[i];
            if (mrb_string_p(line))
                log_error("Game", "    %s", mrb_str_to_cstr(mrb, line));
        }
    mrb->exc = nullptr;
    mrb_gc_arena_restore(mrb, arena);
}

// ---------------------------------------------------------------------------
// Native methods on ORBRuntime

static int has_rbc_extension(const char *path)
{
    const char *dot = SDL_strrchr(path, '.');
    return dot && SDL_strcasecmp(dot, ".rbc") == 0;
}

static mrb_value syntax_error_text(mrb_state *mrb, mrb_parser_state *p)
{
    char text[3000];
    size_t used = 0;
    text[0] = '\0';
    for (size_t i = 0; i < p->nerr && i < sizeof p->error_buffer / sizeof p->error_buffer[0]; i++) {
        int n = SDL_snprintf(text + used, sizeof text - used, "line %d:%d: %s\n", p->error_buffer[i].lineno,
                             p->error_buffer[i].column, p->error_buffer[i].message ? p->error_buffer[i].message : "");
        if (n < 0 || (size_t)n >= sizeof text - used) {
            used = sizeof text - 1;
            break;
        }
        used += (size_t)n;
    }
    return mrb_str_new(mrb, text, (mrb_int)used);
}

// Loads one file of the reload list at top level. Answers the exception the
// file raised (nil when none); a syntax error answers a RuntimeError with the
// parser's lines and is logged with the file's text.
static mrb_value load_ruby_file(mrb_state *mrb, const char *path)
{
    size_t len = 0;
    char *buf = (char *)loadfile(path, &len);
    if (!buf)
        return mrb_nil_value();   // an unreadable file is skipped silently

    mrb_value exc = mrb_nil_value();
    if (has_rbc_extension(path)) {
        mrb_load_irep_buf(mrb, buf, len);
        if (mrb->exc) {
            exc = mrb_obj_value(mrb->exc);
            mrb->exc = nullptr;
        }
        SDL_free(buf);
        return exc;
    }

    mrbc_context *cxt = mrbc_context_new(mrb);
    mrbc_filename(mrb, cxt, path);
    cxt->capture_errors = TRUE;
    mrb_parser_state *p = mrb_parse_nstring(mrb, buf, len, cxt);
    if (!p) {
        exc = mrb_exc_new_str(mrb, E_RUNTIME_ERROR, mrb_str_new_cstr(mrb, "out of memory while parsing"));
    } else if (p->nerr > 0) {
        mrb_value text = syntax_error_text(mrb, p);
        SDL_Log("* Failed to load/reload %s\n%s", path, buf);
        exc = mrb_exc_new_str(mrb, E_RUNTIME_ERROR, text);
        mrb_parser_free(p);
    } else {
        mrb_load_exec(mrb, p, cxt);   // frees the parser state
        if (mrb->exc) {
            exc = mrb_obj_value(mrb->exc);
            mrb->exc = nullptr;
        }
    }
    mrbc_context_free(mrb, cxt);
    SDL_free(buf);
    return exc;
}

// Loads every path the runtime has queued, then tells it the reload is
// complete, also when a file failed; the first failure is raised afterwards
// and the files after it wait for the next reload.
static mrb_value rt_reload_requested_ruby_files_synchronously(mrb_state *mrb, mrb_value self)
{
    mrb_value list = mrb_funcall_argv(mrb, self, sym.get_ruby_reload_list, 0, nullptr);
    mrb_value exc = mrb_nil_value();
    if (mrb_array_p(list)) {
        while (RARRAY_LEN(list) > 0 && mrb_nil_p(exc)) {
            mrb_value path = mrb_obj_as_string(mrb, mrb_ary_shift(mrb, list));
            if (memchr(RSTRING_PTR(path), '\0', (size_t)RSTRING_LEN(path)))
                continue;
            exc = load_ruby_file(mrb, mrb_str_to_cstr(mrb, path));
        }
    }
    mrb_funcall_argv(mrb, self, sym.reload_complete, 0, nullptr);
    if (!mrb_nil_p(exc))
        mrb_exc_raise(mrb, exc);
    return mrb_nil_value();
}

static mrb_value rt_update_simulation_audio_state(mrb_state *mrb, mrb_value self) { return mrb_nil_value(); }

static mrb_value rt_set_exit_status(mrb_state *mrb, mrb_value self)
{
    mrb_int status = 0;
    mrb_get_args(mrb, "i", &status);
    exit_status = status < 0 || status > 255 ? 1 : (int)status;
    return mrb_nil_value();
}

// ---------------------------------------------------------------------------
// Construction

static const char *cvar_type_names[] = {nullptr, "string", "int", "uint", "float", "bool"};

// Mirrors every registered cvar into $cvars as ORBCvar objects.
static void cvar_mirror(void *context, const char *name, const char *description, unsigned type)
{
    mrb_state *mrb = the_game.mrb;
    if (!mrb || type < 1 || type > 5)
        return;
    int arena = mrb_gc_arena_save(mrb);
    mrb_value cvars = mrb_gv_get(mrb, mrb_intern_lit(mrb, "$cvars"));
    mrb_sym cls_sym = mrb_intern_lit(mrb, "ORBCvar");
    if (mrb_hash_p(cvars) && mrb_const_defined(mrb, mrb_obj_value(mrb->object_class), cls_sym)) {
        mrb_value cls = mrb_const_get(mrb, mrb_obj_value(mrb->object_class), cls_sym);
        if (mrb_class_p(cls)) {
            mrb_value key = mrb_str_new_cstr(mrb, name);
            mrb_value args[3] = {key, mrb_str_new_cstr(mrb, description ? description : ""),
                                 mrb_str_new_cstr(mrb, cvar_type_names[type])};
            mrb_value cvar = host_call(cls, sym.new_, 3, args);
            if (!mrb_nil_p(cvar))
                mrb_hash_set(mrb, cvars, key, cvar);
        }
    }
    mrb_gc_arena_restore(mrb, arena);
}

static void intern_symbols(mrb_state *mrb)
{
    sym.sdl_tick = mrb_intern_lit(mrb, "__sdl_tick__");
    sym.current_fps = mrb_intern_lit(mrb, "current_fps");
    sym.reboot_requested = mrb_intern_lit(mrb, "reboot_requested");
    sym.reboot = mrb_intern_lit(mrb, "__reboot__");
    sym.key_down = mrb_intern_lit(mrb, "controller_key_down");
    sym.key_held = mrb_intern_lit(mrb, "controller_key_held");
    sym.key_up = mrb_intern_lit(mrb, "controller_key_up");
    sym.windowevent_size_changed = mrb_intern_lit(mrb, "windowevent_size_changed");
    sym.new_log_entry = mrb_intern_lit(mrb, "new_log_entry");
    sym.quit_requested = mrb_intern_lit(mrb, "quit_requested?");
    sym.tick_count = mrb_intern_lit(mrb, "__tick_count__");
    sym.global_tick_count = mrb_intern_lit(mrb, "__global_tick_count__");
    sym.quit = mrb_intern_lit(mrb, "quit");
    sym.quit_bang = mrb_intern_lit(mrb, "quit!");
    sym.get_ruby_reload_list = mrb_intern_lit(mrb, "get_ruby_reload_list");
    sym.reload_complete = mrb_intern_lit(mrb, "reload_complete");
    sym.ffi_draw = mrb_intern_lit(mrb, "ffi_draw");
    sym.new_ = mrb_intern_lit(mrb, "new");
    sym.get_texture_atlas = mrb_intern_lit(mrb, "get_texture_atlas");
    for (int p = 0; p < GAME_PLAYERS; p++)
        for (int a = 0; a < 4; a++) {
            char name[40];
            SDL_snprintf(name, sizeof name, "%s_player_%d", stick_names[a], p + 1);
            sym.sticks[p][a] = mrb_intern_cstr(mrb, name);
        }
    sym.tracked[0] = mrb_intern_lit(mrb, "left_controller_position");
    sym.tracked[1] = mrb_intern_lit(mrb, "right_controller_position");
    sym.tracked[2] = mrb_intern_lit(mrb, "headset_position");
}

static RClass *lookup_constant(mrb_state *mrb, RClass *outer, const char *name, int want_class)
{
    mrb_sym s = mrb_intern_cstr(mrb, name);
    if (!mrb_const_defined(mrb, mrb_obj_value(outer), s)) {
        SDL_SetError("The runtime library does not define %s", name);
        return nullptr;
    }
    mrb_value v = mrb_const_get(mrb, mrb_obj_value(outer), s);
    if (mrb->exc || (want_class ? !mrb_class_p(v) : !mrb_module_p(v))) {
        mrb->exc = nullptr;
        SDL_SetError("The runtime library's %s is not a %s", name, want_class ? "class" : "module");
        return nullptr;
    }
    return mrb_class_ptr(v);
}

static int game_pre_init(mrb_state *mrb)
{
    intern_symbols(mrb);
    SDL_zero(the_game.key_states);
    the_game.window_close_requested = 0;
    RClass *obj = mrb->object_class;
    the_game.runtime_class = lookup_constant(mrb, obj, "ORBRuntime", 1);
    the_game.attr_sprite_module = lookup_constant(mrb, obj, "AttrSprite", 0);
    the_game.top_level_outputs_class = lookup_constant(mrb, obj, "ORBTopLevelOutputs", 1);
    the_game.orb_module = lookup_constant(mrb, obj, "ORB", 0);
    if (!the_game.runtime_class || !the_game.attr_sprite_module || !the_game.top_level_outputs_class || !the_game.orb_module)
        return 0;
    the_game.open_entity_class = lookup_constant(mrb, the_game.orb_module, "OpenEntity", 1);
    the_game.strict_entity_class = lookup_constant(mrb, the_game.orb_module, "StrictEntity", 1);
    return the_game.open_entity_class && the_game.strict_entity_class;
}

static int game_init(mrb_state *mrb, const char *exe_path, const char *command_line, int width, int height,
                     int landscape, int flag)
{
    const char *platform = SDL_GetHintBoolean("SteamDeck", SDL_FALSE) ? "Steam Deck" : SDL_GetPlatform();
    mrb_value args[11] = {
        platform ? mrb_str_new_cstr(mrb, platform) : mrb_nil_value(),
        mrb_bool_value(cvar_game_metadata_deployment != 0),
        mrb_fixnum_value(cvar_game_metadata_vrmode),
        mrb_fixnum_value(width),
        mrb_fixnum_value(height),
        mrb_str_new_cstr(mrb, command_line),
        mrb_str_new_cstr(mrb, exe_path),
        mrb_float_value(mrb, -43.0),
        mrb_symbol_value(mrb_intern_cstr(mrb, landscape ? "landscape" : "portrait")),
        mrb_bool_value(cvar_game_metadata_remote_hotload != 0),
        mrb_bool_value(flag != 0),
    };
    mrb_value runtime = host_call(mrb_obj_value(the_game.runtime_class), sym.new_, 11, args);
    if (mrb_nil_p(runtime)) {
        SDL_SetError("Creating the runtime object (ORBRuntime.new) failed; the log has the exception");
        return 0;
    }
    runtime_object = runtime;
    mrb_gc_register(mrb, runtime_object);
    draw_object = host_call(runtime_object, sym.ffi_draw, 0, nullptr);
    mrb_gc_register(mrb, draw_object);
    cvar_set_register_callback(cvar_mirror, &the_game);
    return 1;
}

// The HD variants of the game's sprites, found once per setup; without HD
// the map stays empty and sprites draw their own paths.
static void load_texture_atlas(mrb_state *mrb)
{
    texture_atlas_clear();
    if (!cvar_game_metadata_hd)
        return;
    int arena = mrb_gc_arena_save(mrb);
    char *dir = cvar_string_dup(&cvar_game_metadata_sprites_directory);
    mrb_value arg = mrb_str_new_cstr(mrb, dir ? dir : "");
    SDL_free(dir);
    mrb_value map = runtime_call(sym.get_texture_atlas, 1, &arg);
    texture_atlas_load(mrb, map);
    if (mrb->exc) {
        mrb_value exc = mrb_obj_value(mrb->exc);
        mrb->exc = nullptr;
        log_exception(mrb, exc, "get_texture_atlas");
        texture_atlas_clear();
    }
    log_debug("Engine", "HD texture atlases: %d image(s) with variants", texture_atlas_count());
    mrb_gc_arena_restore(mrb, arena);
}

static void close_interpreter(void)
{
    if (!the_game.mrb)
        return;
    cvar_set_register_callback(nullptr, nullptr);
    outputs_unbind();
    texture_atlas_clear();
    mrb_close(the_game.mrb);
    the_game.mrb = nullptr;
    runtime_object = mrb_nil_value();
    draw_object = mrb_nil_value();
}

static int fail_setup(void)
{
    char reason[512];
    SDL_strlcpy(reason, SDL_GetError(), sizeof reason);
    close_interpreter();
    SDL_SetError("%s", reason);
    return 0;
}

int script_host_setup(render_context *rc, const char *exe_path, const char *command_line,
                      const char *game_dir, const char *base_dir)
{
    close_interpreter();
    mrb_state *mrb = mrb_open();
    if (!mrb) {
        SDL_SetError("The Ruby interpreter could not be created");
        return 0;
    }
    the_game.mrb = mrb;
    the_game.production = cvar_game_metadata_deployment != 0;
    runtime_object = mrb_nil_value();
    draw_object = mrb_nil_value();

    mrb_load_irep(mrb, main_ruby);
    if (mrb->exc) {
        mrb_value exc = mrb_obj_value(mrb->exc);
        mrb->exc = nullptr;
        log_exception(mrb, exc, "runtime library");
        SDL_SetError("The runtime library raised while loading; the log has the exception");
        return fail_setup();
    }
    if (!game_pre_init(mrb))
        return fail_setup();
    packers_init(mrb);
    outputs_init(mrb);
    events_init(mrb);
    controller_init(mrb);
    if (!ffi_init(game_dir, base_dir, mrb, rc)) {
        char reason[256];
        SDL_strlcpy(reason, SDL_GetError(), sizeof reason);
        if (mrb->exc) {
            mrb_value exc = mrb_obj_value(mrb->exc);
            mrb->exc = nullptr;
            log_exception(mrb, exc, "ffi_init");
        }
        SDL_SetError("Registering the native bindings failed: %s", reason);
        return fail_setup();
    }
    if (rc)
        SDL_AtomicSet(&rc->grid_set, 0);
    ffi_draw_define(mrb);
    mrb_define_method(mrb, the_game.runtime_class, "reload_requested_ruby_files_synchronously",
                      rt_reload_requested_ruby_files_synchronously, MRB_ARGS_NONE());
    mrb_define_method(mrb, the_game.runtime_class, "update_simulation_audio_state", rt_update_simulation_audio_state,
                      MRB_ARGS_ANY());
    mrb_define_method(mrb, the_game.runtime_class, "set_exit_status", rt_set_exit_status, MRB_ARGS_REQ(1));

    int landscape = rc ? rc->landscape : 1;
    if (!game_init(mrb, exe_path, command_line, landscape ? 1280 : 720, landscape ? 720 : 1280, landscape,
                   rc ? rc->runtime_flag : 0))
        return fail_setup();

    mrb_load_string(mrb, "def tick args; end;");
    mrb->exc = nullptr;
    load_texture_atlas(mrb);
    outputs_binding binding = {runtime_object, draw_object, the_game.open_entity_class, the_game.strict_entity_class,
                               the_game.attr_sprite_module, the_game.top_level_outputs_class, rc};
    outputs_bind(&binding);
    return 1;
}

// ---------------------------------------------------------------------------
// Engine -> runtime calls

void game_tick(void)
{
    mrb_value t = mrb_fixnum_value(SDL_GetTicks());
    runtime_call(sym.sdl_tick, 1, &t);
}

void game_quit(void) { runtime_call(sym.quit); }

mrb_value script_host_call(mrb_sym mid, mrb_int argc, const mrb_value *argv) { return runtime_call(mid, argc, argv); }

mrb_state *script_host_mrb(void) { return the_game.mrb; }

void game_quit_bang(void) { runtime_call(sym.quit_bang); }

void runtime_current_fps(unsigned simulation_fps, unsigned render_fps)
{
    mrb_value a[2] = {mrb_fixnum_value(simulation_fps), mrb_fixnum_value(render_fps)};
    runtime_call(sym.current_fps, 2, a);
}

int runtime_reboot_requested(void) { return mrb_test(runtime_call(sym.reboot_requested)); }

void runtime_reboot(int mouse_x, int mouse_y, int rel_x, int rel_y)
{
    mrb_value a[4] = {mrb_fixnum_value(mouse_x), mrb_fixnum_value(mouse_y), mrb_fixnum_value(rel_x),
                      mrb_fixnum_value(rel_y)};
    runtime_call(sym.reboot, 4, a);
}

void runtime_controller_key(int player, int slot, int state)
{
    mrb_sym mid = state == 1 ? sym.key_down : state == 2 ? sym.key_held : sym.key_up;
    mrb_value a[2] = {mrb_fixnum_value(player), mrb_fixnum_value(slot)};
    runtime_call(mid, 2, a);
}

void runtime_report_sticks(const Sint16 axes[GAME_PLAYERS][4])
{
    for (int p = 0; p < GAME_PLAYERS; p++)
        for (int a = 0; a < 4; a++) {
            mrb_value v = mrb_fixnum_value(axes[p][a]);
            runtime_call(sym.sticks[p][a], 1, &v);
        }
}

void runtime_report_tracked_positions(void)
{
    if (!the_game.mrb)
        return;
    mrb_value zeros[6];
    for (mrb_value &z : zeros)
        z = mrb_float_value(the_game.mrb, 0.0);
    for (mrb_sym s : sym.tracked)
        runtime_call(s, 6, zeros);
}

void runtime_windowevent_size_changed(render_context *rc)
{
    mrb_state *mrb = the_game.mrb;
    if (!mrb || !rc)
        return;
    mrb_value a[12] = {
        mrb_fixnum_value(rc->logical_w),          mrb_fixnum_value(rc->logical_h),
        mrb_fixnum_value(rc->window_w),           mrb_fixnum_value(rc->window_h),
        mrb_fixnum_value(rc->published_output_w), mrb_fixnum_value(rc->published_output_h),
        mrb_fixnum_value(rc->published_offset_x), mrb_fixnum_value(rc->published_offset_y),
        mrb_float_value(mrb, rc->unsnapped_scale), mrb_fixnum_value(rc->scale_percent),
        mrb_float_value(mrb, rc->render_scale),   mrb_float_value(mrb, rc->pixel_density),
    };
    runtime_call(sym.windowevent_size_changed, 12, a);
}

void runtime_new_log_entry(const log_entry *entry)
{
    mrb_state *mrb = the_game.mrb;
    if (!mrb)
        return;
    int arena = mrb_gc_arena_save(mrb);
    mrb_value a[4] = {mrb_fixnum_value(entry->level), mrb_fixnum_value(entry->timestamp),
                      mrb_str_new_cstr(mrb, entry->subsystem), mrb_str_new_cstr(mrb, entry->message)};
    runtime_call(sym.new_log_entry, 4, a);
    mrb_gc_arena_restore(mrb, arena);
}

int runtime_quit_requested(void) { return mrb_test(runtime_call(sym.quit_requested)); }

static int int_answer(mrb_sym mid, int fallback)
{
    mrb_value v = runtime_call(mid);
    if (mrb_fixnum_p(v))
        return (int)mrb_fixnum(v);
    if (mrb_float_p(v))
        return (int)mrb_float(v);
    return fallback;
}

int runtime_tick_count(void) { return int_answer(sym.tick_count, -1); }

int runtime_global_tick_count(void) { return int_answer(sym.global_tick_count, -1); }

void script_host_gc_step(void)
{
    if (the_game.mrb)
        mrb_incremental_gc(the_game.mrb);
}

int script_host_arena_save(void) { return the_game.mrb ? mrb_gc_arena_save(the_game.mrb) : 0; }

void script_host_arena_restore(int index)
{
    if (the_game.mrb)
        mrb_gc_arena_restore(the_game.mrb, index);
}

int script_host_exit_status(void) { return exit_status; }

void run_test_class(const char *class_name, mrb_state *mrb)
{
    RClass *cls = lookup_constant(mrb, mrb->object_class, class_name, 1);
    if (!cls) {
        fprintf(stderr, "%s\n", SDL_GetError());
        exit(1);
    }
    mrb_value obj = mrb_funcall(mrb, mrb_obj_value(cls), "new", 0);
    if (!mrb->exc)
        mrb_funcall(mrb, obj, "run", 0);
    if (mrb->exc) {
        mrb_print_error(mrb);
        exit(1);
    }
}

void run_tests(void) {}

static mrb_value walk_body(mrb_state *mrb, void *scene)
{
    outputs_walk(mrb, (threadstream *)scene);
    return mrb_nil_value();
}

void script_host_walk_outputs(threadstream *scene)
{
    static char last_failure[256];
    mrb_state *mrb = the_game.mrb;
    if (!mrb || !scene)
        return;
    int arena = mrb_gc_arena_save(mrb);
    mrb_bool failed = FALSE;
    mrb_value result = mrb_protect_error(mrb, walk_body, scene, &failed);
    if (failed || mrb->exc) {
        mrb_value exc = failed ? result : mrb_obj_value(mrb->exc);
        mrb->exc = nullptr;
        outputs_walk_abandon();
        scene->failed = 1;
        // A broken primitive fails every step the same way: log it once
        // until the walk succeeds or fails differently.
        mrb_value text = mrb_protect_error(mrb, inspect_body, &exc, &failed);
        mrb->exc = nullptr;
        const char *message = (!failed && mrb_string_p(text)) ? mrb_str_to_cstr(mrb, text) : mrb_obj_classname(mrb, exc);
        if (SDL_strncmp(message, last_failure, sizeof last_failure - 1) != 0) {
            SDL_strlcpy(last_failure, message, sizeof last_failure);
            log_exception(mrb, exc, "drawing the outputs");
        }
    } else {
        last_failure[0] = '\0';
    }
    mrb_gc_arena_restore(mrb, arena);
}
