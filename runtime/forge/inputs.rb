# ORB::Inputs (`args.inputs`): keyboard, mouse, touches, four controllers,
# typed text and the web requests handed to this tick, plus aggregate
# queries over keyboard and controller one.
module ORB
  class Inputs
    attr_accessor :controllers, :keyboard, :mouse, :touch, :finger_one, :finger_two,
                  :finger_left, :finger_right, :touch_center, :pinch_zoom,
                  :multi_touch_finger_up_at, :text, :http_requests, :headset,
                  :last_active, :last_active_at, :last_active_global_at,
                  :touch_enabled, :locale_raw, :locale, :application_control, :a11y

    def initialize(touch_enabled: false, locale_raw: nil)
      @controllers = [Controller.new, Controller.new, Controller.new, Controller.new]
      @keyboard = Keyboard.new
      @mouse = Mouse.new
      @touch = {}
      @finger_one = nil
      @finger_two = nil
      @finger_left = nil
      @finger_right = nil
      @touch_center = { x: -1000, y: -1000 }
      @pinch_zoom = 0
      @text = []
      @http_requests = []
      @headset = { position: { x: 0, y: 0, z: 0 }, orientation: { x: 0, y: 0, z: 0 } }
      @last_active = :keyboard
      @last_active_at = 0
      @last_active_global_at = 0
      @touch_enabled = touch_enabled
      @locale_raw = locale_raw
      @locale = locale_raw.nil? || locale_raw.to_s.empty? ? "en" : locale_raw
      @application_control = { key_down: {}, key_up: {} }
      @a11y = {}
    end

    def controller_one
      @controllers[0]
    end

    def controller_two
      @controllers[1]
    end

    def controller_three
      @controllers[2]
    end

    def controller_four
      @controllers[3]
    end

    def touch_enabled?
      @touch_enabled
    end

    def click
      point = @mouse.click
      point ? point.point : nil
    end

    def up
      @keyboard.up || controller_one.up
    end

    def down
      @keyboard.down || controller_one.down
    end

    def left
      @keyboard.left || controller_one.left
    end

    def right
      @keyboard.right || controller_one.right
    end

    alias up_with_wasd up
    alias down_with_wasd down
    alias left_with_wasd left
    alias right_with_wasd right

    def left_right
      return -1 if left
      return 1 if right
      0
    end
    alias left_right_with_wasd left_right

    def up_down
      return 1 if up
      return -1 if down
      0
    end
    alias up_down_with_wasd up_down

    def directional_vector
      @keyboard.directional_vector || controller_one.directional_vector
    end

    def directional_angle
      @keyboard.directional_angle || controller_one.directional_angle
    end

    def left_right_perc
      perc = controller_one.left_analog_x_perc
      perc != 0 ? perc : left_right
    end
    alias left_right_perc_with_wasd left_right_perc

    def up_down_perc
      perc = controller_one.left_analog_y_perc
      perc != 0 ? perc : up_down
    end
    alias up_down_perc_with_wasd up_down_perc

    # Arrow keys only, else controller one's directional pad only.
    def left_right_arrow
      keyboard = @keyboard
      pad = controller_one
      return -1 if keyboard.__down_or_held__(:left_arrow) || pad.directional_left
      return 1 if keyboard.__down_or_held__(:right_arrow) || pad.directional_right
      0
    end
    alias left_right_directional left_right_arrow

    def up_down_arrow
      keyboard = @keyboard
      pad = controller_one
      return 1 if keyboard.__down_or_held__(:up_arrow) || pad.directional_up
      return -1 if keyboard.__down_or_held__(:down_arrow) || pad.directional_down
      0
    end
    alias up_down_directional up_down_arrow

    def left_right_directional_perc
      perc = controller_one.left_analog_x_perc
      perc != 0 ? perc : left_right_directional
    end

    def up_down_directional_perc
      perc = controller_one.left_analog_y_perc
      perc != 0 ? perc : up_down_directional
    end

    def __mark_active__(device)
      return if @last_active == device
      @last_active = device
      @last_active_at = Kernel.tick_count
      @last_active_global_at = Kernel.global_tick_count
    end

    # End of tick: per-tick input goes away, held state stays.
    def clear_inputs
      controllers = @controllers
      i = 0
      while i < 4
        c = controllers[i]
        c.key_down.clear
        c.key_up.clear
        c.active = false
        i += 1
      end
      mouse = @mouse
      mouse.tick_update
      mouse.clear
      mouse.active = false
      @text.clear unless @text.empty?
      @http_requests.clear unless @http_requests.empty?
      @keyboard.active = false
      @a11y.clear unless @a11y.empty?
      @pinch_zoom = 0
    end

    def clear
      @mouse.clear
      @keyboard.clear
      @controllers.each(&:clear)
      @touch.clear
      @http_requests.clear
      @application_control = { key_down: {}, key_up: {} }
      @finger_one = nil
      @finger_two = nil
      @pinch_zoom = 0
    end

    def serialize
      { controller_one: controller_one.serialize, controller_two: controller_two.serialize,
        controller_three: controller_three.serialize, controller_four: controller_four.serialize,
        keyboard: @keyboard.serialize, mouse: @mouse.serialize, text: @text,
        application_control: @application_control }
    end

    def inspect
      serialize.to_s
    end
  end
end
