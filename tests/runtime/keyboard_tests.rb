# Tests of the keyboard state, run inside a game with
# `moonforge <game> --test tests/runtime/keyboard_tests.rb`. Key events go
# through the runtime's entry points ($orb.key_down_raw ...) the way the
# engine sends them before a step, and every step runs the runtime's own
# before/after hooks around what would be the game's tick.

KB_SDLK = 1 << 30
KB_LSHIFT = KB_SDLK | 225
KB_LCTRL = KB_SDLK | 224
KB_LGUI = KB_SDLK | 227
KB_LEFT = KB_SDLK | 80
KB_UP = KB_SDLK | 82
KB_RIGHT = KB_SDLK | 79
KB_MOD_SHIFT = 1
KB_MOD_CTRL = 64
KB_MOD_META = 1024

# One engine step: events first (the block given to the previous step or
# the caller), then the runtime's before hook, the game's part, the after hook.
def kb_step(args)
  orb = args.orb
  orb.tick_orb_engine_before(false)
  yield if block_given?
  orb.tick_orb_engine_after(false)
end

def kb_error
  yield
  nil
rescue Exception => e
  e
end

def kb_keep_runtime_ivars(*names)
  orb = $orb
  saved = names.map { |n| [n, orb.instance_variable_get(n)] }
  yield
ensure
  saved.each { |n, v| orb.instance_variable_set(n, v) }
end

def test_keys_move_from_down_to_held_to_up_across_steps args, assert
  orb = args.orb
  keyboard = args.inputs.keyboard
  seen = []
  orb.key_down_raw(97, 0)
  kb_step(args) { seen << [keyboard.key_down.a, keyboard.key_held.a, keyboard.key_up.a, keyboard.a] }
  kb_step(args) { seen << [keyboard.key_down.a, keyboard.key_held.a, keyboard.key_up.a, keyboard.a] }
  orb.key_up_raw(97, 0)
  kb_step(args) { seen << [keyboard.key_down.a, keyboard.key_held.a, keyboard.key_up.a, keyboard.a] }
  kb_step(args) { seen << [keyboard.key_down.a, keyboard.key_held.a, keyboard.key_up.a, keyboard.a] }
  truthy = seen.map { |row| row.map { |v| v ? true : false } }
  assert.equal! truthy, [[true, false, false, true],
                         [false, true, false, true],
                         [false, false, true, false],
                         [false, false, false, false]]
  assert.equal! args.inputs.last_active, :keyboard
  assert.equal! keyboard.key_held.keycodes, {}
  assert.equal! keyboard.key_down.keycodes, {}
end

def test_auto_repeat_fires_repeat_on_every_event_but_down_once args, assert
  orb = args.orb
  keyboard = args.inputs.keyboard
  rows = []
  orb.key_down_raw(32, 0)
  kb_step(args) { rows << [keyboard.key_down.space, keyboard.key_repeat.space] }
  3.times do
    orb.key_down_raw(32, 0)
    kb_step(args) { rows << [keyboard.key_down.space, keyboard.key_repeat.space] }
  end
  kb_step(args) { rows << [keyboard.key_down.space, keyboard.key_repeat.space] }
  truthy = rows.map { |row| row.map { |v| v ? true : false } }
  assert.equal! truthy, [[true, true], [false, true], [false, true], [false, true], [false, false]]
  assert.true! keyboard.key_held.space
end

def test_shift_tables_name_both_the_symbol_and_its_key args, assert
  orb = args.orb
  keyboard = args.inputs.keyboard
  # raw key, shifted name, unshifted name, character
  cases = [
    [49, :exclamation_point, :one, "!"], [50, :at, :two, "@"], [51, :hash, :three, "#"],
    [52, :dollar, :four, "$"], [53, :percent, :five, "%"], [54, :caret, :six, "^"],
    [55, :ampersand, :seven, "&"], [56, :asterisk, :eight, "*"], [57, :open_round_brace, :nine, "("],
    [48, :close_round_brace, :zero, ")"], [96, :tilde, :backtick, "~"], [45, :underscore, :hyphen, "_"],
    [39, :double_quotation_mark, :single_quotation_mark, "\""], [61, :plus, :equal, "+"],
    [91, :open_curly_brace, :open_square_brace, "{"], [93, :close_curly_brace, :close_square_brace, "}"],
    [59, :colon, :semicolon, ":"], [92, :pipe, :back_slash, "|"], [47, :question_mark, :forward_slash, "?"],
    [44, :less_than, :comma, "<"], [46, :greater_than, :period, ">"]
  ]
  orb.key_down_raw(KB_LSHIFT, KB_MOD_SHIFT)
  kb_step(args)
  assert.true! keyboard.key_held.shift
  cases.each do |raw, shifted, plain, char|
    orb.key_down_raw(raw, KB_MOD_SHIFT)
    kb_step(args) do
      got = [keyboard.key_down.get(shifted) ? true : false, keyboard.key_down.get(plain) ? true : false,
             keyboard.key_down.char, keyboard.key_down.shift ? true : false]
      assert.equal! got, [true, true, char, false], "raw key #{raw}"
    end
    orb.key_up_raw(raw, KB_MOD_SHIFT)
    kb_step(args)
  end
  # Releasing shift releases a held digit that was reported as its symbol.
  orb.key_down_raw(49, KB_MOD_SHIFT)
  kb_step(args)
  orb.key_up_raw(KB_LSHIFT, 0)
  kb_step(args) do
    assert.true! keyboard.key_up.shift
    assert.true! keyboard.key_up.shift_left
    assert.true! keyboard.key_up.exclamation_point
  end
  kb_step(args) { assert.false! keyboard.key_held.exclamation_point }
  assert.equal! ORB::KeyboardTables::CHAR_TO_SHIFT_CHAR[:one], :exclamation_point
end

def test_a_letter_with_shift_sets_the_letter_and_shift args, assert
  orb = args.orb
  keyboard = args.inputs.keyboard
  orb.key_down_raw(97, KB_MOD_SHIFT)
  assert.true! keyboard.key_down.a
  assert.true! keyboard.key_down.shift
  assert.equal! keyboard.key_down.char, "A"
  assert.equal! keyboard.key_down.raw_key, 97
  kb_step(args)
  assert.equal! keyboard.key_held.char, "A"
  assert.equal! keyboard.key_held.truthy_keys.sort, [:a, :shift]
end

def test_named_keys_aliases_and_reading_with_bang args, assert
  orb = args.orb
  keyboard = args.inputs.keyboard
  cases = [
    [KB_SDLK | 58, :f1], [KB_SDLK | 69, :f12], [127, :delete], [13, :enter], [27, :escape],
    [8, :backspace], [9, :tab], [KB_SDLK | 88, :kp_enter], [KB_SDLK | 98, :kp_zero],
    [KB_SDLK | 75, :page_up], [KB_SDLK | 57, :caps_lock], [KB_SDLK | 274, :ac_bookmarks],
    [KB_SDLK | 228, :control_right], [KB_SDLK | 230, :alt_right]
  ]
  cases.each do |raw, name|
    orb.key_down_raw(raw, 0)
    assert.true! keyboard.key_down.get(name), name.to_s
    orb.key_up_raw(raw, 0)
    kb_step(args)
    kb_step(args)
  end
  orb.key_down_raw(KB_SDLK | 228, 128)
  assert.true! keyboard.key_down.control, "the side key also sets the plain name"
  assert.true! keyboard.key_down.right_ctrl
  assert.true! keyboard.control_right, "a key name is a key, not control + right"
  keyboard.key_down.space = 5
  assert.equal! keyboard.key_down.space!, 5
  assert.false! keyboard.key_down.space
  keyboard.key_down.minus = 7
  assert.equal! keyboard.key_down.hyphen, 7
  assert.true! keyboard.key_down_or_held?(:ctrl)
  assert.equal! keyboard.key[:down].sort, [:control, :control_right, :hyphen]
end

def test_combined_modifier_queries args, assert
  orb = args.orb
  keyboard = args.inputs.keyboard
  orb.key_down_raw(KB_LCTRL, KB_MOD_CTRL)
  kb_step(args)
  orb.key_down_raw(115, KB_MOD_CTRL)
  assert.true! keyboard.ctrl_s
  assert.true! keyboard.control_s
  assert.false! keyboard.shift_s
  assert.false! keyboard.ctrl_a
end

def test_a_key_without_a_name_keeps_its_code args, assert
  orb = args.orb
  keyboard = args.inputs.keyboard
  # o with diaeresis on a Nordic layout, and a keycode outside every table
  [246, KB_SDLK | 400].each do |raw|
    error = kb_error { orb.key_down_raw(raw, KB_MOD_SHIFT) }
    assert.nil! error, "raw key #{raw}"
    assert.equal! keyboard.key_down.keycodes[raw], Kernel.tick_count
    assert.equal! keyboard.key_down.truthy_keys, []
    kb_step(args)
    assert.true! keyboard.key_held.keycodes[raw]
    orb.key_up_raw(raw, 0)
    kb_step(args) { assert.true! keyboard.key_up.keycodes[raw] }
    assert.nil! keyboard.key_held.keycodes[raw]
  end
end

def test_an_unknown_key_name_raises_with_suggestions args, assert
  keyboard = args.inputs.keyboard
  cases = [
    [-> { keyboard.key_down.spcae }, "There is no key on the keyboard called :spcae. Did you mean :space?"],
    [-> { keyboard.key_held.pa! }, "There is no key on the keyboard called :pa. Did you mean :pause, :page_up, :page_down?"],
    [-> { keyboard.key_up.zz }, "There is no key on the keyboard called :zz. Did you mean ?"]
  ]
  cases.each do |call, first_line|
    error = kb_error(&call)
    assert.true! error, first_line
    lines = error.message.split("\n")
    assert.equal! lines[0], first_line
    assert.true! lines.include?("- :a \"a\""), "the message lists every key with its character"
    assert.true! lines.include?("- :question_mark \"?\"")
    assert.true! lines.include?("- :f1")
  end
end

def test_arrows_and_wasd_give_directions args, assert
  orb = args.orb
  inputs = args.inputs
  keyboard = inputs.keyboard
  # events, then [left_right, up_down, directional_vector]
  cases = [
    [[[:key, KB_LEFT]], [-1, 0, { x: -1, y: 0 }]],
    [[[:scan, 7]], [1, 0, { x: 1, y: 0 }]],
    [[[:scan, 26]], [0, 1, { x: 0, y: 1 }]],
    [[[:scan, 22]], [0, -1, { x: 0, y: -1 }]],
    [[[:key, KB_LEFT], [:key, KB_RIGHT]], [-1, 0, { x: -1, y: 0 }]],
    [[], [0, 0, nil]]
  ]
  cases.each do |events, expected|
    events.each { |kind, code| kind == :key ? orb.key_down_raw(code, 0) : orb.scancode_down_raw(code, 0) }
    kb_step(args) do
      got = [keyboard.left_right, keyboard.up_down, keyboard.directional_vector]
      assert.equal! got, expected, events.inspect
      assert.equal! [inputs.left_right, inputs.up_down], expected[0, 2]
    end
    events.each { |kind, code| kind == :key ? orb.key_up_raw(code, 0) : orb.scancode_up_raw(code, 0) }
    kb_step(args)
  end
  orb.key_down_raw(KB_LEFT, 0)
  orb.key_down_raw(KB_UP, 0)
  kb_step(args)
  kb_step(args) do
    vector = inputs.directional_vector
    assert.true! (vector[:x] + 0.7071).abs < 0.001 && (vector[:y] - 0.7071).abs < 0.001, vector.inspect
    assert.true! (inputs.directional_angle - 135).abs < 0.001
    assert.equal! [inputs.left_right_arrow, inputs.up_down_arrow], [-1, 1]
  end
end

def test_ctrl_r_resets_at_the_next_tick_and_with_shift_reboots args, assert
  orb = args.orb
  keyboard = args.inputs.keyboard
  kb_keep_runtime_ivars(:@reset_next_tick, :@reboot_requested, :@ctrl_r_noted, :@reset_via_ctrl_r) do
    orb.instance_variable_set(:@reset_next_tick, nil)
    orb.instance_variable_set(:@reboot_requested, false)
    orb.key_down_raw(KB_LCTRL, KB_MOD_CTRL)
    orb.key_down_raw(114, KB_MOD_CTRL)
    orb.tick_orb_engine_before(false)
    assert.true! orb.instance_variable_get(:@reset_next_tick), "reset requested"
    assert.false! orb.instance_variable_get(:@reboot_requested)
    orb.tick_orb_engine_after(false)
    orb.instance_variable_set(:@reset_next_tick, nil)
    keyboard.clear

    orb.disable_reset_via_ctrl_r
    orb.key_down_raw(KB_LCTRL, KB_MOD_CTRL)
    orb.key_down_raw(114, KB_MOD_CTRL)
    kb_step(args)
    assert.false! orb.instance_variable_get(:@reset_next_tick), "turned off"
    keyboard.clear
    orb.enable_reset_via_ctrl_r

    [[KB_LSHIFT, KB_MOD_CTRL | KB_MOD_SHIFT], [KB_LGUI, KB_MOD_CTRL | KB_MOD_META]].each do |second, mod|
      orb.instance_variable_set(:@reboot_requested, false)
      orb.key_down_raw(KB_LCTRL, KB_MOD_CTRL)
      orb.key_down_raw(second, mod)
      orb.key_down_raw(114, mod)
      kb_step(args)
      assert.true! orb.instance_variable_get(:@reboot_requested), "reboot with modifier #{mod}"
      assert.false! orb.instance_variable_get(:@reset_next_tick)
      keyboard.clear
    end
  end
end

class KeyboardTestNoDirections
  def key_held; end
  def up; end
end

def test_directional_helpers_need_the_directions args, assert
  error = kb_error { KeyboardTestNoDirections.send(:include, ORB::DirectionalInputHelperMethods) }
  assert.true! error
  expected = "* ERROR\n" \
             "The ORB::DirectionalKeys module should only be included in objects that respond to the following api hierarchy:\n" \
             "\n" \
             "- (up|down|left|right)\n" \
             "- key_held.(up|down|left|right)\n" \
             "- key_down.(up|down|left|right)\n" \
             "\n" \
             "KeyboardTestNoDirections does not respond to all of these methods (here is the diagnostics):\n" \
             "- key_held: true\n- key_down: false\n- up: true\n- down: false\n- left: false\n- right: false\n\n" \
             "Please implement the methods that returned false inthe list above.\n"
  assert.equal! error.message, expected
end

# Stands in for the recording while it replays input.
class KeyboardTestReplay
  attr_reader :stopped

  def is_replaying?
    !@stopped
  end

  def is_recording?
    false
  end

  def stop_replay(*)
    @stopped = true
  end

  def record_input_history(*); end

  def record_input_history_3_params(*); end
end

def test_a_replay_ignores_live_input_except_its_stop_keys args, assert
  orb = args.orb
  keyboard = args.inputs.keyboard
  saved = orb.instance_variable_get(:@recording)
  # raw key, modifier, stops the replay
  [[97, 0, false], [114, 0, false], [114, KB_MOD_CTRL, true], [96, 0, true]].each do |raw, mod, stops|
    replay = KeyboardTestReplay.new
    orb.instance_variable_set(:@recording, replay)
    keyboard.clear
    orb.key_down_raw(raw, mod)
    label = "raw #{raw} modifier #{mod}"
    assert.equal! [replay.stopped ? true : false, keyboard.key_down.keycodes.key?(raw)], [stops, stops], label
    orb.mouse_move(5, 5) unless stops
    assert.equal! args.inputs.mouse.x, 0, label unless stops
    orb.key_down_raw(raw, mod, :replay) unless stops
    assert.true! keyboard.key_down.keycodes.key?(raw), "#{label} from the replay"
  end
ensure
  orb.instance_variable_set(:@recording, saved)
  keyboard.clear
end

def test_a_tap_between_two_ticks_is_seen_down_and_up_once args, assert
  orb = args.orb
  keyboard = args.inputs.keyboard
  rows = []
  orb.key_down_raw(97, 0)
  orb.key_up_raw(97, 0)
  orb.key_down_raw(246, 0)
  orb.key_up_raw(246, 0)
  2.times do
    kb_step(args) do
      rows << [keyboard.key_down.a, keyboard.key_up.a, keyboard.key_held.a, keyboard.a,
               keyboard.key_down.keycodes.key?(246)].map { |v| v ? true : false }
    end
  end
  assert.equal! rows, [[true, true, false, true, true], [false, false, false, false, false]]
  assert.equal! keyboard.key_held.keycodes, {}
end
