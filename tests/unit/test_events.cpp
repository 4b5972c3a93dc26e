// Event processing: synthetic SDL events go through events_process against
// a real interpreter whose runtime object records every call it receives
// (the script event records included), so the test checks exactly which
// records and input calls each event produces.

#include <gtest/gtest.h>

#include <mruby.h>
#include <mruby/compile.h>
#include <mruby/string.h>

#include <string>

#include "engine/engine.h"
#include "engine/script_host.h"
#include "input/controller.h"
#include "input/events.h"
#include "render/render_context.h"

#include "mruby_run.h"

static mrb_state *test_mrb;
static mrb_value recorder;
static int controller_events;

// The script host's side, as the engine provides it: protected calls of
// the runtime object.
mrb_value script_host_call(mrb_sym mid, mrb_int argc, const mrb_value *argv)
{
    mrb_value v = mrb_funcall_argv(test_mrb, recorder, mid, argc, argv);
    test_mrb->exc = nullptr;
    return v;
}

mrb_state *script_host_mrb(void) { return test_mrb; }

void controller_handle_event(game *, const SDL_Event *) { controller_events++; }

static const char *const recorder_class = R"RUBY(
class Recorder
  attr_reader :calls
  def initialize; @calls = []; end
  def method_missing(name, *args); @calls << [name, *args]; nil; end
  def take; c = @calls; @calls = []; c; end
end
$rec = Recorder.new
)RUBY";

class Events : public ::testing::Test {
protected:
    render_context *rc = nullptr;
    game g{};

    void SetUp() override
    {
        test_mrb = mrb_open();
        ASSERT_NE(test_mrb, nullptr);
        recorder = mrb_load_string(test_mrb, recorder_class);
        ASSERT_EQ(test_mrb->exc, nullptr);
        mrb_gc_register(test_mrb, recorder);
        events_init(test_mrb);
        rc = (render_context *)SDL_calloc(1, sizeof *rc);
        rc->render_scale = 1.0f;
        rc->output_w = 1280;
        rc->output_h = 720;
        rc->window_id = 7;
        rc->user_event_types[0] = 0x8000 + 5;
        controller_events = 0;
    }

    void TearDown() override
    {
        mrb_close(test_mrb);
        test_mrb = nullptr;
        SDL_free(rc);
    }

    // Processes the events and answers the calls they made, inspected.
    std::string process(std::initializer_list<SDL_Event> events)
    {
        for (const SDL_Event &e : events)
            events_process(rc, &e, &g);
        return mruby_run(test_mrb, "$rec.take");
    }

    // The same without the script event records.
    std::string calls(std::initializer_list<SDL_Event> events)
    {
        for (const SDL_Event &e : events)
            events_process(rc, &e, &g);
        return mruby_run(test_mrb, "$rec.take.reject { |c| c[0] == :raw_event }");
    }
};

static SDL_Event key(Uint32 type, SDL_Keycode sym, SDL_Scancode code, Uint16 mod, Uint8 repeat = 0)
{
    SDL_Event e;
    SDL_zero(e);
    e.type = type;
    e.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
    e.key.repeat = repeat;
    e.key.keysym.sym = sym;
    e.key.keysym.scancode = code;
    e.key.keysym.mod = mod;
    return e;
}

static SDL_Event motion(Sint32 x, Sint32 y, Sint32 xrel, Sint32 yrel, Uint32 which = 0)
{
    SDL_Event e;
    SDL_zero(e);
    e.type = SDL_MOUSEMOTION;
    e.motion.which = which;
    e.motion.x = x, e.motion.y = y, e.motion.xrel = xrel, e.motion.yrel = yrel;
    return e;
}

static SDL_Event finger_event(Uint32 type, SDL_TouchID touch, SDL_FingerID id, float x, float y)
{
    SDL_Event e;
    SDL_zero(e);
    e.type = type;
    e.tfinger.touchId = touch;
    e.tfinger.fingerId = id;
    e.tfinger.x = x, e.tfinger.y = y;
    return e;
}

TEST_F(Events, KeysGiveARecordThenTheRawCalls)
{
    EXPECT_EQ(process({key(SDL_KEYDOWN, SDLK_a, SDL_SCANCODE_A, KMOD_LSHIFT)}),
              "[[:raw_event, {:type_enum=>768, :type=>:key_down, :state=>1, :repeat=>0, "
              ":keysym=>{:scancode=>4, :sym=>97, :mod=>1}}], [:key_down_raw, 97, 1], [:scancode_down_raw, 4, 1]]");
    EXPECT_EQ(process({key(SDL_KEYUP, SDLK_a, SDL_SCANCODE_A, 0)}),
              "[[:raw_event, {:type_enum=>769, :type=>:key_down, :state=>0, :repeat=>0, "
              ":keysym=>{:scancode=>4, :sym=>97, :mod=>0}}], [:key_up_raw, 97, 0], [:scancode_up_raw, 4, 0]]");
}

TEST_F(Events, TextEditingAndDrops)
{
    SDL_Event text, edit, drop, dropped_text, empty_drop;
    SDL_zero(text), SDL_zero(edit), SDL_zero(drop), SDL_zero(dropped_text), SDL_zero(empty_drop);
    text.type = SDL_TEXTINPUT;
    SDL_strlcpy(text.text.text, "\xC3\xA9!", sizeof text.text.text);
    edit.type = SDL_TEXTEDITING;
    SDL_strlcpy(edit.edit.text, "ka", sizeof edit.edit.text);
    edit.edit.start = 1, edit.edit.length = 2;
    char file[] = "/tmp/x.png", words[] = "hello";
    drop.type = SDL_DROPFILE, drop.drop.file = file;
    dropped_text.type = SDL_DROPTEXT, dropped_text.drop.file = words;
    empty_drop.type = SDL_DROPFILE;
    EXPECT_EQ(process({text, edit, drop, dropped_text, empty_drop}),
              "[[:raw_event, {:type_enum=>771, :type=>:text_input, :text=>\"\\xc3\\xa9!\"}], [:textinput, \"\\xc3\\xa9!\"], "
              "[:raw_event, {:type_enum=>770, :type=>:text_editing, :text=>\"ka\", :start=>1, :length=>2}], "
              "[:raw_event, {:type_enum=>4096, :type=>:drop_file, :file=>\"/tmp/x.png\"}], "
              "[:raw_event, {:type_enum=>4097, :type=>:drop_text, :file=>\"hello\"}], "
              "[:raw_event, {:type_enum=>4096, :type=>:drop_file, :file=>\"\"}]]");
}

TEST_F(Events, MouseInCanvasCoordinatesAndTouchGeneratedMouseIgnored)
{
    EXPECT_EQ(process({motion(640, 360, 3, -4)}),
              "[[:raw_event, {:type_enum=>1024, :type=>:mouse_motion, :which=>0, :x=>640, :y=>360, :xrel=>3, "
              ":yrel=>-4}], [:mouse_move_relative, 640, 361, 3, -4]]");
    // An HD window at scale 2 with letterbox offsets.
    rc->render_scale = 2.0f;
    rc->offset_x = 100, rc->offset_y = 50;
    std::string hd = process({motion(641, 361, 1, 1)});
    EXPECT_NE(hd.find("[:mouse_move_relative, 270, 156, 1, 1]"), std::string::npos) << hd;
    int last[4];
    events_last_mouse(last);
    EXPECT_EQ(last[0], 270);   // 641 / 2 - 50 truncated
    EXPECT_EQ(last[1], 156);   // 361 / 2 - 25 + 1 truncated
    SDL_Event press, wheel;
    SDL_zero(press), SDL_zero(wheel);
    press.type = SDL_MOUSEBUTTONDOWN;
    press.button.button = 1, press.button.state = 1, press.button.clicks = 2, press.button.x = 5;
    wheel.type = SDL_MOUSEWHEEL;
    wheel.wheel.x = 0, wheel.wheel.y = -2, wheel.wheel.direction = SDL_MOUSEWHEEL_FLIPPED;
    EXPECT_EQ(process({press, wheel}),
              "[[:raw_event, {:type_enum=>1025, :type=>:mouse_button, :x=>5, :y=>0, :clicks=>2, :state=>1, "
              ":which=>0, :button=>1}], [:mouse_button_pressed, 1], [:raw_event, {:type_enum=>1027, "
              ":type=>:mouse_wheel, :which=>0, :x=>0, :y=>-2, :direction=>1, :precise_x=>0.0, :precise_y=>-2.0}], "
              "[:mouse_wheel, 0, -2, true]]");
    // Touch-generated mouse events reach the scripts only as records.
    press.button.which = wheel.wheel.which = SDL_TOUCH_MOUSEID;
    EXPECT_EQ(calls({motion(1, 1, 0, 0, SDL_TOUCH_MOUSEID), press, wheel}), "[]");
}

TEST_F(Events, FingersAreNumberedWithoutReuse)
{
    const SDL_TouchID t = 3;
    EXPECT_EQ(calls({finger_event(SDL_FINGERDOWN, t, 10, 0.5f, 0.5f),
                                 finger_event(SDL_FINGERDOWN, t, 11, 0.25f, 0.0f),
                                 finger_event(SDL_FINGERMOTION, t, 10, 0.1f, 0.2f),
                                 finger_event(SDL_FINGERUP, t, 10, 0.1f, 0.2f),
                                 finger_event(SDL_FINGERDOWN, t, 12, 1.0f, 1.0f),
                                 finger_event(SDL_FINGERUP, t, 99, 0, 0),   // unknown: ignored
                                 finger_event(SDL_FINGERDOWN, SDL_MOUSE_TOUCHID, 1, 0, 0)}),
              "[[:finger_down, 1, 640, 360], [:finger_down, 2, 320, 0], [:finger_move, 1, 128, 144], [:finger_up, 1], "
              "[:finger_down, 3, 1280, 720]]");
    // A mouse-generated touch still makes its record.
    EXPECT_EQ(process({finger_event(SDL_FINGERDOWN, SDL_MOUSE_TOUCHID, 1, 0, 0)}),
              "[[:raw_event, {:type_enum=>1792, :type=>:unknown}]]");
}

TEST_F(Events, WindowFocusQuitAndOtherKinds)
{
    SDL_Event enter, lost, other_window, quit, joy, reset, unknown;
    SDL_zero(enter), SDL_zero(lost), SDL_zero(other_window), SDL_zero(quit), SDL_zero(joy), SDL_zero(reset),
        SDL_zero(unknown);
    enter.type = lost.type = other_window.type = SDL_WINDOWEVENT;
    enter.window.windowID = lost.window.windowID = 7;
    enter.window.event = SDL_WINDOWEVENT_ENTER;
    lost.window.event = SDL_WINDOWEVENT_FOCUS_LOST;
    other_window.window.windowID = 8;
    other_window.window.event = SDL_WINDOWEVENT_ENTER;
    quit.type = SDL_QUIT;
    joy.type = SDL_JOYBUTTONDOWN;
    joy.jbutton.which = 2, joy.jbutton.button = 3, joy.jbutton.state = 1;
    reset.type = SDL_RENDER_TARGETS_RESET;
    unknown.type = SDL_LASTEVENT - 1;
    rc->keyboard_focus = 1;
    EXPECT_EQ(process({enter, lost, other_window, quit, joy, reset, unknown}),
              "[[:raw_event, {:type_enum=>512, :type=>:unknown}], [:window_mouse_focus_changed, true], "
              "[:raw_event, {:type_enum=>512, :type=>:unknown}], [:window_keyboard_focus_changed, false], "
              "[:raw_event, {:type_enum=>512, :type=>:unknown}], [:raw_event, {:type_enum=>256, :type=>:unknown}], "
              "[:raw_event, {:type_enum=>1539, :type=>:joypad_button, :which=>2, :button=>3, :state=>1}], "
              "[:raw_event, {:type_enum=>8192, :type=>:render_targets_reset}], "
              "[:raw_event, {:type_enum=>65534, :type=>:unknown}]]");
    EXPECT_EQ(rc->mouse_focus, 1);
    EXPECT_EQ(rc->keyboard_focus, 0);
    EXPECT_EQ(g.window_close_requested, 1);
    EXPECT_EQ(controller_events, 3);   // everything the engine does not handle itself
}

TEST_F(Events, AccessibilityActivationOnlyWhenPending)
{
    SDL_Event e;
    SDL_zero(e);
    e.type = rc->user_event_types[0];
    e.user.code = (Sint32)rc->user_event_types[0];
    e.user.data1 = SDL_strdup("button-7");
    SDL_AtomicSet(&atomic_a11y_activation_occurred_at, 0);
    EXPECT_EQ(process({e}), "[[:raw_event, {:type_enum=>32773, :type=>:unknown}]]");
    e.user.data1 = SDL_strdup("button-7");
    SDL_AtomicSet(&atomic_a11y_activation_occurred_at, 42);
    EXPECT_EQ(process({e}), "[[:raw_event, {:type_enum=>32773, :type=>:a11y_activation_event, "
                            ":activated_id=>\"button-7\", :activated_global_at=>42}]]");
    EXPECT_EQ(SDL_AtomicGet(&atomic_a11y_activation_occurred_at), 0);
}
