// FFI::Misc: engine services without a class of their own: text and sprite
// measurement, clipboard, logging, cvars, locale, environment variables,
// UUIDs and the platform queries that answer nothing on this platform.
// Depends on mruby, SDL, the log, the cvar registry and, for measurement,
// the render context's font map and texture cache (both safe to read from
// the simulation thread through the functions used here).
#include <stdlib.h>
#include <string.h>
#include <sys/random.h>
#include <time.h>
#include <unistd.h>

#include <mutex>

#include <mruby.h>
#include <mruby/array.h>
#include <mruby/hash.h>
#include <mruby/string.h>

#include <SDL.h>

#include "bindings/ffi.h"
#include "bindings/ffi_internal.h"
#include "config/cvar.h"
#include "log/log.h"
#include "render/render_context.h"
#include "render/texture_cache.h"
#include "text/fontatlas.h"

static mrb_value misc_get_thermal_state(mrb_state *mrb, mrb_value self)
{
    return mrb_nil_value();
}

// [width, height] of a text at pixel size 22 + 2 x size enum. The fallback
// path names the fallback atlas itself, as labels do, so it is never loaded
// a second time under its own name. Measurement never touches glyph pages,
// so it is safe while the render thread draws with the same atlases.
static mrb_value misc_calcstringbox(mrb_state *mrb, mrb_value self)
{
    const char *text;
    mrb_float size_enum;
    const char *font = nullptr;
    mrb_get_args(mrb, "zf|z!", &text, &size_enum, &font);
    if (font && SDL_strcmp(font, FONTATLAS_FALLBACK_PATH) == 0)
        font = nullptr;
    float w = 0.0f, h = 0.0f;
    render_context *rc = ffi_render_context();
    if (rc && rc->fonts)
        font_map_calcstringbox(rc->fonts, font, text, (float)(22.0 + 2.0 * size_enum), &w, &h);
    mrb_value box[2] = {mnf_float_value(mrb, w), mnf_float_value(mrb, h)};
    return mrb_ary_new_from_values(mrb, 2, box);
}

// [width, height] of an image: the size the texture cache recorded, else
// the file's header, else the 256 x 256 of the checkerboard drawn for a
// missing image; nil for an image marked as unusable. Nothing is loaded
// and no cache entry is made.
static mrb_value misc_calcspritebox(mrb_state *mrb, mrb_value self)
{
    const char *path;
    mrb_get_args(mrb, "z", &path);
    render_context *rc = ffi_render_context();
    int w = 0, h = 0;
    if (!texture_map_sprite_size(rc ? rc->textures : nullptr, path, &w, &h))
        return mrb_nil_value();
    mrb_value box[2] = {mrb_fixnum_value(w), mrb_fixnum_value(h)};
    return mrb_ary_new_from_values(mrb, 2, box);
}

static mrb_value misc_getclipboard(mrb_state *mrb, mrb_value self)
{
    char *text = SDL_GetClipboardText();
    if (!text) {
        return mrb_str_new_lit(mrb, "");
    }
    mrb_value result = mrb_str_new_cstr(mrb, text);
    SDL_free(text);
    return result;
}

static mrb_value misc_setclipboard(mrb_state *mrb, mrb_value self)
{
    const char *text;
    mrb_get_args(mrb, "z", &text);
    return mrb_bool_value(SDL_SetClipboardText(text) == 0);
}

static mrb_value misc_device_size(mrb_state *mrb, mrb_value self)
{
    return mrb_ary_new(mrb);
}

static mrb_value misc_log(mrb_state *mrb, mrb_value self)
{
    const char *subsystem;
    mrb_int level;
    const char *message;
    mrb_get_args(mrb, "z!iz!", &subsystem, &level, &message);
    // Levels beyond the defined range saturate.
    if (level < 0) {
        level = LOG_LEVEL_SPAM;
    } else if (level > (mrb_int)LOG_LEVEL_NOTHING) {
        level = LOG_LEVEL_NOTHING;
    }
    mnf_log_write(subsystem ? subsystem : "Game", (Uint32)level, message);
    return mrb_nil_value();
}

static mrb_value misc_cvar_register(mrb_state *mrb, mrb_value self)
{
    const char *name;
    const char *description;
    const char *type_name;
    const char *default_text;
    mrb_get_args(mrb, "zzzz", &name, &description, &type_name, &default_text);

    static const struct {
        const char *name;
        unsigned type;
    } types[] = {
        {"string", CVAR_TYPE_STRING}, {"int", CVAR_TYPE_INT}, {"uint", CVAR_TYPE_UINT},
        {"float", CVAR_TYPE_FLOAT},   {"bool", CVAR_TYPE_BOOL},
    };
    for (const auto &t : types) {
        if (strcmp(type_name, t.name) == 0) {
            return mrb_bool_value(cvar_register(name, t.type, description, NULL, default_text));
        }
    }
    log_error("Engine",
              "Can't register cvar '%s' with unknown type '%s' (try 'string', 'int', 'uint', 'float', or 'bool').",
              name, type_name);
    return mrb_false_value();
}

static mrb_value misc_cvar_get(mrb_state *mrb, mrb_value self)
{
    const char *name;
    mrb_get_args(mrb, "z", &name);
    unsigned type = 0;
    void *storage = cvar_get(name, &type, NULL);
    if (!storage) {
        return mrb_nil_value();
    }
    switch (type) {
    case CVAR_TYPE_STRING: {
        // A copy taken under the cvar lock: another thread may replace it.
        char *text = cvar_string_dup((char *const *)storage);
        if (!text) {
            return mrb_str_new_lit(mrb, "");
        }
        struct misc_sdl_text {
            char *text;
            ~misc_sdl_text() { SDL_free(text); }
        } guard = {text};
        return mrb_str_new_cstr(mrb, guard.text);
    }
    case CVAR_TYPE_INT:
        return mrb_int_value(mrb, __atomic_load_n((const Sint32 *)storage, __ATOMIC_RELAXED));
    case CVAR_TYPE_UINT:
        return mrb_int_value(mrb, (mrb_int)__atomic_load_n((const Uint32 *)storage, __ATOMIC_RELAXED));
    case CVAR_TYPE_FLOAT: {
        float f;
        __atomic_load((const float *)storage, &f, __ATOMIC_RELAXED);
        return mrb_float_value(mrb, (mrb_float)f);
    }
    case CVAR_TYPE_BOOL:
        return mrb_bool_value(__atomic_load_n((const Sint32 *)storage, __ATOMIC_RELAXED) != 0);
    default:
        return mrb_nil_value();
    }
}

static mrb_value misc_cvar_set(mrb_state *mrb, mrb_value self)
{
    const char *name;
    const char *value;
    mrb_get_args(mrb, "zz", &name, &value);
    return mrb_bool_value(cvar_set(name, value));
}

static mrb_value misc_cvar_islocked(mrb_state *mrb, mrb_value self)
{
    const char *name;
    mrb_get_args(mrb, "z", &name);
    return mrb_bool_value(cvar_islocked(name));
}

static mrb_value misc_touch_enabled(mrb_state *mrb, mrb_value self)
{
    return mrb_false_value();
}

static mrb_value misc_get_locale(mrb_state *mrb, mrb_value self)
{
    SDL_Locale *locales = SDL_GetPreferredLocales();
    if (!locales) {
        return mrb_nil_value();
    }
    struct misc_locales {
        SDL_Locale *list;
        ~misc_locales() { SDL_free(list); }
    } guard = {locales};
    const char *language = guard.list[0].language;
    return mrb_str_new_cstr(mrb, language ? language : "");
}

static mrb_value misc_android_get_shared_preferences(mrb_state *mrb, mrb_value self)
{
    return mrb_nil_value();
}

static mrb_value misc_ios_get_standard_user_defaults(mrb_state *mrb, mrb_value self)
{
    return mrb_hash_new(mrb);
}

static mrb_value misc_request_quit_fatal(mrb_state *mrb, mrb_value self)
{
    return mrb_nil_value();
}

// UUIDs come from the C library's additive generator with a private state,
// seeded once from the kernel's entropy pool: identifiers differ between
// runs, and a game seeding rand() neither makes them predictable nor has
// its own sequence disturbed.
static std::mutex misc_uuid_mutex;
static struct random_data misc_uuid_random;
static char misc_uuid_state[256];
static int misc_uuid_seeded;

static unsigned misc_uuid_seed(void)
{
    unsigned seed = 0;
    if (getrandom(&seed, sizeof(seed), 0) == (ssize_t)sizeof(seed)) {
        return seed;
    }
    SDL_RWops *rw = SDL_RWFromFile("/dev/urandom", "rb");
    if (rw) {
        const size_t got = SDL_RWread(rw, &seed, sizeof(seed), 1);
        SDL_RWclose(rw);
        if (got == 1) {
            return seed;
        }
    }
    return (unsigned)time(NULL) ^ ((unsigned)getpid() << 16) ^ (unsigned)SDL_GetPerformanceCounter();
}

static mrb_value misc_create_uuid(mrb_state *mrb, mrb_value self)
{
    unsigned v[16];
    {
        std::lock_guard<std::mutex> guard(misc_uuid_mutex);
        if (!misc_uuid_seeded) {
            initstate_r(misc_uuid_seed(), misc_uuid_state, sizeof(misc_uuid_state), &misc_uuid_random);
            misc_uuid_seeded = 1;
        }
        for (unsigned &value : v) {
            int32_t r = 0;
            random_r(&misc_uuid_random, &r);
            value = (unsigned)r % 255;
        }
    }
    v[6] = (v[6] & 0x0F) | 0x40;   // version 4
    v[8] = (v[8] & 0x3F) | 0x80;   // RFC 4122 variant
    char text[37];
    SDL_snprintf(text, sizeof(text), "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", v[0],
                 v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9], v[10], v[11], v[12], v[13], v[14], v[15]);
    return mrb_str_new(mrb, text, 36);
}

static mrb_value misc_say(mrb_state *mrb, mrb_value self)
{
    mrb_value text;
    mrb_get_args(mrb, "S", &text);
    return mrb_nil_value();
}

static mrb_value misc_setenv(mrb_state *mrb, mrb_value self)
{
    const char *name;
    const char *value;
    mrb_value overwrite_arg;
    mrb_get_args(mrb, "zzo", &name, &value, &overwrite_arg);
    const int overwrite = mrb_true_p(overwrite_arg) ? 1 : 0;
    const int rc = SDL_setenv(name, value, overwrite);
    SDL_Log("SDL_setenv(%s, %s, %d) = %d", name, value, overwrite, rc);
    return mrb_nil_value();
}

static mrb_value misc_getenv(mrb_state *mrb, mrb_value self)
{
    const char *name;
    mrb_get_args(mrb, "z", &name);
    const char *value = SDL_getenv(name);
    return value ? mrb_str_new_cstr(mrb, value) : mrb_nil_value();
}

void ffi_misc_register(mrb_state *mrb, struct RClass *ffi)
{
    struct RClass *cls = mrb_define_class_under(mrb, ffi, "Misc", mrb->object_class);
    mrb_define_method(mrb, cls, "get_thermal_state", misc_get_thermal_state, MRB_ARGS_NONE());
    mrb_define_method(mrb, cls, "calcstringbox", misc_calcstringbox, MRB_ARGS_ARG(2, 1));
    mrb_define_method(mrb, cls, "calcspritebox", misc_calcspritebox, MRB_ARGS_REQ(1));
    mrb_define_method(mrb, cls, "getclipboard", misc_getclipboard, MRB_ARGS_NONE());
    mrb_define_method(mrb, cls, "setclipboard", misc_setclipboard, MRB_ARGS_REQ(1));
    // Raw joysticks and controller mappings (close_raw_joystick,
    // add_controller_config, convert_rawjoystick_to_controller), the XML and
    // JSON readers, the HTTP client, http_respond, orb_dlopen,
    // get_dlopen_path and get_local_ip_address join here, in that order.
    mrb_define_method(mrb, cls, "device_size", misc_device_size, MRB_ARGS_NONE());
    // httpserver_init joins here.
    mrb_define_method(mrb, cls, "log", misc_log, MRB_ARGS_REQ(3));
    mrb_define_method(mrb, cls, "cvar_register", misc_cvar_register, MRB_ARGS_REQ(4));
    mrb_define_method(mrb, cls, "cvar_get", misc_cvar_get, MRB_ARGS_REQ(1));
    mrb_define_method(mrb, cls, "cvar_set", misc_cvar_set, MRB_ARGS_REQ(2));
    mrb_define_method(mrb, cls, "cvar_islocked", misc_cvar_islocked, MRB_ARGS_REQ(1));
    mrb_define_method(mrb, cls, "touch_enabled?", misc_touch_enabled, MRB_ARGS_NONE());
    mrb_define_method(mrb, cls, "get_locale", misc_get_locale, MRB_ARGS_NONE());
    mrb_define_method(mrb, cls, "android_get_sharedPreferences", misc_android_get_shared_preferences,
                      MRB_ARGS_ANY());
    mrb_define_method(mrb, cls, "ios_get_standardUserDefaults", misc_ios_get_standard_user_defaults,
                      MRB_ARGS_ANY());
    mrb_define_method(mrb, cls, "request_quit_fatal", misc_request_quit_fatal, MRB_ARGS_ANY());
    mrb_define_method(mrb, cls, "create_uuid", misc_create_uuid, MRB_ARGS_NONE());
    mrb_define_method(mrb, cls, "say", misc_say, MRB_ARGS_REQ(1));
    mrb_define_method(mrb, cls, "setenv", misc_setenv, MRB_ARGS_REQ(3));
    mrb_define_method(mrb, cls, "getenv", misc_getenv, MRB_ARGS_REQ(1));
}
