# Tests of the mouse and touch state, run inside a game with
# `moonforge <game> --test tests/runtime/mouse_tests.rb`. Events go through
# the runtime's entry points ($orb.mouse_move ...) in window coordinates
# (y down) the way the engine sends them before a step; every step runs the
# runtime's own before/after hooks around what would be the game's tick.

def mouse_step(args)
  orb = args.orb
  orb.tick_orb_engine_before(false)
  yield if block_given?
  orb.tick_orb_engine_after(false)
end

def mouse_error
  yield
  nil
rescue Exception => e
  e
end

# Runs the block with the given runtime platform, the grid's origin and the
# running touch count put back afterwards.
def mouse_keep_runtime(platform = nil)
  orb = $orb
  saved_platform = orb.platform
  saved_touch_count = orb.instance_variable_get(:@touch_count)
  orb.platform = platform if platform
  yield
ensure
  orb.platform = saved_platform
  orb.instance_variable_set(:@touch_count, saved_touch_count)
  orb.args.grid.origin_bottom_left!
end

def test_motion_is_converted_to_game_coordinates args, assert
  orb = args.orb
  mouse = args.inputs.mouse
  mouse_keep_runtime do
    orb.mouse_move(100, 20)
    assert.equal! [mouse.x, mouse.y], [100, 700]
    orb.mouse_move(130, 30)
    assert.equal! [mouse.previous_x, mouse.previous_y, mouse.relative_x, mouse.relative_y], [100, 700, 30, -10]
    assert.equal! [mouse.moved.x, mouse.moved.y], [130, 690]
    assert.equal! [mouse.buttons.right.x, mouse.buttons.right.relative_y], [130, -10]
    assert.equal! args.inputs.last_active, :mouse
    args.grid.origin_center!
    orb.mouse_move(640, 360)
    assert.equal! [mouse.x, mouse.y], [0, 0]
    mouse_step(args)
    assert.nil! mouse.moved
    assert.equal! [mouse.relative_x, mouse.relative_y, mouse.active], [0, 0, false]
  end
end

def test_left_and_right_halves_split_at_the_grid_centre args, assert
  orb = args.orb
  inputs = args.inputs
  mouse_keep_runtime("Linux") do
    # origin, window x, which finger is set
    cases = [[:bottom_left, 100, :finger_left], [:bottom_left, 1000, :finger_right],
             [:center, 100, :finger_left], [:center, 1000, :finger_right]]
    cases.each do |origin, window_x, side|
      origin == :center ? args.grid.origin_center! : args.grid.origin_bottom_left!
      orb.mouse_move(window_x, 20)
      orb.mouse_button_pressed(1)
      other = side == :finger_left ? :finger_right : :finger_left
      label = "#{origin} #{window_x}"
      assert.equal! inputs.send(side), { x: inputs.mouse.x, y: inputs.mouse.y, w: 1, h: 1 }, label
      assert.nil! inputs.send(other), label
      orb.mouse_button_up(1)
      assert.equal! [inputs.finger_left, inputs.finger_right], [nil, nil], label
    end
    orb.platform = "iOS"
    orb.mouse_button_pressed(1)
    assert.equal! [inputs.finger_left, inputs.finger_right], [nil, nil]
    orb.mouse_button_up(1)
  end
end

def test_buttons_outside_the_five_are_ignored args, assert
  orb = args.orb
  mouse = args.inputs.mouse
  [0, 6, 9].each do |button|
    assert.nil! mouse_error { orb.mouse_button_pressed(button) }, "press #{button}"
    assert.nil! mouse_error { orb.mouse_button_up(button) }, "release #{button}"
  end
  assert.equal! mouse.button_bits, 0
  # button, bit, flag
  [[1, 1, :button_left], [2, 2, :button_middle], [3, 4, :button_right], [4, 8, :button_x1], [5, 16, :button_x2]].each do |button, bit, flag|
    orb.mouse_button_pressed(button)
    assert.equal! [mouse.button_bits, mouse.send(flag)], [bit, true], flag.to_s
    assert.true! mouse.buttons[button - 1].click
    orb.mouse_button_up(button)
    assert.equal! [mouse.button_bits, mouse.send(flag)], [0, false], flag.to_s
  end
end

def test_wheel_events_of_one_tick_accumulate args, assert
  orb = args.orb
  inputs = args.inputs
  mouse_keep_runtime("Linux") do
    orb.mouse_wheel(1, 1)
    orb.mouse_wheel(0, 2)
    assert.equal! [inputs.mouse.wheel[:x], inputs.mouse.wheel[:y]], [1, 3]
    assert.equal! inputs.pinch_zoom, 75
    mouse_step(args) { assert.equal! inputs.mouse.wheel[:y], 3 }
    assert.nil! inputs.mouse.wheel
    assert.equal! inputs.pinch_zoom, 0
    orb.platform = "iOS"
    orb.mouse_wheel(0, 2)
    assert.equal! inputs.pinch_zoom, 0
  end
end

def test_held_state_is_kept_every_tick_without_being_asked args, assert
  orb = args.orb
  mouse = args.inputs.mouse
  left = mouse.buttons.left
  orb.mouse_move(100, 100)
  orb.mouse_button_pressed(1)
  click_at = left.click_at
  first = nil
  mouse_step(args) { first = [mouse.click ? true : false, mouse.held ? true : false] }
  assert.equal! first, [true, true]
  assert.equal! Kernel.tick_count, click_at + 1, "a step advances the tick count"
  left.instance_variable_set(:@held, nil)
  left.instance_variable_set(:@held_at, nil)
  orb.mouse_button_up(1)
  mouse_step(args)
  orb.mouse_button_pressed(1)
  click_at = left.click_at
  # The game does not look at the button for five ticks.
  5.times { mouse_step(args) }
  assert.equal! left.held_at, click_at + 1
  assert.equal! left.held_duration, 4
  assert.equal! mouse.key_held.left ? true : false, true
  assert.equal! left.previous_click.created_at, click_at
  orb.mouse_move(150, 100)
  mouse_step(args) { assert.equal! [mouse.held.x, mouse.left.x], [150, 150] }
  orb.mouse_button_up(1)
  mouse_step(args) do
    assert.nil! mouse.held
    assert.true! mouse.up
    assert.equal! left.held_at, click_at + 1, "kept after the release"
  end
end

def test_only_a_short_press_is_a_buffered_click args, assert
  orb = args.orb
  mouse = args.inputs.mouse
  orb.mouse_move(100, 100)
  # ticks held before the release, buffered click on the release tick
  [[0, true], [3, true], [11, true], [12, false], [30, false]].each do |ticks, expected|
    orb.mouse_button_pressed(1)
    ticks.times { mouse_step(args) }
    orb.mouse_button_up(1)
    got = nil
    mouse_step(args) { got = mouse.buffered_click ? true : false }
    assert.equal! got, expected, "held #{ticks} ticks"
    mouse_step(args) { assert.nil! mouse.buffered_click, "only in the release tick" }
  end
end

def test_a_long_hold_or_a_drag_is_buffered_held args, assert
  orb = args.orb
  mouse = args.inputs.mouse
  orb.mouse_move(100, 100)
  orb.mouse_button_pressed(1)
  seen = []
  14.times { mouse_step(args) { seen << (mouse.buffered_held ? true : false) } }
  assert.equal! seen.index(true), 12, seen.inspect
  orb.mouse_button_up(1)
  mouse_step(args) { assert.nil! mouse.buffered_held }
  orb.mouse_button_pressed(1)
  mouse_step(args)
  mouse_step(args)
  orb.mouse_move(140, 100)
  mouse_step(args) do
    point = mouse.buffered_held
    assert.true! point, "moved 40 away"
    assert.equal! point.x, 140
  end
  orb.mouse_button_up(1)
  mouse_step(args)
end

def test_mouse_points_and_queries args, assert
  orb = args.orb
  mouse = args.inputs.mouse
  orb.mouse_move(10, 700)
  orb.mouse_button_pressed(3)
  right = mouse.buttons.right
  assert.equal! right.click.serialize, { x: 10, y: 20, created_at: Kernel.tick_count,
                                         global_created_at: Kernel.global_tick_count }
  assert.equal! right.click.point, { x: 10, y: 20, w: 0, h: 0 }
  assert.true! mouse.key_down?(:right)
  assert.false! mouse.key_down?(:left)
  assert.true! mouse.right
  assert.nil! args.inputs.click
  assert.equal! mouse.buttons.map(&:id), [:left, :middle, :right, :x1, :x2]
  assert.equal! mouse.point, { x: 10, y: 20, w: 0, h: 0 }
  assert.equal! mouse.serialize, { x: 10, y: 20, moved: true, moved_at: Kernel.tick_count, has_focus: false }
  orb.window_mouse_focus_changed(true)
  assert.true! mouse.has_focus
  orb.textinput("h")
  orb.textinput("i")
  mouse_step(args) { assert.equal! args.inputs.text, ["h", "i"] }
  assert.equal! args.inputs.text, []
  orb.mouse_button_up(3)
end

def test_touches_are_numbered_and_drive_the_mouse args, assert
  orb = args.orb
  inputs = args.inputs
  mouse = inputs.mouse
  mouse_keep_runtime("iOS") do
    orb.finger_down(11, 640, 360)
    one = inputs.touch[11]
    assert.equal! [one.touch_order, inputs.finger_one.equal?(one), inputs.finger_two], [0, true, nil]
    assert.equal! [mouse.x, mouse.y], [640, 360], "the first finger moves the mouse at once"
    assert.true! mouse.buttons.left.click
    orb.finger_move(11, 740, 360)
    assert.equal! [one.previous_x, one.x], [640, 740]
    assert.equal! mouse.x, 650, "later moves go 10 % of the way"
    assert.nil! orb.finger_move(99, 0, 0), "an unknown touch is ignored"
    orb.finger_down(12, 1000, 360)
    two = inputs.touch[12]
    assert.equal! [two.touch_order, inputs.finger_two.equal?(two)], [1, true]
    assert.equal! inputs.finger_right, { x: 1000, y: 360, w: 1, h: 1 }
    assert.equal! inputs.pinch_zoom, 0
    orb.finger_move(12, 900, 360)
    assert.equal! inputs.pinch_zoom, 200
    orb.finger_up(11)
    assert.nil! inputs.finger_one
    assert.equal! inputs.multi_touch_finger_up_at, Kernel.tick_count
    assert.true! mouse.button_left, "one finger still down"
    orb.finger_down(13, 100, 100)
    assert.equal! [inputs.touch[13].touch_order, inputs.finger_one, inputs.finger_two.equal?(two)], [2, nil, true]
    orb.finger_up(12)
    orb.finger_up(13)
    assert.equal! [inputs.touch, inputs.finger_one, inputs.finger_two, inputs.finger_left, inputs.finger_right],
                  [{}, nil, nil, nil, nil]
    assert.false! mouse.button_left
    assert.true! mouse.buttons.left.up
    orb.finger_down(14, 100, 100)
    assert.equal! [inputs.touch[14].touch_order, inputs.finger_one.equal?(inputs.touch[14])], [0, true]
    orb.finger_up(14)
  end
end

def test_several_fingers_keep_easing_the_mouse_after_the_tick args, assert
  orb = args.orb
  inputs = args.inputs
  mouse_keep_runtime("iOS") do
    orb.finger_down(1, 100, 360)
    orb.finger_down(2, 300, 360)
    x = inputs.mouse.x
    assert.equal! x, 110
    orb.touch_inputs_tick_after
    assert.equal! inputs.mouse.x, 119
    orb.finger_up(1)
    orb.finger_up(2)
  end
end

def test_an_accessibility_activation_clicks_the_element args, assert
  orb = args.orb
  inputs = args.inputs
  saved = orb.instance_variable_get(:@scheduled_callbacks).dup
  args.outputs.a11y_processed[:play] = { rect: { x: 100, y: 200, w: 50, h: 20 } }
  orb.raw_event({ type: :a11y_activation_event, activated_id: :play,
                  activated_global_at: Kernel.global_tick_count })
  assert.equal! args.events[:raw].length, 1
  assert.true! inputs.a11y[:activated]
  orb.a11y_inputs_tick_before
  assert.equal! [inputs.mouse.x, inputs.mouse.y], [125, 210]
  pressed = nil
  12.times do |i|
    mouse_step(args) { pressed = i if pressed.nil? && inputs.mouse.click }
  end
  assert.equal! pressed, 4, "pressed 5 ticks later"
  assert.false! inputs.mouse.button_left, "released again"
ensure
  orb.instance_variable_set(:@scheduled_callbacks, saved)
end
