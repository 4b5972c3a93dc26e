// Controllers and raw joysticks through SDL virtual joysticks inside the
// process: hot plug into the four player slots, the press cycle over steps,
// stick and trigger thresholds, disconnects, `controller.config_ui` and raw
// joystick reports. The script host's calls are recorded as text.
#include <gtest/gtest.h>

#include <mruby.h>
#include <mruby/string.h>

#include <deque>
#include <set>
#include <string>
#include <vector>

#include "config/cvar.h"
#include "engine/script_host.h"
#include "input/controller.h"
#include "log_capture.h"

game the_game;

namespace {

mrb_state *test_mrb;
std::vector<std::string> calls;

}   // namespace

// The script host's entry points, recorded as "name(arg, arg)".
mrb_value script_host_call(mrb_sym mid, mrb_int argc, const mrb_value *argv)
{
    std::string s = mrb_sym_name(test_mrb, mid);
    s += "(";
    for (mrb_int i = 0; i < argc; i++) {
        mrb_value v = mrb_inspect(test_mrb, argv[i]);
        if (i)
            s += ", ";
        s.append(RSTRING_PTR(v), RSTRING_LEN(v));
    }
    calls.push_back(s + ")");
    return mrb_nil_value();
}

mrb_state *script_host_mrb(void) { return test_mrb; }

namespace {

const Uint16 PAD_VENDOR = 0x1234, PAD_PRODUCT = 0x5678;

struct device {
    SDL_JoystickID id = -1;
    SDL_Joystick *joy = nullptr;   // the test's own handle, for setting values
};

SDL_VirtualJoystickDesc pad_desc()
{
    SDL_VirtualJoystickDesc d;
    SDL_zero(d);
    d.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
    d.type = SDL_JOYSTICK_TYPE_GAMECONTROLLER;
    d.naxes = 6;
    d.nbuttons = 15;
    d.nhats = 0;
    d.vendor_id = PAD_VENDOR;
    d.product_id = PAD_PRODUCT;
    d.name = "Test Pad";
    return d;
}

SDL_VirtualJoystickDesc stick_desc(Uint16 vendor = 0x1111, Uint16 product = 0x2222)
{
    SDL_VirtualJoystickDesc d;
    SDL_zero(d);
    d.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
    d.type = SDL_JOYSTICK_TYPE_UNKNOWN;
    d.naxes = 2;
    d.nbuttons = 4;
    d.nhats = 1;
    d.vendor_id = vendor;
    d.product_id = product;
    d.name = "Stick";
    return d;
}

int index_of(SDL_JoystickID id)
{
    for (int i = 0; i < SDL_NumJoysticks(); i++)
        if (SDL_JoystickGetDeviceInstanceID(i) == id)
            return i;
    return -1;
}

std::string guid_text(SDL_JoystickGUID g)
{
    char buf[33];
    SDL_JoystickGetGUIDString(g, buf, sizeof buf);
    return buf;
}

// The pad layout in SDL's button order; the triggers read the positive half
// of their axes, so the virtual axis value is the trigger value.
std::string pad_mapping;

class ControllerTest : public ::testing::Test {
protected:
    Sint32 config_ui = 0;
    std::deque<device> devices;   // stable references across attach
    Sint16 axes[4][4];

    static void SetUpTestSuite()
    {
        SDL_setenv("SDL_VIDEODRIVER", "dummy", 1);
        ASSERT_EQ(SDL_Init(SDL_INIT_GAMECONTROLLER | SDL_INIT_JOYSTICK), 0) << SDL_GetError();
        test_mrb = mrb_open();
        controller_init(test_mrb);

        // A mapping for a virtual GUID matches only with its CRC (hex
        // characters 4 to 7) written as zeros; learn the GUID from a probe.
        SDL_VirtualJoystickDesc d = pad_desc();
        int i = SDL_JoystickAttachVirtualEx(&d);
        ASSERT_GE(i, 0) << SDL_GetError();
        std::string g = guid_text(SDL_JoystickGetDeviceGUID(i));
        SDL_JoystickDetachVirtual(i);
        g.replace(4, 4, "0000");
        pad_mapping = g + ",Test Pad,a:b0,b:b1,x:b2,y:b3,back:b4,guide:b5,start:b6,leftstick:b7,rightstick:b8,"
                          "leftshoulder:b9,rightshoulder:b10,dpup:b11,dpdown:b12,dpleft:b13,dpright:b14,"
                          "leftx:a0,lefty:a1,rightx:a2,righty:a3,lefttrigger:+a4,righttrigger:+a5";
        ASSERT_GE(SDL_GameControllerAddMapping(pad_mapping.c_str()), 0) << SDL_GetError();
        SDL_Event e;
        SDL_PumpEvents();
        while (SDL_PollEvent(&e)) {
        }
    }

    static void TearDownTestSuite()
    {
        mrb_close(test_mrb);
        test_mrb = nullptr;
        SDL_Quit();
    }

    void SetUp() override
    {
        cvar_quit();
        cvar_set("log.level", "spam");
        cvar_set("log.stdout", "false");
        cvar_set("log.filename", "");
        ASSERT_TRUE(log_init());
        ASSERT_TRUE(log_ready());
        ASSERT_TRUE(cvar_register_int("controller.config_ui", "", &config_ui, 0));
        SDL_zero(the_game.key_states);
        drain_log();
        calls.clear();
    }

    void TearDown() override
    {
        for (device &d : devices)
            if (d.id != -1)
                detach(d);
        pump();
        controller_close_all();
        log_quit();
        cvar_quit();
    }

    device &attach(SDL_VirtualJoystickDesc d)
    {
        int i = SDL_JoystickAttachVirtualEx(&d);
        EXPECT_GE(i, 0) << SDL_GetError();
        device dev;
        dev.id = SDL_JoystickGetDeviceInstanceID(i);
        devices.push_back(dev);
        return devices.back();
    }

    SDL_Joystick *handle(device &d)
    {
        if (!d.joy)
            d.joy = SDL_JoystickOpen(index_of(d.id));
        return d.joy;
    }

    void detach(device &d)
    {
        SDL_JoystickDetachVirtual(index_of(d.id));
        if (d.joy)
            SDL_JoystickClose(d.joy);
        d.joy = nullptr;
        d.id = -1;
    }

    static void pump()
    {
        SDL_Event e;
        SDL_PumpEvents();
        while (SDL_PollEvent(&e))
            controller_handle_event(&the_game, &e);
    }

    // One step's controller work in the loop's order: report the key
    // states, handle the events, poll.
    void step()
    {
        static const char *const names[4] = {nullptr, "controller_key_down", "controller_key_held",
                                             "controller_key_up"};
        for (int p = 0; p < 4; p++)
            for (int k = 0; k < 30; k++) {
                int &s = the_game.key_states[p][k];
                if (s == 0)
                    continue;
                calls.push_back(std::string(names[s]) + "(" + std::to_string(p + 1) + ", " + std::to_string(k) + ")");
                s = s == 1 ? 2 : s == 3 ? 0 : 2;
            }
        pump();
        controller_poll(&the_game, axes);
    }

    // The recorded calls without the raw joystick echo that every opened
    // pad also produces.
    static std::vector<std::string> player_calls()
    {
        std::vector<std::string> out;
        for (const auto &c : calls)
            if (c.rfind("rawjoystick_", 0) != 0)
                out.push_back(c);
        return out;
    }

    static std::vector<std::string> messages(const std::vector<logged> &log)
    {
        std::vector<std::string> out;
        for (const auto &e : log)
            out.push_back(e.message);
        return out;
    }

    static bool contains(const std::vector<std::string> &v, const std::string &s)
    {
        for (const auto &x : v)
            if (x == s)
                return true;
        return false;
    }

    std::set<int> pending_presses(int player)
    {
        std::set<int> out;
        for (int k = 0; k < 30; k++)
            if (the_game.key_states[player - 1][k] == 1)
                out.insert(k);
        return out;
    }
};

TEST_F(ControllerTest, HotPlugFillsFourSlotsRefusesTheFifthAndReusesFreedSlots)
{
    device *pads[5];
    for (int i = 0; i < 5; i++)
        pads[i] = &attach(pad_desc());
    pump();
    EXPECT_EQ(player_calls(),
              (std::vector<std::string>{"controller_one_connected(\"Test Pad\")", "controller_two_connected(\"Test Pad\")",
                                        "controller_three_connected(\"Test Pad\")",
                                        "controller_four_connected(\"Test Pad\")"}));

    auto log = messages(drain_log());
    SDL_Joystick *first = handle(*pads[0]);
    char *mapping = SDL_GameControllerMappingForGUID(SDL_JoystickGetGUID(first));
    ASSERT_NE(mapping, nullptr);
    const std::vector<std::string> first_block = {
        "Game controller connect: idx=0 (Test Pad)",
        "New controller info:",
        "  Instance: " + std::to_string(pads[0]->id),
        "  Device name: Test Pad",
        "  Player index: " + std::to_string(SDL_JoystickGetPlayerIndex(first)),
        "  GUID: " + guid_text(SDL_JoystickGetGUID(first)),
        "  USB Vendor: 0x1234",
        "  USB Product: 0x5678",
        "  USB Product version: 0x0",
        std::string("  Controller Mapping: ") + mapping,
        "  Assigned to: player 1",
    };
    SDL_free(mapping);
    ASSERT_GE(log.size(), first_block.size());
    EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + first_block.size()), first_block);
    EXPECT_TRUE(contains(log, "  Assigned to: player 4"));
    EXPECT_TRUE(contains(log, "No available controller slots, ignoring."));
    EXPECT_FALSE(contains(log, "  Assigned to: player 5"));
    EXPECT_EQ(SDL_GameControllerFromInstanceID(pads[4]->id), nullptr) << "the refused pad is closed again";

    // An added event for a device that already has a slot opens nothing.
    calls.clear();
    SDL_Event again;
    SDL_zero(again);
    again.type = SDL_CONTROLLERDEVICEADDED;
    again.cdevice.which = index_of(pads[1]->id);
    controller_handle_event(&the_game, &again);
    EXPECT_EQ(player_calls(), std::vector<std::string>{});
    EXPECT_TRUE(contains(messages(drain_log()),
                         "Game controller idx=" + std::to_string(again.cdevice.which) +
                             " is already player two's controller, ignoring."));

    // Player one leaves; the next pad takes the freed first slot.
    SDL_JoystickID gone = pads[0]->id;
    detach(*pads[0]);
    pump();
    EXPECT_EQ(player_calls(), std::vector<std::string>{"controller_one_disconnected()"});
    log = messages(drain_log());
    EXPECT_TRUE(contains(log, "Game controller disconnect: instance=" + std::to_string(gone) + " (Test Pad)"));
    EXPECT_TRUE(contains(log, "This was player one's controller."));
    EXPECT_EQ(SDL_GameControllerFromInstanceID(gone), nullptr) << "the removed pad is closed";

    calls.clear();
    attach(pad_desc());
    pump();
    EXPECT_EQ(player_calls(), std::vector<std::string>{"controller_one_connected(\"Test Pad\")"});

    // The removal of a controller nobody holds is only named.
    calls.clear();
    drain_log();
    SDL_Event removed;
    SDL_zero(removed);
    removed.type = SDL_CONTROLLERDEVICEREMOVED;
    removed.cdevice.which = 987654;
    controller_handle_event(&the_game, &removed);
    EXPECT_EQ(calls, std::vector<std::string>{});
    EXPECT_EQ(messages(drain_log()), std::vector<std::string>{"Game controller disconnect: instance=987654 ([unknown])"});
}

TEST_F(ControllerTest, HeldButtonGoesDownHeldUpOverSteps)
{
    device &pad = attach(pad_desc());
    step();
    calls.clear();
    SDL_Joystick *j = handle(pad);

    SDL_JoystickSetVirtualButton(j, SDL_CONTROLLER_BUTTON_A, 1);
    step();   // polled: pending press
    EXPECT_EQ(player_calls(), std::vector<std::string>{});
    step();   // reported down
    step();   // held
    SDL_JoystickSetVirtualButton(j, SDL_CONTROLLER_BUTTON_A, 0);
    step();   // still reported held, release polled
    step();   // reported up
    step();   // idle
    EXPECT_EQ(player_calls(), (std::vector<std::string>{"controller_key_down(1, 15)", "controller_key_held(1, 15)",
                                                        "controller_key_held(1, 15)", "controller_key_up(1, 15)"}));
}

TEST_F(ControllerTest, ButtonsSticksAndTriggersPressTheirSlots)
{
    device &pad = attach(pad_desc());
    step();
    SDL_Joystick *j = handle(pad);
    struct input {
        bool axis;
        int which;
        Sint16 value;
        std::set<int> slots;
    };
    const input cases[] = {
        {false, SDL_CONTROLLER_BUTTON_DPAD_UP, 1, {1, 24}},
        {false, SDL_CONTROLLER_BUTTON_DPAD_DOWN, 1, {2, 25}},
        {false, SDL_CONTROLLER_BUTTON_DPAD_LEFT, 1, {3, 26}},
        {false, SDL_CONTROLLER_BUTTON_DPAD_RIGHT, 1, {4, 27}},
        {false, SDL_CONTROLLER_BUTTON_START, 1, {13}},
        {false, SDL_CONTROLLER_BUTTON_B, 1, {14}},
        {false, SDL_CONTROLLER_BUTTON_A, 1, {15}},
        {false, SDL_CONTROLLER_BUTTON_X, 1, {16}},
        {false, SDL_CONTROLLER_BUTTON_Y, 1, {17}},
        {false, SDL_CONTROLLER_BUTTON_LEFTSHOULDER, 1, {18}},
        {false, SDL_CONTROLLER_BUTTON_RIGHTSHOULDER, 1, {19}},
        {false, SDL_CONTROLLER_BUTTON_LEFTSTICK, 1, {20}},
        {false, SDL_CONTROLLER_BUTTON_RIGHTSTICK, 1, {21}},
        {false, SDL_CONTROLLER_BUTTON_BACK, 1, {28}},
        {false, SDL_CONTROLLER_BUTTON_GUIDE, 1, {29}},
        {true, SDL_CONTROLLER_AXIS_LEFTX, 25000, {4}},
        {true, SDL_CONTROLLER_AXIS_LEFTX, 20000, {}},
        {true, SDL_CONTROLLER_AXIS_LEFTX, 20001, {4}},
        {true, SDL_CONTROLLER_AXIS_LEFTX, -20000, {}},
        {true, SDL_CONTROLLER_AXIS_LEFTX, -20001, {3}},
        {true, SDL_CONTROLLER_AXIS_LEFTY, -25000, {1}},
        {true, SDL_CONTROLLER_AXIS_LEFTY, 25000, {2}},
        {true, SDL_CONTROLLER_AXIS_RIGHTX, 30000, {}},
        {true, SDL_CONTROLLER_AXIS_RIGHTY, -30000, {}},
        {true, SDL_CONTROLLER_AXIS_TRIGGERLEFT, 25000, {22}},
        {true, SDL_CONTROLLER_AXIS_TRIGGERLEFT, 20000, {}},
        {true, SDL_CONTROLLER_AXIS_TRIGGERRIGHT, 32767, {23}},
        {true, SDL_CONTROLLER_AXIS_TRIGGERRIGHT, 20001, {23}},
    };
    for (const input &c : cases) {
        SCOPED_TRACE((c.axis ? "axis " : "button ") + std::to_string(c.which) + " = " + std::to_string(c.value));
        if (c.axis)
            SDL_JoystickSetVirtualAxis(j, c.which, c.value);
        else
            SDL_JoystickSetVirtualButton(j, c.which, (Uint8)c.value);
        pump();
        controller_poll(&the_game, axes);
        EXPECT_EQ(pending_presses(1), c.slots);
        if (c.axis && c.which <= SDL_CONTROLLER_AXIS_RIGHTY) {
            Sint16 want[4] = {0, 0, 0, 0};
            want[c.which] = c.value;
            EXPECT_EQ(std::vector<Sint16>(axes[0], axes[0] + 4), std::vector<Sint16>(want, want + 4));
        }
        for (int p = 1; p < 4; p++)
            EXPECT_EQ(std::vector<Sint16>(axes[p], axes[p] + 4), std::vector<Sint16>(4, 0));
        if (c.axis)
            SDL_JoystickSetVirtualAxis(j, c.which, 0);
        else
            SDL_JoystickSetVirtualButton(j, c.which, 0);
        pump();
        SDL_zero(the_game.key_states);
    }
}

TEST_F(ControllerTest, DisconnectReleasesHeldKeysAndZeroesSticks)
{
    device &pad = attach(pad_desc());
    step();
    SDL_Joystick *j = handle(pad);
    SDL_JoystickSetVirtualButton(j, SDL_CONTROLLER_BUTTON_A, 1);
    SDL_JoystickSetVirtualAxis(j, SDL_CONTROLLER_AXIS_LEFTX, 30000);
    step();
    step();
    EXPECT_EQ(axes[0][0], 30000);
    calls.clear();

    detach(pad);
    step();   // the held keys are still reported, the slot empties
    EXPECT_EQ(std::vector<Sint16>(axes[0], axes[0] + 4), std::vector<Sint16>(4, 0));
    step();   // the game sees them go up
    step();
    EXPECT_EQ(player_calls(),
              (std::vector<std::string>{"controller_key_held(1, 4)", "controller_key_held(1, 15)",
                                        "controller_one_disconnected()", "controller_key_up(1, 4)",
                                        "controller_key_up(1, 15)"}));
}

TEST_F(ControllerTest, ConfigUiChoosesBetweenPlayersAndRawJoysticks)
{
    struct row {
        Sint32 ui;
        bool pad_is_player, pad_is_raw, stick_is_raw;
    };
    const row rows[] = {{-1, true, false, false}, {0, true, false, true}, {1, false, true, true}};
    for (const row &r : rows) {
        SCOPED_TRACE("config_ui " + std::to_string(r.ui));
        config_ui = r.ui;
        calls.clear();
        drain_log();
        device &pad = attach(pad_desc());
        SDL_JoystickID pad_id = pad.id;
        std::string pad_guid = guid_text(SDL_JoystickGetDeviceGUID(index_of(pad_id)));
        device &stick = attach(stick_desc());
        SDL_JoystickID stick_id = stick.id;
        std::string stick_guid = guid_text(SDL_JoystickGetDeviceGUID(index_of(stick_id)));
        pump();

        std::vector<std::string> want;
        if (r.pad_is_player)
            want.push_back("controller_one_connected(\"Test Pad\")");
        if (r.pad_is_raw)
            want.push_back("rawjoystick_connected(" + std::to_string(pad_id) + ", \"Test Pad\", \"" + pad_guid + "\")");
        if (r.stick_is_raw)
            want.push_back("rawjoystick_connected(" + std::to_string(stick_id) + ", \"Stick\", \"" + stick_guid +
                           "\")");
        std::vector<std::string> got;
        for (const auto &c : calls)
            if (c.rfind("rawjoystick_axis", 0) != 0)
                got.push_back(c);
        EXPECT_EQ(got, want);

        auto log = messages(drain_log());
        EXPECT_EQ(contains(log, "New non-controller joystick connected, but cvar_controller_config_ui is set to not "
                                "configure them. Ignoring."),
                  r.ui < 0);
        if (r.stick_is_raw) {
            EXPECT_TRUE(contains(log, "New non-controller joystick connected! idx=" +
                                          std::to_string(index_of(stick_id)) +
                                          " name='Stick' vendor=0x1111, product=0x2222, ignore=false"));
            EXPECT_TRUE(contains(log, "Opened joystick 'Stick': idx=" + std::to_string(index_of(stick_id)) +
                                          " jid=" + std::to_string(stick_id) + " guid='" + stick_guid + "'"));
        }

        for (device &d : devices)
            if (d.id != -1)
                detach(d);
        pump();
        controller_close_all();
        devices.clear();
    }
}

TEST_F(ControllerTest, IgnoredReceiverIsLoggedAndNotOpened)
{
    device &odd = attach(stick_desc(0x046D, 0xC626));
    int index = index_of(odd.id);
    pump();
    EXPECT_EQ(calls, std::vector<std::string>{});
    EXPECT_TRUE(contains(messages(drain_log()), "New non-controller joystick connected! idx=" + std::to_string(index) +
                                                    " name='Stick' vendor=0x46D, product=0xC626, ignore=true"));
}

TEST_F(ControllerTest, RawJoystickReportsAxesHatsButtonsAndRemoval)
{
    device &stick = attach(stick_desc());
    SDL_JoystickID id = stick.id;
    pump();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].rfind("rawjoystick_connected(" + std::to_string(id) + ", \"Stick\", ", 0), 0u);

    // A repeated added event for the open stick reports nothing new.
    SDL_Event again;
    SDL_zero(again);
    again.type = SDL_JOYDEVICEADDED;
    again.jdevice.which = index_of(id);
    controller_handle_event(&the_game, &again);
    EXPECT_EQ(calls.size(), 1u);

    calls.clear();
    SDL_Joystick *j = handle(stick);
    pump();
    calls.clear();
    SDL_JoystickSetVirtualAxis(j, 1, -1234);
    SDL_JoystickSetVirtualHat(j, 0, SDL_HAT_LEFTUP);
    SDL_JoystickSetVirtualButton(j, 2, 1);
    pump();
    SDL_JoystickSetVirtualButton(j, 2, 0);
    pump();
    const std::string n = std::to_string(id);
    // SDL sends an axis's resting value before its first movement, and
    // updates axes, then buttons, then hats.
    EXPECT_EQ(calls, (std::vector<std::string>{"rawjoystick_axis(" + n + ", 1, 0)", "rawjoystick_axis(" + n + ", 1, -1234)",
                                               "rawjoystick_button(" + n + ", 2, true)",
                                               "rawjoystick_hat(" + n + ", 0, 9)",
                                               "rawjoystick_button(" + n + ", 2, false)"}));

    calls.clear();
    drain_log();
    SDL_JoystickSetVirtualAxis(j, 1, 0);
    SDL_JoystickSetVirtualHat(j, 0, SDL_HAT_CENTERED);
    pump();
    calls.clear();
    detach(stick);
    pump();
    EXPECT_EQ(calls, std::vector<std::string>{"rawjoystick_disconnected(" + n + ")"});
    EXPECT_TRUE(contains(messages(drain_log()), "Joystick jid " + n + " disconnected."));
}

}   // namespace
