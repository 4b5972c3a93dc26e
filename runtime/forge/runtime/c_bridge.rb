# ORB::Runtime::CBridge: the input entry points the engine calls on the
# runtime object (keyboard, mouse, touch, controllers, sticks, window
# events). Every call may carry a last `sender` argument; while a replay
# runs, calls not sent by the replay are ignored, and while recording every
# call is kept in the recording's input history.
module ORB
  class Runtime
    module CBridge
      RAW_CONTROLLER_KEY_LOOKUP = {
        1 => :up, 2 => :down, 3 => :left, 4 => :right, 13 => :start, 14 => :b, 15 => :a,
        16 => :x, 17 => :y, 18 => :l1, 19 => :r1, 20 => :l3, 21 => :r3, 22 => :l2, 23 => :r2,
        24 => :directional_up, 25 => :directional_down, 26 => :directional_left,
        27 => :directional_right, 28 => :select, 29 => :home
      }.freeze

      def __input_blocked__(sender)
        sender != :replay && @recording.is_replaying?
      end

      def mouse_move(mousex, mousey, sender = false)
        mouse_move_relative(mousex, mousey, 0, 0, sender)
      end

      def mouse_move_relative(mousex, mousey, relative_x, relative_y, sender = false)
        return nil if __input_blocked__(sender)
        @recording.record_input_history(:mouse_move, mousex, mousey, 2)
        __mouse_move__(mousex, mousey, relative_x, relative_y)
      end

      # The entry points' bodies, also used by the touch handlers, which
      # drive a simulated mouse without recording it a second time.
      def __mouse_move__(mousex, mousey, relative_x, relative_y)
        args = @args
        grid = args.grid
        inputs = args.inputs
        mouse = inputs.mouse
        relative_y = -relative_y
        x = grid.untransform_x(mousex)
        y = grid.untransform_y(mousey)
        mouse.active = Kernel.tick_count
        mouse.moved = MousePoint.new(x, y)
        mouse.previous_x = mouse.x
        mouse.previous_y = mouse.y
        mouse.x = x
        mouse.y = y
        if @mouse_grab == 2
          mouse.relative_x = relative_x
          mouse.relative_y = relative_y
        else
          mouse.relative_x = x - mouse.previous_x
          mouse.relative_y = y - mouse.previous_y
        end
        mouse.moved_at = Kernel.tick_count
        mouse.global_moved_at = Kernel.global_tick_count
        inputs.__mark_active__(:mouse)
        unless platform?(:touch)
          if inputs.finger_left
            inputs.finger_left[:x] = x
            inputs.finger_left[:y] = y
          end
          if inputs.finger_right
            inputs.finger_right[:x] = x
            inputs.finger_right[:y] = y
          end
        end
        mouse.buttons.each do |button|
          button.x = x
          button.y = y
          button.relative_x = mouse.relative_x
          button.relative_y = mouse.relative_y
        end
        nil
      end

      # Buttons beyond the five the mouse models (extra side buttons of
      # some mice) are ignored.
      def mouse_button_pressed(button, sender = false)
        return nil if __input_blocked__(sender)
        return nil unless button.is_a?(Integer) && button >= 1 && button <= 5
        @recording.record_input_history(:mouse_button_pressed, button, nil, 1)
        __mouse_button_pressed__(button)
      end

      def __mouse_button_pressed__(button)
        inputs = @args.inputs
        mouse = inputs.mouse
        mouse.update_buttons(mouse.button_bits | (1 << (button - 1)))
        inputs.__mark_active__(:mouse)
        if button == 1 && !platform?(:touch)
          # Halves are split at the grid's centre, wherever the origin is.
          center = @args.grid.center_x
          if mouse.x < center
            inputs.finger_left = { x: mouse.x, y: mouse.y, w: 1, h: 1 }
            inputs.finger_right = nil
          elsif mouse.x > center
            inputs.finger_right = { x: mouse.x, y: mouse.y, w: 1, h: 1 }
            inputs.finger_left = nil
          end
        end
        target = mouse.buttons[button - 1]
        target.click = MousePoint.new(mouse.x, mouse.y)
        target.click_at = Kernel.tick_count
        target.global_click_at = Kernel.global_tick_count
        nil
      end

      def mouse_button_up(button, sender = false)
        return nil if __input_blocked__(sender)
        return nil unless button.is_a?(Integer) && button >= 1 && button <= 5
        @recording.record_input_history(:mouse_button_up, button, nil, 1)
        __mouse_button_up__(button)
      end

      def __mouse_button_up__(button)
        inputs = @args.inputs
        mouse = inputs.mouse
        mouse.update_buttons(mouse.button_bits & ~(1 << (button - 1)))
        inputs.__mark_active__(:mouse)
        if button == 1 && !platform?(:touch)
          inputs.finger_left = nil
          inputs.finger_right = nil
        end
        target = mouse.buttons[button - 1]
        target.up = MousePoint.new(mouse.x, mouse.y)
        target.up_at = Kernel.tick_count
        target.global_up_at = Kernel.global_tick_count
        nil
      end

      def mouse_pressed(_x, _y, sender = false)
        mouse_button_pressed(1, sender)
      end

      def mouse_up(_x, _y, sender = false)
        mouse_button_up(1, sender)
      end

      def mouse_wheel(x, y = 0, inverted = false, sender = false)
        return nil if __input_blocked__(sender)
        @recording.record_input_history_3_params(:mouse_wheel, x, y, inverted)
        __mouse_wheel__(x, y, inverted)
      end

      def __mouse_wheel__(x, y, inverted)
        inputs = @args.inputs
        mouse = inputs.mouse
        mouse.active = Kernel.tick_count
        wheel = mouse.wheel
        if wheel.nil?
          mouse.wheel = { x: x, y: y, inverted: inverted, created_at: Kernel.tick_count,
                          global_created_at: Kernel.global_tick_count }
        else
          wheel[:x] += x
          wheel[:y] += y
          wheel[:created_at] = Kernel.tick_count
        end
        inputs.__mark_active__(:mouse)
        inputs.pinch_zoom = mouse.wheel[:y] * WHEEL_TO_PINCH unless platform?(:touch)
        nil
      end

      def textinput(str, sender = false)
        return nil if __input_blocked__(sender)
        @recording.record_input_history(:textinput, str, nil, 1)
        @args.inputs.text << str
        nil
      end

      CONSOLE_TOGGLE_KEYS = [:backtick!, :tilde!, :superscript_two!, :section!, :ordinal_indicator!].freeze
      CTRL_R_KEY = 114
      LEFT_CONTROL_MODIFIER = 64

      def key_down_raw(raw_key, modifier, sender = false)
        return nil if __slowmo_holding_frame__?
        if __input_blocked__(sender)
          return nil unless __stops_replay__?(raw_key, modifier)
          @recording.stop_replay
        end
        @recording.record_input_history(:key_down_raw, raw_key, modifier, 2)
        inputs = @args.inputs
        inputs.keyboard.key_down_in_game(raw_key, modifier, inputs)
        nil
      end

      # The console's toggle key and Ctrl+R still work during a replay: they
      # end it, then act as usual.
      def __stops_replay__?(raw_key, modifier)
        return true if raw_key == CTRL_R_KEY && modifier == LEFT_CONTROL_MODIFIER
        result = @args.inputs.keyboard.sdl_to_key(raw_key, modifier)
        return false unless result
        toggles = @console.respond_to?(:toggle_keys) ? @console.toggle_keys : CONSOLE_TOGGLE_KEYS
        toggles.include?(:"#{result[0][0]}!")
      end

      def key_up_raw(raw_key, modifier, sender = false)
        return nil if __input_blocked__(sender)
        @recording.record_input_history(:key_up_raw, raw_key, modifier, 2)
        inputs = @args.inputs
        inputs.keyboard.key_up_in_game(raw_key, modifier, inputs)
        nil
      end

      def scancode_down_raw(raw_scancode, modifier, sender = false)
        return nil if __slowmo_holding_frame__?
        return nil if __input_blocked__(sender)
        @recording.record_input_history(:scancode_down_raw, raw_scancode, modifier, 2)
        @args.inputs.keyboard.scancode_down(raw_scancode)
        nil
      end

      def scancode_up_raw(raw_scancode, modifier, sender = false)
        return nil if __input_blocked__(sender)
        @recording.record_input_history(:scancode_up_raw, raw_scancode, modifier, 2)
        @args.inputs.keyboard.scancode_up(raw_scancode)
        nil
      end

      def controller_key_down(player_num, raw_key, sender = false)
        controller_key_event(player_num, raw_key, :key_down, sender)
      end

      def controller_key_held(player_num, raw_key, sender = false)
        controller_key_event(player_num, raw_key, :key_held, sender)
      end

      def controller_key_up(player_num, raw_key, sender = false)
        controller_key_event(player_num, raw_key, :key_up, sender)
      end

      PLAYER_WORDS = [nil, :one, :two, :three, :four].freeze

      # A key slot outside the table (a newer engine's extra button) or a
      # player outside 1 to 4 is ignored rather than failing the step.
      def controller_key_event(player_num, raw_key, event, sender = false)
        return nil if __input_blocked__(sender)
        label = RAW_CONTROLLER_KEY_LOOKUP[raw_key]
        return nil unless label
        return nil unless player_num.is_a?(Integer) && player_num >= 1 && player_num <= 4
        controller = @args.inputs.controllers[player_num - 1]
        word = PLAYER_WORDS[player_num]
        @recording.record_input_history(:"#{event}_player_#{word}", raw_key, nil, 1) if @recording.is_recording?
        controller.active = Kernel.tick_count
        case event
        when :key_down then controller.activate_down(label)
        when :key_held then controller.activate_held(label)
        when :key_up then controller.activate_up(label)
        else
          raise "  * ERROR:\n  Layout#set_key failed for player_num: #{player_num}, raw_key: #{raw_key}, event: #{event}.\n\n"
        end
        @args.inputs.__mark_active__(:controller)
        nil
      end

      def key_down_player_one(raw_key, sender = false)
        controller_key_event(1, raw_key, :key_down, sender)
      end

      def key_held_player_one(raw_key, sender = false)
        controller_key_event(1, raw_key, :key_held, sender)
      end

      def key_up_player_one(raw_key, sender = false)
        controller_key_event(1, raw_key, :key_up, sender)
      end

      def key_down_player_two(raw_key, sender = false)
        controller_key_event(2, raw_key, :key_down, sender)
      end

      def key_held_player_two(raw_key, sender = false)
        controller_key_event(2, raw_key, :key_held, sender)
      end

      def key_up_player_two(raw_key, sender = false)
        controller_key_event(2, raw_key, :key_up, sender)
      end

      def key_down_player_three(raw_key, sender = false)
        controller_key_event(3, raw_key, :key_down, sender)
      end

      def key_held_player_three(raw_key, sender = false)
        controller_key_event(3, raw_key, :key_held, sender)
      end

      def key_up_player_three(raw_key, sender = false)
        controller_key_event(3, raw_key, :key_up, sender)
      end

      def key_down_player_four(raw_key, sender = false)
        controller_key_event(4, raw_key, :key_down, sender)
      end

      def key_held_player_four(raw_key, sender = false)
        controller_key_event(4, raw_key, :key_held, sender)
      end

      def key_up_player_four(raw_key, sender = false)
        controller_key_event(4, raw_key, :key_up, sender)
      end

      def __controller_connected__(index, name)
        controller = @args.inputs.controllers[index]
        controller.connected = true
        controller.name = name.to_s
        nil
      end

      def __controller_disconnected__(index)
        inputs = @args.inputs
        inputs.controllers[index].connected = false
        if inputs.last_active == :controller
          inputs.last_active = platform?(:mobile) ? :mouse : :keyboard
          inputs.last_active_at = Kernel.tick_count
        end
        nil
      end

      def controller_one_connected(name = "")
        __controller_connected__(0, name)
      end

      def controller_two_connected(name = "")
        __controller_connected__(1, name)
      end

      def controller_three_connected(name = "")
        __controller_connected__(2, name)
      end

      def controller_four_connected(name = "")
        __controller_connected__(3, name)
      end

      def controller_one_disconnected
        __controller_disconnected__(0)
      end

      def controller_two_disconnected
        __controller_disconnected__(1)
      end

      def controller_three_disconnected
        __controller_disconnected__(2)
      end

      def controller_four_disconnected
        __controller_disconnected__(3)
      end

      # Sticks are reported every step; an unchanged value costs one compare.
      def __analog__(slot, player_index, axis, value, name, sender)
        return nil if __input_blocked__(sender)
        @analog_previous[slot] = value
        @recording.record_input_history(name, value, nil, 1) if @recording.is_recording?
        inputs = @args.inputs
        inputs.__mark_active__(:controller) if inputs.controllers[player_index].analog_value(axis, value)
        nil
      end

      def left_analog_x_player_1(value, sender = false)
        return nil if value == @analog_previous[0]
        __analog__(0, 0, :left_x, value, :left_analog_x_player_1, sender)
      end

      def left_analog_y_player_1(value, sender = false)
        return nil if value == @analog_previous[1]
        __analog__(1, 0, :left_y, value, :left_analog_y_player_1, sender)
      end

      def right_analog_x_player_1(value, sender = false)
        return nil if value == @analog_previous[2]
        __analog__(2, 0, :right_x, value, :right_analog_x_player_1, sender)
      end

      def right_analog_y_player_1(value, sender = false)
        return nil if value == @analog_previous[3]
        __analog__(3, 0, :right_y, value, :right_analog_y_player_1, sender)
      end

      def left_analog_x_player_2(value, sender = false)
        return nil if value == @analog_previous[4]
        __analog__(4, 1, :left_x, value, :left_analog_x_player_2, sender)
      end

      def left_analog_y_player_2(value, sender = false)
        return nil if value == @analog_previous[5]
        __analog__(5, 1, :left_y, value, :left_analog_y_player_2, sender)
      end

      def right_analog_x_player_2(value, sender = false)
        return nil if value == @analog_previous[6]
        __analog__(6, 1, :right_x, value, :right_analog_x_player_2, sender)
      end

      def right_analog_y_player_2(value, sender = false)
        return nil if value == @analog_previous[7]
        __analog__(7, 1, :right_y, value, :right_analog_y_player_2, sender)
      end

      def left_analog_x_player_3(value, sender = false)
        return nil if value == @analog_previous[8]
        __analog__(8, 2, :left_x, value, :left_analog_x_player_3, sender)
      end

      def left_analog_y_player_3(value, sender = false)
        return nil if value == @analog_previous[9]
        __analog__(9, 2, :left_y, value, :left_analog_y_player_3, sender)
      end

      def right_analog_x_player_3(value, sender = false)
        return nil if value == @analog_previous[10]
        __analog__(10, 2, :right_x, value, :right_analog_x_player_3, sender)
      end

      def right_analog_y_player_3(value, sender = false)
        return nil if value == @analog_previous[11]
        __analog__(11, 2, :right_y, value, :right_analog_y_player_3, sender)
      end

      def left_analog_x_player_4(value, sender = false)
        return nil if value == @analog_previous[12]
        __analog__(12, 3, :left_x, value, :left_analog_x_player_4, sender)
      end

      def left_analog_y_player_4(value, sender = false)
        return nil if value == @analog_previous[13]
        __analog__(13, 3, :left_y, value, :left_analog_y_player_4, sender)
      end

      def right_analog_x_player_4(value, sender = false)
        return nil if value == @analog_previous[14]
        __analog__(14, 3, :right_x, value, :right_analog_x_player_4, sender)
      end

      def right_analog_y_player_4(value, sender = false)
        return nil if value == @analog_previous[15]
        __analog__(15, 3, :right_y, value, :right_analog_y_player_4, sender)
      end

      def __write_tracked__(target, x, y, z, orientation_x, orientation_y, orientation_z)
        position = target[:position]
        position[:x] = x
        position[:y] = y
        position[:z] = z
        orientation = target[:orientation]
        orientation[:x] = orientation_x
        orientation[:y] = orientation_y
        orientation[:z] = orientation_z
        nil
      end

      def left_controller_position(x, y, z, orientation_x, orientation_y, orientation_z)
        controller = @args.inputs.controllers[0]
        return nil if !controller.left_hand? && x == 0 && y == 0 && z == 0 &&
                      orientation_x == 0 && orientation_y == 0 && orientation_z == 0
        __write_tracked__(controller.left_hand, x, y, z, orientation_x, orientation_y, orientation_z)
      end

      def right_controller_position(x, y, z, orientation_x, orientation_y, orientation_z)
        controller = @args.inputs.controllers[0]
        return nil if !controller.right_hand? && x == 0 && y == 0 && z == 0 &&
                      orientation_x == 0 && orientation_y == 0 && orientation_z == 0
        __write_tracked__(controller.right_hand, x, y, z, orientation_x, orientation_y, orientation_z)
      end

      def headset_position(x, y, z, orientation_x, orientation_y, orientation_z)
        __write_tracked__(@args.inputs.headset, x, y, z, orientation_x, orientation_y, orientation_z)
      end

      WHEEL_TO_PINCH = 25

      def finger_down(touchid, touchx, touchy, sender = false)
        return nil if __input_blocked__(sender)
        @recording.record_input_history_3_params(:finger_down, touchid, touchx, touchy)
        inputs = @args.inputs
        grid = @args.grid
        touches = inputs.touch
        count_before = touches.length
        x = grid.untransform_x(touchx)
        y = grid.untransform_y(touchy)
        touch = touches[touchid] ||= FingerTouch.new
        touch.moved = true
        touch.down_at = Kernel.tick_count
        touch.moved_at = Kernel.tick_count
        touch.global_down_at = Kernel.global_tick_count
        touch.global_moved_at = Kernel.global_tick_count
        touch.previous_x = x
        touch.previous_y = y
        touch.x = x
        touch.y = y
        touch.touch_order = @touch_count
        @touch_count += 1
        __finger_fields__(inputs, touch)
        inputs.__mark_active__(:mouse)
        __simulate_mouse__(inputs, count_before)
        count = touches.length
        if count == 1
          __mouse_button_pressed__(1)
        elsif count == 2
          inputs.pinch_zoom = 0
        end
        nil
      end

      def finger_move(touchid, touchx, touchy, sender = false)
        return nil if __input_blocked__(sender)
        inputs = @args.inputs
        touches = inputs.touch
        touch = touches[touchid]
        return nil unless touch
        @recording.record_input_history_3_params(:finger_move, touchid, touchx, touchy)
        grid = @args.grid
        x = grid.untransform_x(touchx)
        y = grid.untransform_y(touchy)
        touch.moved = true
        touch.moved_at = Kernel.tick_count
        touch.global_moved_at = Kernel.global_tick_count
        touch.previous_x = touch.x
        touch.previous_y = touch.y
        touch.x = x
        touch.y = y
        __finger_fields__(inputs, touch)
        inputs.__mark_active__(:mouse)
        if touches.length == 2
          values = touches.values
          a = values.first
          b = values.last
          before = Math.sqrt((a.previous_x - b.previous_x)**2 + (a.previous_y - b.previous_y)**2)
          now = Math.sqrt((a.x - b.x)**2 + (a.y - b.y)**2)
          inputs.pinch_zoom = before - now
          __mouse_wheel__(0, inputs.pinch_zoom / WHEEL_TO_PINCH.to_f, false)
        else
          inputs.pinch_zoom = 0
        end
        __simulate_mouse__(inputs, touches.length)
        nil
      end

      def finger_up(touchid, sender = false)
        return nil if __input_blocked__(sender)
        @recording.record_input_history(:finger_up, touchid, nil, 1)
        inputs = @args.inputs
        touches = inputs.touch
        touch = touches[touchid]
        if touch
          center = @args.grid.center_x
          if touch.x < center
            inputs.finger_left = nil
          elsif touch.x > center
            inputs.finger_right = nil
          end
          touches.delete(touchid)
          inputs.finger_one = nil if touch.touch_order == 0
          inputs.finger_two = nil if touch.touch_order == 1
        end
        if touches.empty?
          @touch_count = 0
          inputs.finger_one = nil
          inputs.finger_two = nil
          inputs.finger_left = nil
          inputs.finger_right = nil
          __mouse_button_up__(1)
        else
          inputs.multi_touch_finger_up_at = Kernel.tick_count
        end
        inputs.pinch_zoom = 0
        inputs.__mark_active__(:mouse)
        nil
      end

      # Touch order 0 and 1 are fingers one and two; a contact left or right
      # of the grid's centre is the left or right finger.
      def __finger_fields__(inputs, touch)
        order = touch.touch_order
        inputs.finger_one = touch if order == 0
        inputs.finger_two = touch if order == 1
        x = touch.x
        y = touch.y
        center = @args.grid.center_x
        if x < center
          inputs.finger_left = { x: x, y: y, w: 1, h: 1 }
        elsif x > center
          inputs.finger_right = { x: x, y: y, w: 1, h: 1 }
        end
      end

      # The mouse follows the touches' mean position: at once for a first
      # finger, otherwise 10 % of the way per event to smooth out jitter.
      def __simulate_mouse__(inputs, count_before)
        touches = inputs.touch
        count = touches.length
        return nil if count == 0
        sum_x = 0
        sum_y = 0
        touches.each_value do |t|
          sum_x += t.x
          sum_y += t.y
        end
        grid = @args.grid
        target_x = grid.transform_x(sum_x / count.to_f)
        target_y = grid.transform_y(sum_y / count.to_f)
        center = inputs.touch_center
        if count == 1 && count_before == 0
          center[:x] = target_x
          center[:y] = target_y
        else
          center[:x] += (target_x - center[:x]) * 0.1
          center[:y] += (target_y - center[:y]) * 0.1
        end
        __mouse_move__(center[:x], center[:y], 0, 0)
      end

      # After the game's tick: with several fingers down the simulated mouse
      # keeps easing towards their centre.
      def touch_inputs_tick_after
        inputs = @args.inputs
        count = inputs.touch.length
        __simulate_mouse__(inputs, count) if count > 1
        nil
      end

      def window_keyboard_focus_changed(gained)
        @args.inputs.keyboard.has_focus = gained
        nil
      end

      def window_mouse_focus_changed(gained)
        @args.inputs.mouse.has_focus = gained
        nil
      end

      def rawjoystick_connected(jid, joystickname, guid)
        @controller_config.rawjoystick_connected(jid, joystickname, guid)
        nil
      end

      def rawjoystick_disconnected(jid)
        @controller_config.rawjoystick_disconnected(jid)
        nil
      end

      def rawjoystick_axis(jid, axis, value)
        @controller_config.rawjoystick_axis(jid, axis, value)
        nil
      end

      def rawjoystick_hat(jid, hat, value)
        @controller_config.rawjoystick_hat(jid, hat, value)
        nil
      end

      def rawjoystick_button(jid, button, pressed)
        @controller_config.rawjoystick_button(jid, button, pressed)
        nil
      end

      def windowevent_size_changed(orientation_w, orientation_h, window_w, window_h,
                                   allscreen_w_px, allscreen_h_px,
                                   allscreen_offset_x_px, allscreen_offset_y_px,
                                   native_scale, texture_scale_enum, render_scale, high_dpi_scale)
        args = @args
        grid = args.grid
        flipped = grid.windowevent_size_changed(orientation_w, orientation_h, window_w, window_h,
                                                allscreen_w_px, allscreen_h_px,
                                                allscreen_offset_x_px, allscreen_offset_y_px,
                                                native_scale, texture_scale_enum, render_scale, high_dpi_scale)
        if flipped
          args.events[:orientation_changed] = true
          @orientation = @orientation == :landscape ? :portrait : :landscape
          @logical_width, @logical_height = @logical_height, @logical_width
          if grid.origin_name == :center
            grid.origin_center!(force: true)
          else
            grid.origin_bottom_left!(force: true)
          end
          args.layout.orientation_changed!
        end
        args.events[:resize_occurred] = true
        nil
      end

      # Start of the tick after an accessibility activation: a click on the
      # centre of the activated element, as a pointer user would make it.
      # The element's rectangle is already in game coordinates.
      def a11y_inputs_tick_before
        a11y = @args.inputs.a11y
        return nil unless a11y[:activated]
        raw_at = a11y[:activated_global_at_raw]
        id = a11y[:activated_id]
        return nil unless raw_at.is_a?(Numeric) && (Kernel.global_tick_count - raw_at).abs < 30
        return nil if id.nil? || id.to_s.empty?
        processed = @args.outputs.a11y_processed
        entry = processed[id] || processed[id.to_s.to_sym]
        return nil unless entry
        rect = entry[:rect] || entry
        x = rect[:x].to_f + rect[:w].to_f / 2
        y = rect[:y].to_f + rect[:h].to_f / 2
        grid = @args.grid
        __mouse_move__(grid.transform_x(x), grid.transform_y(y), 0, 0)
        press_at = Kernel.tick_count + 5
        on_tick_count(press_at) { __mouse_button_pressed__(1) }
        on_tick_count(press_at + 5) { __mouse_button_up__(1) }
        nil
      end

      def raw_event(event)
        args = @args
        args.events[:raw] << event
        if event.is_a?(Hash) && event[:type] == :a11y_activation_event
          a11y = args.inputs.a11y
          a11y[:activated] = true
          a11y[:activated_at] = Kernel.tick_count
          a11y[:activated_global_at] = Kernel.global_tick_count
          a11y[:activated_global_at_raw] = event[:activated_global_at]
          a11y[:activated_id] = event[:activated_id]
        end
        nil
      end
    end
  end
end
