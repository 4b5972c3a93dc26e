// Game controllers and joysticks. Player slots one to four hold SDL game
// controllers in order of connection; each step polls them into the game
// record's 30 key slots per player (0 idle, 1 pressed, 2 held, 3 released;
// the step's key-state pass reports and advances them) and into the stick
// values. Joysticks that are not game controllers (or all of them, by
// `controller.config_ui`) are opened raw and reported by instance id.
// Depends on SDL's controller API, cvars, the log and the script host's
// protected calls; runs on the simulation thread only.
#include "input/controller.h"

#include <mruby.h>
#include <mruby/string.h>

#include "config/cvar.h"
#include "engine/script_host.h"
#include "log/log.h"

#define STICK_THRESHOLD 20000

static SDL_GameController *player_controllers[GAME_PLAYERS];

// Raw joysticks we opened, so a repeated added event does not open (and
// report) the same device twice and a removed one can be closed.
static SDL_Joystick **raw_joysticks;
static int raw_count;
static int raw_capacity;

static struct {
    mrb_sym connected[GAME_PLAYERS];
    mrb_sym disconnected[GAME_PLAYERS];
    mrb_sym raw_connected;
    mrb_sym raw_disconnected;
    mrb_sym raw_axis;
    mrb_sym raw_hat;
    mrb_sym raw_button;
} sym;

static const char *const player_words[GAME_PLAYERS] = {"one", "two", "three", "four"};

// Buttons that map one to one onto a key slot.
static const struct {
    int slot;
    SDL_GameControllerButton button;
} button_slots[] = {
    {13, SDL_CONTROLLER_BUTTON_START},        {14, SDL_CONTROLLER_BUTTON_B},
    {15, SDL_CONTROLLER_BUTTON_A},            {16, SDL_CONTROLLER_BUTTON_X},
    {17, SDL_CONTROLLER_BUTTON_Y},            {18, SDL_CONTROLLER_BUTTON_LEFTSHOULDER},
    {19, SDL_CONTROLLER_BUTTON_RIGHTSHOULDER}, {20, SDL_CONTROLLER_BUTTON_LEFTSTICK},
    {21, SDL_CONTROLLER_BUTTON_RIGHTSTICK},   {24, SDL_CONTROLLER_BUTTON_DPAD_UP},
    {25, SDL_CONTROLLER_BUTTON_DPAD_DOWN},    {26, SDL_CONTROLLER_BUTTON_DPAD_LEFT},
    {27, SDL_CONTROLLER_BUTTON_DPAD_RIGHT},   {28, SDL_CONTROLLER_BUTTON_BACK},
    {29, SDL_CONTROLLER_BUTTON_GUIDE},
};

void controller_init(mrb_state *mrb)
{
    static const char *const connected[GAME_PLAYERS] = {"controller_one_connected", "controller_two_connected",
                                                        "controller_three_connected", "controller_four_connected"};
    static const char *const disconnected[GAME_PLAYERS] = {
        "controller_one_disconnected", "controller_two_disconnected", "controller_three_disconnected",
        "controller_four_disconnected"};
    for (int p = 0; p < GAME_PLAYERS; p++) {
        sym.connected[p] = mrb_intern_cstr(mrb, connected[p]);
        sym.disconnected[p] = mrb_intern_cstr(mrb, disconnected[p]);
    }
    sym.raw_connected = mrb_intern_lit(mrb, "rawjoystick_connected");
    sym.raw_disconnected = mrb_intern_lit(mrb, "rawjoystick_disconnected");
    sym.raw_axis = mrb_intern_lit(mrb, "rawjoystick_axis");
    sym.raw_hat = mrb_intern_lit(mrb, "rawjoystick_hat");
    sym.raw_button = mrb_intern_lit(mrb, "rawjoystick_button");
}

// SDL answers null for a device without a name or mapping; logs show a
// placeholder, the runtime gets an empty String.
static const char *or_none(const char *s) { return s ? s : "(none)"; }

static Sint32 config_ui(void)
{
    Sint32 *v = cvar_get_int("controller.config_ui");
    return v ? *v : 0;
}

// Calls the runtime with plain integer arguments (no host: nothing).
static void call_ints(mrb_sym mid, int argc, const Sint32 *ints)
{
    if (!script_host_mrb())
        return;
    mrb_value argv[3];
    for (int i = 0; i < argc; i++)
        argv[i] = mrb_fixnum_value(ints[i]);
    script_host_call(mid, argc, argv);
}

static mrb_value string_or_empty(mrb_state *mrb, const char *s) { return mrb_str_new_cstr(mrb, s ? s : ""); }

static void call_connected(int player, const char *name)
{
    mrb_state *mrb = script_host_mrb();
    if (!mrb)
        return;
    int arena = mrb_gc_arena_save(mrb);
    mrb_value v = string_or_empty(mrb, name);
    script_host_call(sym.connected[player], 1, &v);
    mrb_gc_arena_restore(mrb, arena);
}

static void call_raw_connected(SDL_JoystickID id, const char *name, const char *guid)
{
    mrb_state *mrb = script_host_mrb();
    if (!mrb)
        return;
    int arena = mrb_gc_arena_save(mrb);
    mrb_value argv[3] = {mrb_fixnum_value(id), string_or_empty(mrb, name), string_or_empty(mrb, guid)};
    script_host_call(sym.raw_connected, 3, argv);
    mrb_gc_arena_restore(mrb, arena);
}

static int player_of_instance(SDL_JoystickID id)
{
    for (int p = 0; p < GAME_PLAYERS; p++)
        if (player_controllers[p] &&
            SDL_JoystickInstanceID(SDL_GameControllerGetJoystick(player_controllers[p])) == id)
            return p;
    return -1;
}

static void open_game_controller(int index)
{
    // SDL can announce a device that is already open (a mapping added for a
    // connected pad, the initial device scan); opening it again would hand
    // the same handle to a second player.
    int already = player_of_instance(SDL_JoystickGetDeviceInstanceID(index));
    if (already >= 0) {
        log_info("Engine", "Game controller idx=%d is already player %s's controller, ignoring.", index,
                 player_words[already]);
        return;
    }

    SDL_GameController *gc = SDL_GameControllerOpen(index);
    if (!gc) {
        log_error("Engine", "Failed to open new controller! (%s)", SDL_GetError());
        return;
    }
    SDL_Joystick *joy = SDL_GameControllerGetJoystick(gc);
    SDL_JoystickGUID guid = SDL_JoystickGetGUID(joy);
    char guid_text[33];
    SDL_JoystickGetGUIDString(guid, guid_text, sizeof guid_text);
    char *mapping = SDL_GameControllerMappingForGUID(guid);
    const char *name = SDL_GameControllerName(gc);

    log_info("Engine", "New controller info:");
    log_info("Engine", "  Instance: %d", (int)SDL_JoystickInstanceID(joy));
    log_info("Engine", "  Device name: %s", or_none(name));
    log_info("Engine", "  Player index: %d", SDL_GameControllerGetPlayerIndex(gc));
    log_info("Engine", "  GUID: %s", guid_text);
    log_info("Engine", "  USB Vendor: 0x%X", (unsigned)SDL_GameControllerGetVendor(gc));
    log_info("Engine", "  USB Product: 0x%X", (unsigned)SDL_GameControllerGetProduct(gc));
    log_info("Engine", "  USB Product version: 0x%X", (unsigned)SDL_GameControllerGetProductVersion(gc));
    log_info("Engine", "  Controller Mapping: %s", or_none(mapping));
    SDL_free(mapping);

    for (int p = 0; p < GAME_PLAYERS; p++) {
        if (player_controllers[p])
            continue;
        call_connected(p, name);
        player_controllers[p] = gc;
        log_info("Engine", "  Assigned to: player %d", p + 1);
        return;
    }
    log_info("Engine", "No available controller slots, ignoring.");
    SDL_GameControllerClose(gc);
}

static void controller_removed(SDL_JoystickID id)
{
    int p = player_of_instance(id);
    if (p < 0) {
        // Not one of ours: we hold no reference to close, only name it.
        SDL_GameController *other = SDL_GameControllerFromInstanceID(id);
        log_info("Engine", "Game controller disconnect: instance=%d (%s)", (int)id,
                 other ? or_none(SDL_GameControllerName(other)) : "[unknown]");
        if (other)
            log_info("Engine", "This controller was not assigned to a player.");
        return;
    }
    SDL_GameController *gc = player_controllers[p];
    log_info("Engine", "Game controller disconnect: instance=%d (%s)", (int)id, or_none(SDL_GameControllerName(gc)));
    log_info("Engine", "This was player %s's controller.", player_words[p]);
    call_ints(sym.disconnected[p], 0, nullptr);
    // The slot is empty from here on, so the next poll turns the player's
    // held keys into releases and the game sees them go up.
    player_controllers[p] = nullptr;
    SDL_GameControllerClose(gc);
}

static int raw_find(SDL_JoystickID id)
{
    for (int i = 0; i < raw_count; i++)
        if (SDL_JoystickInstanceID(raw_joysticks[i]) == id)
            return i;
    return -1;
}

static int raw_remember(SDL_Joystick *joy)
{
    if (raw_count == raw_capacity) {
        int cap = raw_capacity ? raw_capacity * 2 : 8;
        SDL_Joystick **grown = (SDL_Joystick **)SDL_realloc(raw_joysticks, sizeof *grown * cap);
        if (!grown)
            return 0;
        raw_joysticks = grown;
        raw_capacity = cap;
    }
    raw_joysticks[raw_count++] = joy;
    return 1;
}

static void joystick_added(int index)
{
    Sint32 ui = config_ui();
    if (ui < 0) {
        log_info("Engine", "New non-controller joystick connected, but cvar_controller_config_ui is set to not "
                           "configure them. Ignoring.");
        return;
    }
    if (ui == 0 && SDL_IsGameController(index))
        return;

    const char *name = SDL_JoystickNameForIndex(index);
    Uint16 vendor = SDL_JoystickGetDeviceVendor(index);
    Uint16 product = SDL_JoystickGetDeviceProduct(index);
    // A 3D mouse that presents itself as a joystick: its constant axis
    // noise would flood the configuration screen.
    bool ignore = vendor == 0x046D && product == 0xC626;
    log_info("Engine", "New non-controller joystick connected! idx=%d name='%s' vendor=0x%X, product=0x%X, ignore=%s",
             index, or_none(name), (unsigned)vendor, (unsigned)product, ignore ? "true" : "false");
    if (ignore)
        return;

    SDL_JoystickID known = SDL_JoystickGetDeviceInstanceID(index);
    if (known != -1 && raw_find(known) >= 0) {
        log_info("Engine", "Joystick idx %d (jid %d) is already open, ignoring.", index, (int)known);
        return;
    }

    SDL_Joystick *joy = SDL_JoystickOpen(index);
    if (!joy) {
        log_error("Engine", "Failed to open joystick idx %d ('%s'): %s", index, or_none(name), SDL_GetError());
        return;
    }
    SDL_JoystickID id = SDL_JoystickInstanceID(joy);
    if (id == -1) {
        log_error("Engine", "Failed get jid for joystick idx %d ('%s'): %s", index, or_none(name), SDL_GetError());
        SDL_JoystickClose(joy);
        return;
    }
    if (!raw_remember(joy)) {
        log_error("Engine", "Failed to open joystick idx %d ('%s'): %s", index, or_none(name), "Out of memory");
        SDL_JoystickClose(joy);
        return;
    }
    // The name of the opened joystick outlives the index-based one.
    name = SDL_JoystickName(joy);
    char guid_text[33];
    SDL_JoystickGetGUIDString(SDL_JoystickGetGUID(joy), guid_text, sizeof guid_text);
    log_info("Engine", "Opened joystick '%s': idx=%d jid=%u guid='%s'", or_none(name), index, (unsigned)id, guid_text);
    call_raw_connected(id, name, guid_text);
}

static void joystick_removed(SDL_JoystickID id)
{
    log_info("Engine", "Joystick jid %u disconnected.", (unsigned)id);
    Sint32 arg = id;
    call_ints(sym.raw_disconnected, 1, &arg);
    int i = raw_find(id);
    if (i >= 0) {
        SDL_JoystickClose(raw_joysticks[i]);
        raw_joysticks[i] = raw_joysticks[--raw_count];
    }
}

void controller_handle_event(game *g, const SDL_Event *e)
{
    switch (e->type) {
    case SDL_CONTROLLERDEVICEADDED:
        log_info("Engine", "Game controller connect: idx=%d (%s)", (int)e->cdevice.which,
                 or_none(SDL_GameControllerNameForIndex(e->cdevice.which)));
        if (config_ui() < 1)
            open_game_controller(e->cdevice.which);
        break;
    case SDL_CONTROLLERDEVICEREMOVED:
        controller_removed(e->cdevice.which);
        break;
    case SDL_JOYDEVICEADDED:
        joystick_added(e->jdevice.which);
        break;
    case SDL_JOYDEVICEREMOVED:
        joystick_removed(e->jdevice.which);
        break;
    case SDL_JOYAXISMOTION: {
        Sint32 a[3] = {e->jaxis.which, e->jaxis.axis, e->jaxis.value};
        call_ints(sym.raw_axis, 3, a);
        break;
    }
    case SDL_JOYHATMOTION: {
        Sint32 a[3] = {e->jhat.which, e->jhat.hat, e->jhat.value};
        call_ints(sym.raw_hat, 3, a);
        break;
    }
    case SDL_JOYBUTTONDOWN:
    case SDL_JOYBUTTONUP: {
        if (!script_host_mrb())
            break;
        mrb_value a[3] = {mrb_fixnum_value(e->jbutton.which), mrb_fixnum_value(e->jbutton.button),
                          mrb_bool_value(e->jbutton.state == SDL_PRESSED)};
        script_host_call(sym.raw_button, 3, a);
        break;
    }
    default:
        break;
    }
}

static void poll_player_controller(game *g, int player, Sint16 sticks[4])
{
    bool pressed[GAME_KEY_SLOTS] = {};
    sticks[0] = sticks[1] = sticks[2] = sticks[3] = 0;

    SDL_GameController *gc = player_controllers[player - 1];
    if (gc) {
        sticks[0] = SDL_GameControllerGetAxis(gc, SDL_CONTROLLER_AXIS_LEFTX);
        sticks[1] = SDL_GameControllerGetAxis(gc, SDL_CONTROLLER_AXIS_LEFTY);
        sticks[2] = SDL_GameControllerGetAxis(gc, SDL_CONTROLLER_AXIS_RIGHTX);
        sticks[3] = SDL_GameControllerGetAxis(gc, SDL_CONTROLLER_AXIS_RIGHTY);
        for (const auto &b : button_slots)
            pressed[b.slot] = SDL_GameControllerGetButton(gc, b.button) != 0;
        pressed[1] = sticks[1] < -STICK_THRESHOLD || pressed[24];
        pressed[2] = sticks[1] > STICK_THRESHOLD || pressed[25];
        pressed[3] = sticks[0] < -STICK_THRESHOLD || pressed[26];
        pressed[4] = sticks[0] > STICK_THRESHOLD || pressed[27];
        int lt = SDL_GameControllerGetAxis(gc, SDL_CONTROLLER_AXIS_TRIGGERLEFT);
        int rt = SDL_GameControllerGetAxis(gc, SDL_CONTROLLER_AXIS_TRIGGERRIGHT);
        pressed[22] = SDL_abs(lt) > STICK_THRESHOLD;
        pressed[23] = SDL_abs(rt) > STICK_THRESHOLD;
    }

    // A pending press (1) waits to be reported, a held key (2) stays held,
    // a release of a held key becomes 3 until the key-state pass reports it.
    int *states = g->key_states[player - 1];
    for (int k = 0; k < GAME_KEY_SLOTS; k++) {
        if (pressed[k] && states[k] != 2)
            states[k] = 1;
        else if (!pressed[k] && states[k] == 2)
            states[k] = 3;
    }
}

void controller_poll(game *g, Sint16 axes[4][4])
{
    for (int p = 1; p <= GAME_PLAYERS; p++)
        poll_player_controller(g, p, axes[p - 1]);
}

void controller_close_all(void)
{
    for (SDL_GameController *&gc : player_controllers) {
        if (gc)
            SDL_GameControllerClose(gc);
        gc = nullptr;
    }
    for (int i = 0; i < raw_count; i++)
        SDL_JoystickClose(raw_joysticks[i]);
    SDL_free(raw_joysticks);
    raw_joysticks = nullptr;
    raw_count = raw_capacity = 0;
}
