// Event processing on the simulation thread: every raw SDL event of the
// render thread's event stream becomes a script event record (a Hash handed
// to the runtime's raw_event), then the engine interprets the common kinds
// itself and calls the runtime's input entry points: keys, text, mouse in
// canvas coordinates, wheel, focus and numbered fingers. Names are interned
// once per host; every event's temporary values leave the GC arena with it.
// Depends on the script host's protected runtime calls, the render
// context's scale and letterbox offsets, and the controller module.
#include "input/events.h"

#include <SDL.h>

#include <mruby.h>
#include <mruby/hash.h>
#include <mruby/string.h>

#include <string.h>

#include <vector>

#include "engine/engine.h"
#include "engine/script_host.h"
#include "input/controller.h"
#include "render/render_context.h"

enum event_key {
    EK_TYPE, EK_TYPE_ENUM, EK_KEYSYM, EK_TEXT, EK_START, EK_LENGTH, EK_CLICKS, EK_STATE, EK_WHICH, EK_BUTTON,
    EK_FILE, EK_X, EK_Y, EK_XREL, EK_YREL, EK_SYM, EK_SCANCODE, EK_MOD, EK_REPEAT, EK_PRECISE_X, EK_PRECISE_Y,
    EK_DIRECTION, EK_ACTIVATED_ID, EK_ACTIVATED_GLOBAL_AT, EK_COUNT
};

static const char *const key_names[EK_COUNT] = {
    "type", "type_enum", "keysym", "text", "start", "length", "clicks", "state", "which", "button",
    "file", "x", "y", "xrel", "yrel", "sym", "scancode", "mod", "repeat", "precise_x", "precise_y",
    "direction", "activated_id", "activated_global_at",
};

enum event_type_name {
    ET_KEY_DOWN, ET_KEY_UP, ET_UNKNOWN, ET_TEXT_EDITING, ET_TEXT_INPUT, ET_MOUSE_BUTTON, ET_JOYPAD_BUTTON,
    ET_CONTROLLER_BUTTON, ET_DROP_FILE, ET_DROP_TEXT, ET_MOUSE_MOTION, ET_MOUSE_WHEEL, ET_RENDER_DEVICE_RESET,
    ET_RENDER_TARGETS_RESET, ET_USER_EVENT, ET_A11Y_ACTIVATION_EVENT, ET_COUNT
};

static const char *const type_names[ET_COUNT] = {
    "key_down", "key_up", "unknown", "text_editing", "text_input", "mouse_button", "joypad_button",
    "controller_button", "drop_file", "drop_text", "mouse_motion", "mouse_wheel", "render_device_reset",
    "render_targets_reset", "user_event", "a11y_activation_event",
};

static struct {
    mrb_state *mrb;
    mrb_sym key[EK_COUNT];
    mrb_sym type[ET_COUNT];
    mrb_sym raw_event, key_down_raw, key_up_raw, scancode_down_raw, scancode_up_raw, textinput;
    mrb_sym mouse_move_relative, mouse_button_pressed, mouse_button_up, mouse_wheel;
    mrb_sym finger_down, finger_move, finger_up, mouse_focus, keyboard_focus;
} es;

// Active fingers, newest first; they and the counter outlive reboots.
struct finger {
    SDL_TouchID touch;
    SDL_FingerID id;
    int number;
};
static std::vector<finger> fingers;
static int finger_counter;
static int last_mouse[4];

void events_init(mrb_state *mrb)
{
    for (int i = 0; i < EK_COUNT; i++)
        es.key[i] = mrb_intern_cstr(mrb, key_names[i]);
    for (int i = 0; i < ET_COUNT; i++)
        es.type[i] = mrb_intern_cstr(mrb, type_names[i]);
    es.raw_event = mrb_intern_lit(mrb, "raw_event");
    es.key_down_raw = mrb_intern_lit(mrb, "key_down_raw");
    es.key_up_raw = mrb_intern_lit(mrb, "key_up_raw");
    es.scancode_down_raw = mrb_intern_lit(mrb, "scancode_down_raw");
    es.scancode_up_raw = mrb_intern_lit(mrb, "scancode_up_raw");
    es.textinput = mrb_intern_lit(mrb, "textinput");
    es.mouse_move_relative = mrb_intern_lit(mrb, "mouse_move_relative");
    es.mouse_button_pressed = mrb_intern_lit(mrb, "mouse_button_pressed");
    es.mouse_button_up = mrb_intern_lit(mrb, "mouse_button_up");
    es.mouse_wheel = mrb_intern_lit(mrb, "mouse_wheel");
    es.finger_down = mrb_intern_lit(mrb, "finger_down");
    es.finger_move = mrb_intern_lit(mrb, "finger_move");
    es.finger_up = mrb_intern_lit(mrb, "finger_up");
    es.mouse_focus = mrb_intern_lit(mrb, "window_mouse_focus_changed");
    es.keyboard_focus = mrb_intern_lit(mrb, "window_keyboard_focus_changed");
    es.mrb = mrb;
}

void events_last_mouse(int out[4]) { SDL_memcpy(out, last_mouse, sizeof last_mouse); }

// ---------------------------------------------------------------------------
// Script event records

static void put(mrb_state *mrb, mrb_value h, int key, mrb_value v)
{
    mrb_hash_set(mrb, h, mrb_symbol_value(es.key[key]), v);
}

static void put_int(mrb_state *mrb, mrb_value h, int key, mrb_int v) { put(mrb, h, key, mrb_int_value(mrb, v)); }

static void put_type(mrb_state *mrb, mrb_value h, int type) { put(mrb, h, EK_TYPE, mrb_symbol_value(es.type[type])); }

static mrb_value text_value(mrb_state *mrb, const char *text, size_t max)
{
    return text ? mrb_str_new(mrb, text, (mrb_int)strnlen(text, max)) : mrb_str_new_lit(mrb, "");
}

static void fill_record(mrb_state *mrb, render_context *rc, mrb_value h, const SDL_Event *e)
{
    switch (e->type) {
    case SDL_KEYDOWN:
    case SDL_KEYUP: {
        put_type(mrb, h, ET_KEY_DOWN);
        put_int(mrb, h, EK_STATE, e->key.state);
        put_int(mrb, h, EK_REPEAT, e->key.repeat);
        mrb_value keysym = mrb_hash_new_capa(mrb, 3);
        put_int(mrb, keysym, EK_SCANCODE, e->key.keysym.scancode);
        put_int(mrb, keysym, EK_SYM, e->key.keysym.sym);
        put_int(mrb, keysym, EK_MOD, e->key.keysym.mod);
        put(mrb, h, EK_KEYSYM, keysym);
        return;
    }
    case SDL_TEXTEDITING:
        put_type(mrb, h, ET_TEXT_EDITING);
        put(mrb, h, EK_TEXT, text_value(mrb, e->edit.text, sizeof e->edit.text));
        put_int(mrb, h, EK_START, e->edit.start);
        put_int(mrb, h, EK_LENGTH, e->edit.length);
        return;
    case SDL_TEXTINPUT:
        put_type(mrb, h, ET_TEXT_INPUT);
        put(mrb, h, EK_TEXT, text_value(mrb, e->text.text, sizeof e->text.text));
        return;
    case SDL_MOUSEMOTION:
        put_type(mrb, h, ET_MOUSE_MOTION);
        put_int(mrb, h, EK_WHICH, e->motion.which);
        put_int(mrb, h, EK_X, e->motion.x);
        put_int(mrb, h, EK_Y, e->motion.y);
        put_int(mrb, h, EK_XREL, e->motion.xrel);
        put_int(mrb, h, EK_YREL, e->motion.yrel);
        return;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
        put_type(mrb, h, ET_MOUSE_BUTTON);
        put_int(mrb, h, EK_X, e->button.x);
        put_int(mrb, h, EK_Y, e->button.y);
        put_int(mrb, h, EK_CLICKS, e->button.clicks);
        put_int(mrb, h, EK_STATE, e->button.state);
        put_int(mrb, h, EK_WHICH, e->button.which);
        put_int(mrb, h, EK_BUTTON, e->button.button);
        return;
    case SDL_MOUSEWHEEL:
        put_type(mrb, h, ET_MOUSE_WHEEL);
        put_int(mrb, h, EK_WHICH, e->wheel.which);
        put_int(mrb, h, EK_X, e->wheel.x);
        put_int(mrb, h, EK_Y, e->wheel.y);
        put_int(mrb, h, EK_DIRECTION, e->wheel.direction);
        put(mrb, h, EK_PRECISE_X, mrb_float_value(mrb, (mrb_float)e->wheel.x));
        put(mrb, h, EK_PRECISE_Y, mrb_float_value(mrb, (mrb_float)e->wheel.y));
        return;
    case SDL_JOYBUTTONDOWN:
    case SDL_JOYBUTTONUP:
        put_type(mrb, h, ET_JOYPAD_BUTTON);
        put_int(mrb, h, EK_WHICH, e->jbutton.which);
        put_int(mrb, h, EK_BUTTON, e->jbutton.button);
        put_int(mrb, h, EK_STATE, e->jbutton.state);
        return;
    case SDL_CONTROLLERBUTTONDOWN:
    case SDL_CONTROLLERBUTTONUP:
        put_type(mrb, h, ET_CONTROLLER_BUTTON);
        put_int(mrb, h, EK_WHICH, e->cbutton.which);
        put_int(mrb, h, EK_BUTTON, e->cbutton.button);
        put_int(mrb, h, EK_STATE, e->cbutton.state);
        return;
    case SDL_DROPFILE:
    case SDL_DROPTEXT:
        put_type(mrb, h, e->type == SDL_DROPFILE ? ET_DROP_FILE : ET_DROP_TEXT);
        put(mrb, h, EK_FILE, text_value(mrb, e->drop.file, (size_t)-1));
        return;
    case SDL_RENDER_TARGETS_RESET:
        put_type(mrb, h, ET_RENDER_TARGETS_RESET);
        return;
    case SDL_RENDER_DEVICE_RESET:
        put_type(mrb, h, ET_RENDER_DEVICE_RESET);
        return;
    default:
        break;
    }
    if (rc && rc->user_event_types[0] && e->type == rc->user_event_types[0]) {
        // The activated element's id is the event's own copy: it is freed
        // here, once, whatever the record turns out to be.
        char *id = (char *)e->user.data1;
        const int at = SDL_AtomicGet(&atomic_a11y_activation_occurred_at);
        if (at != 0 && (Uint32)e->user.code == rc->user_event_types[0] && id && *id) {
            put_type(mrb, h, ET_A11Y_ACTIVATION_EVENT);
            put(mrb, h, EK_ACTIVATED_ID, mrb_str_new_cstr(mrb, id));
            put_int(mrb, h, EK_ACTIVATED_GLOBAL_AT, at);
            SDL_AtomicSet(&atomic_a11y_activation_occurred_at, 0);
        } else {
            put_type(mrb, h, ET_UNKNOWN);
        }
        SDL_free(id);
        return;
    }
    put_type(mrb, h, ET_UNKNOWN);
}

mrb_value events_process_raw(render_context *rc, const SDL_Event *e)
{
    mrb_state *mrb = script_host_mrb();
    if (!mrb || es.mrb != mrb)
        return mrb_nil_value();
    mrb_value h = mrb_hash_new_capa(mrb, 8);
    put_int(mrb, h, EK_TYPE_ENUM, e->type);
    fill_record(mrb, rc, h, e);
    return script_host_call(es.raw_event, 1, &h);
}

// ---------------------------------------------------------------------------
// Engine-side handling

static void call(mrb_sym mid, mrb_int argc, const mrb_value *argv) { script_host_call(mid, argc, argv); }

static void call_ints(mrb_sym mid, mrb_int a, mrb_int b)
{
    mrb_state *mrb = script_host_mrb();
    mrb_value v[2] = {mrb_int_value(mrb, a), mrb_int_value(mrb, b)};
    call(mid, 2, v);
}

// Window pixels to canvas units: divided by the render scale, less the
// letterbox offsets (also in window pixels).
struct canvas_map {
    float s, ox, oy;
};

static canvas_map canvas_map_of(const render_context *rc)
{
    canvas_map m = {1.0f, 0.0f, 0.0f};
    if (rc) {
        if (rc->render_scale > 0.0f)
            m.s = rc->render_scale;
        m.ox = (float)rc->offset_x;
        m.oy = (float)rc->offset_y;
    }
    return m;
}

static finger *find_finger(SDL_TouchID touch, SDL_FingerID id)
{
    for (finger &f : fingers)
        if (f.touch == touch && f.id == id)
            return &f;
    return nullptr;
}

static void handle_finger(render_context *rc, const SDL_Event *e)
{
    mrb_state *mrb = script_host_mrb();
    const canvas_map m = canvas_map_of(rc);
    const float ow = rc ? (float)rc->output_w : 1280.0f, oh = rc ? (float)rc->output_h : 720.0f;
    const mrb_int x = (mrb_int)(e->tfinger.x * ow / m.s - m.ox / m.s);
    const mrb_int y = (mrb_int)(e->tfinger.y * oh / m.s - m.oy / m.s);
    if (e->type == SDL_FINGERDOWN) {
        const int number = finger_counter < 0 ? 1 : finger_counter + 1;
        finger_counter = number;
        fingers.insert(fingers.begin(), finger{e->tfinger.touchId, e->tfinger.fingerId, number});
        mrb_value v[3] = {mrb_int_value(mrb, number), mrb_int_value(mrb, x), mrb_int_value(mrb, y)};
        call(es.finger_down, 3, v);
        return;
    }
    finger *f = find_finger(e->tfinger.touchId, e->tfinger.fingerId);
    if (!f)
        return;
    mrb_value number = mrb_int_value(mrb, f->number);
    if (e->type == SDL_FINGERMOTION) {
        mrb_value v[3] = {number, mrb_int_value(mrb, x), mrb_int_value(mrb, y)};
        call(es.finger_move, 3, v);
    } else {
        fingers.erase(fingers.begin() + (f - fingers.data()));
        call(es.finger_up, 1, &number);
    }
}

static void handle_window(render_context *rc, const SDL_Event *e)
{
    if (!rc || e->window.windowID != rc->window_id)
        return;
    mrb_value on = mrb_true_value(), off = mrb_false_value();
    switch (e->window.event) {
    case SDL_WINDOWEVENT_ENTER:
    case SDL_WINDOWEVENT_LEAVE:
        rc->mouse_focus = e->window.event == SDL_WINDOWEVENT_ENTER;
        call(es.mouse_focus, 1, rc->mouse_focus ? &on : &off);
        break;
    case SDL_WINDOWEVENT_FOCUS_GAINED:
    case SDL_WINDOWEVENT_FOCUS_LOST:
        rc->keyboard_focus = e->window.event == SDL_WINDOWEVENT_FOCUS_GAINED;
        call(es.keyboard_focus, 1, rc->keyboard_focus ? &on : &off);
        break;
    default:
        break;
    }
}

void events_process(render_context *rc, const SDL_Event *e, game *g)
{
    mrb_state *mrb = script_host_mrb();
    if (!mrb || es.mrb != mrb)
        return;
    const int arena = mrb_gc_arena_save(mrb);
    events_process_raw(rc, e);
    switch (e->type) {
    case SDL_QUIT:
        if (g)
            g->window_close_requested = 1;
        break;
    case SDL_WINDOWEVENT:
        handle_window(rc, e);
        break;
    case SDL_KEYDOWN:
        call_ints(es.key_down_raw, e->key.keysym.sym, e->key.keysym.mod);
        call_ints(es.scancode_down_raw, e->key.keysym.scancode, e->key.keysym.mod);
        break;
    case SDL_KEYUP:
        call_ints(es.key_up_raw, e->key.keysym.sym, e->key.keysym.mod);
        call_ints(es.scancode_up_raw, e->key.keysym.scancode, e->key.keysym.mod);
        break;
    case SDL_TEXTINPUT: {
        mrb_value text = text_value(mrb, e->text.text, sizeof e->text.text);
        call(es.textinput, 1, &text);
        break;
    }
    case SDL_MOUSEMOTION:
        if (e->motion.which != SDL_TOUCH_MOUSEID) {
            const canvas_map m = canvas_map_of(rc);
            last_mouse[0] = (int)((float)e->motion.x / m.s - m.ox / m.s);
            last_mouse[1] = (int)((float)e->motion.y / m.s - m.oy / m.s + 1.0f);
            last_mouse[2] = e->motion.xrel;
            last_mouse[3] = e->motion.yrel;
            mrb_value v[4];
            for (int i = 0; i < 4; i++)
                v[i] = mrb_int_value(mrb, last_mouse[i]);
            call(es.mouse_move_relative, 4, v);
        }
        break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
        if (e->button.which != SDL_TOUCH_MOUSEID) {
            mrb_value button = mrb_int_value(mrb, e->button.button);
            call(e->type == SDL_MOUSEBUTTONDOWN ? es.mouse_button_pressed : es.mouse_button_up, 1, &button);
        }
        break;
    case SDL_MOUSEWHEEL:
        if (e->wheel.which != SDL_TOUCH_MOUSEID) {
            mrb_value v[3] = {mrb_int_value(mrb, e->wheel.x), mrb_int_value(mrb, e->wheel.y),
                              mrb_bool_value(e->wheel.direction == SDL_MOUSEWHEEL_FLIPPED)};
            call(es.mouse_wheel, 3, v);
        }
        break;
    case SDL_FINGERDOWN:
    case SDL_FINGERMOTION:
    case SDL_FINGERUP:
        if (e->tfinger.touchId != SDL_MOUSE_TOUCHID)
            handle_finger(rc, e);
        break;
    default:
        controller_handle_event(g, e);
        break;
    }
    mrb_gc_arena_restore(mrb, arena);
}
