# Tests of the controller state and the aggregate input queries, run inside
# a game with `moonforge <game> --test tests/runtime/controller_tests.rb`.
# Key and stick reports go through the runtime's entry points the way the
# engine sends them before a step; every step runs the runtime's own
# before/after hooks around what would be the game's tick.

def pad_step(args)
  orb = args.orb
  orb.tick_orb_engine_before(false)
  yield if block_given?
  orb.tick_orb_engine_after(false)
end

def pad_error
  yield
  nil
rescue Exception => e
  e
end

# The runtime remembers the last value of every stick method; put it and
# the platform back after the test.
def pad_keep_runtime(platform = nil)
  orb = $orb
  saved_previous = orb.instance_variable_get(:@analog_previous).dup
  saved_platform = orb.platform
  orb.platform = platform if platform
  yield
ensure
  orb.instance_variable_set(:@analog_previous, saved_previous)
  orb.platform = saved_platform
end

def test_keys_go_down_held_up_over_steps args, assert
  orb = args.orb
  pad = args.inputs.controller_one
  rows = []
  row = -> { [pad.key_down.a, pad.key_held.a, pad.key_up.a, pad.a, Kernel.tick_count] }
  orb.controller_key_down(1, 15)
  assert.equal! pad.key_down.a, Kernel.tick_count + 1
  assert.equal! args.inputs.last_active, :controller
  pad_step(args) { rows << row.call }
  orb.controller_key_held(1, 15)
  pad_step(args) { rows << row.call }
  orb.controller_key_held(1, 15)
  pad_step(args) { rows << row.call }
  orb.controller_key_up(1, 15)
  pad_step(args) { rows << row.call }
  pad_step(args) { rows << row.call }
  t = rows[0][4]
  assert.equal! rows, [[t, nil, nil, t, t],
                       [nil, t + 1, nil, t + 1, t + 1],
                       [nil, t + 1, nil, t + 1, t + 2],
                       [nil, nil, t + 3, nil, t + 3],
                       [nil, nil, nil, nil, t + 4]]
  assert.false! pad.active
end

def test_every_raw_key_and_player_entry_point args, assert
  orb = args.orb
  controllers = args.inputs.controllers
  table = { 1 => :up, 2 => :down, 3 => :left, 4 => :right, 13 => :start, 14 => :b, 15 => :a,
            16 => :x, 17 => :y, 18 => :l1, 19 => :r1, 20 => :l3, 21 => :r3, 22 => :l2, 23 => :r2,
            24 => :directional_up, 25 => :directional_down, 26 => :directional_left,
            27 => :directional_right, 28 => :select, 29 => :home }
  assert.equal! ORB::Runtime::CBridge::RAW_CONTROLLER_KEY_LOOKUP, table
  words = [:one, :two, :three, :four]
  table.each do |raw, label|
    words.each_with_index do |word, i|
      orb.send(:"key_down_player_#{word}", raw)
      assert.equal! controllers[i].key_down.truthy_keys, [label], "#{word} #{raw}"
      orb.send(:"key_held_player_#{word}", raw)
      assert.equal! controllers[i].key_held.truthy_keys, [label]
      orb.send(:"key_up_player_#{word}", raw)
      assert.equal! [controllers[i].key_held.truthy_keys, controllers[i].key_up.truthy_keys], [[], [label]]
      controllers[i].clear
    end
  end
end

def test_unknown_key_numbers_and_players_are_ignored args, assert
  orb = args.orb
  inputs = args.inputs
  [[1, 0], [1, 5], [1, 12], [1, 30], [1, 999], [0, 15], [5, 15]].each do |player, raw|
    assert.nil! pad_error { orb.controller_key_down(player, raw) }, "player #{player} raw #{raw}"
  end
  assert.equal! inputs.controllers.map { |c| c.key_down.truthy_keys }, [[], [], [], []]
  assert.equal! inputs.last_active, :keyboard
  error = pad_error { orb.controller_key_event(2, 15, :key_pressed) }
  assert.equal! error.message, "  * ERROR:\n  Layout#set_key failed for player_num: 2, raw_key: 15, event: key_pressed.\n\n"
end

def test_sticks_apply_the_dead_zone_and_mark_activity args, assert
  orb = args.orb
  inputs = args.inputs
  pad = inputs.controller_two
  pad_keep_runtime do
    orb.left_analog_x_player_2(3000)
    assert.equal! [pad.left_analog_x_raw, pad.left_analog_x_perc, pad.active], [0, 0.0, false]
    assert.equal! inputs.last_active, :keyboard
    orb.left_analog_y_player_2(-32767)
    assert.equal! [pad.left_analog_y_raw, pad.left_analog_y_perc], [32767, 1.0]
    assert.equal! [pad.active, pad.active_at, inputs.last_active], [true, Kernel.tick_count, :controller]
    pad.left_analog_y_raw = 5
    orb.left_analog_y_player_2(-32767)
    assert.equal! pad.left_analog_y_raw, 5, "the same value again changes nothing"
    # method, raw, perc
    [[:left_analog_x_player_2, 16384, :left_analog_x_raw, 16384, :left_analog_x_perc, 0.5],
     [:right_analog_x_player_2, -3601, :right_analog_x_raw, -3601, :right_analog_x_perc, -0.11],
     [:right_analog_y_player_2, 3600, :right_analog_y_raw, 0, :right_analog_y_perc, 0.0],
     [:right_analog_y_player_2, 32767, :right_analog_y_raw, -32767, :right_analog_y_perc, -1.0]].each do |m, v, raw_f, raw, perc_f, perc|
      orb.send(m, v)
      assert.equal! [pad.send(raw_f), pad.send(perc_f)], [raw, perc], "#{m} #{v}"
    end
    orb.left_analog_y_player_2(0)
    assert.equal! pad.left_analog_angle, 0.0
    orb.left_analog_x_player_2(0)
    assert.nil! pad.left_analog_angle
    assert.false! pad.left_analog_active?
    orb.left_analog_x_player_2(-8000)
    orb.left_analog_y_player_2(-8000)
    assert.true! (pad.left_analog_angle - 45).abs < 0.001 || (pad.left_analog_angle - 135).abs < 0.001
    assert.true! pad.left_analog_active?
    assert.false! pad.left_analog_active?(threshold_perc: 0.5)
    assert.true! pad.left_analog_active?(threshold_perc: 0.2)
    assert.true! pad.left_analog_active?(threshold_raw: 30000)
    pad_step(args) { assert.true! pad.active, "active in the tick that follows the report" }
    assert.false! pad.active
  end
end

def test_connection_and_last_active_device args, assert
  orb = args.orb
  inputs = args.inputs
  # platform, last active after the last used controller goes away
  [["Linux", :keyboard], ["iOS", :mouse]].each do |platform, expected|
    pad_keep_runtime(platform) do
      orb.controller_two_connected("Virtual Pad")
      assert.equal! [inputs.controller_two.connected, inputs.controller_two.name], [true, "Virtual Pad"]
      orb.key_down_player_two(15)
      global_at = inputs.last_active_global_at
      assert.equal! [inputs.last_active, global_at], [:controller, Kernel.global_tick_count]
      Kernel.global_tick_count += 3
      orb.controller_two_disconnected
      assert.equal! [inputs.controller_two.connected, inputs.last_active, inputs.last_active_global_at],
                    [false, expected, global_at], platform
      inputs.last_active = :keyboard
    end
  end
  orb.mouse_move(1, 1)
  at = inputs.last_active_at
  Kernel.tick_count += 2
  orb.mouse_move(2, 2)
  assert.equal! inputs.last_active_at, at, "the same device again keeps the stamp"
  orb.controller_one_disconnected
  assert.equal! inputs.last_active, :mouse, "a controller that was not the last used changes nothing"
end

def test_keys_aliases_and_truthy_keys args, assert
  keys = ORB::Controller::Keys.new
  keys.dpad_up = 3
  keys.back = 4
  keys.guide = 5
  assert.equal! [keys.directional_up, keys.up_dpad, keys.select, keys.home], [3, 3, 4, 5]
  assert.equal! keys.truthy_keys, [:select, :home, :directional_up]
  assert.true! ORB::Controller::Keys::LABELS.frozen?
  keys.clear
  assert.equal! keys.truthy_keys, []
end

def test_inputs_combine_keyboard_and_controller_one args, assert
  orb = args.orb
  inputs = args.inputs
  pad = inputs.controller_one
  pad_keep_runtime do
    orb.key_down_player_one(3)
    orb.key_down_player_one(1)
    assert.equal! [inputs.left_right, inputs.up_down, inputs.left_right_arrow, inputs.up_down_arrow], [-1, 1, 0, 0]
    vector = pad.directional_vector
    assert.true! (vector[:x] + 0.7071).abs < 0.001 && (vector[:y] - 0.7071).abs < 0.001
    assert.equal! inputs.directional_vector, vector
    orb.key_down_player_one(27)
    assert.equal! [inputs.left_right_directional, inputs.up_down_directional], [1, 0]
    pad.clear
    orb.key_down_raw((1 << 30) | 79, 0)
    assert.equal! [inputs.right ? true : false, inputs.left_right_perc], [true, 1]
    orb.left_analog_x_player_1(-16384)
    assert.equal! inputs.left_right_perc, -0.5, "the stick wins over the held right arrow"
    assert.equal! inputs.left_right_directional_perc, -0.5
    orb.left_analog_y_player_1(-16384)
    assert.equal! [inputs.up_down_perc, inputs.up_down_directional_perc], [0.5, 0.5]
    orb.left_analog_x_player_1(0)
    orb.left_analog_y_player_1(0)
    assert.equal! inputs.left_right_perc, 1
    orb.key_down_player_three(15)
    inputs.clear
    assert.equal! [inputs.keyboard.key_down.truthy_keys, inputs.controller_three.key_down.truthy_keys,
                   inputs.controller_three.active], [[], [], false]
    assert.equal! inputs.serialize.keys, [:controller_one, :controller_two, :controller_three,
                                          :controller_four, :keyboard, :mouse, :text, :application_control]
  end
end

def test_raw_joysticks_reach_the_configuration_screen args, assert
  orb = args.orb
  config = orb.controller_config
  before = config.joysticks.dup
  orb.rawjoystick_connected(7, "Stick", "03000000")
  assert.equal! config.joysticks[7], { name: "Stick", guid: "03000000" }
  assert.nil! orb.rawjoystick_axis(7, 0, 100)
  assert.nil! orb.rawjoystick_hat(7, 0, 1)
  assert.nil! orb.rawjoystick_button(7, 2, true)
  orb.rawjoystick_disconnected(7)
  assert.equal! config.joysticks, before
end
