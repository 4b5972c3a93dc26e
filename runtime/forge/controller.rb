# Game controllers (`args.inputs.controllers`, four players). The engine
# reports digital keys per player and key slot, and the analog sticks every
# step; values are stamped with the tick count + 1, the tick the game sees
# them in.
module ORB
  class Controller
    include KeyStateQueries

    class Keys
      LABELS = [:up, :down, :left, :right, :a, :b, :x, :y, :l1, :r1, :l2, :r2, :l3, :r3,
                :start, :select, :home, :directional_up, :directional_down,
                :directional_left, :directional_right].freeze

      attr_reader(*LABELS)

      LABELS.each do |label|
        ivar = :"@#{label}"
        define_method(:"#{label}=") do |value|
          @any = true if value
          instance_variable_set(ivar, value)
        end
      end

      [:up, :down, :left, :right].each do |dir|
        real = :"directional_#{dir}"
        alias_method :"dpad_#{dir}", real
        alias_method :"#{dir}_dpad", real
        alias_method :"dpad_#{dir}=", :"#{real}="
        alias_method :"#{dir}_dpad=", :"#{real}="
      end

      alias back select
      alias back= select=
      alias guide home
      alias guide= home=

      def truthy_keys
        LABELS.select { |label| __send__(label) }
      end

      def clear
        return unless @any
        LABELS.each { |label| instance_variable_set(:"@#{label}", nil) }
        @any = false
      end

      def serialize
        result = {}
        LABELS.each do |label|
          value = __send__(label)
          result[label] = value if value
        end
        result
      end

      def inspect
        serialize.to_s
      end
    end

    attr_accessor :name, :connected, :active, :active_at, :active_global_at,
                  :key_down, :key_held, :key_up,
                  :left_analog_x_raw, :left_analog_y_raw, :right_analog_x_raw, :right_analog_y_raw,
                  :left_analog_x_perc, :left_analog_y_perc, :right_analog_x_perc, :right_analog_y_perc,
                  :analog_dead_zone
    attr_writer :left_hand, :right_hand

    def initialize
      @name = ""
      @connected = false
      @active = false
      @key_down = Keys.new
      @key_held = Keys.new
      @key_up = Keys.new
      @left_analog_x_raw = 0
      @left_analog_y_raw = 0
      @right_analog_x_raw = 0
      @right_analog_y_raw = 0
      @left_analog_x_perc = 0
      @left_analog_y_perc = 0
      @right_analog_x_perc = 0
      @right_analog_y_perc = 0
      @analog_dead_zone = 3600
    end

    def left_hand
      @left_hand ||= { position: { x: 0, y: 0, z: 0 }, orientation: { x: 0, y: 0, z: 0 } }
    end

    def left_hand?
      !@left_hand.nil?
    end

    def right_hand?
      !@right_hand.nil?
    end

    def right_hand
      @right_hand ||= { position: { x: 0, y: 0, z: 0 }, orientation: { x: 0, y: 0, z: 0 } }
    end

    Keys::LABELS.each do |label|
      define_method(label) { @key_down.__send__(label) || @key_held.__send__(label) }
    end

    # After the directions above exist: the helpers check for them.
    include DirectionalInputHelperMethods


    def activate_down(label)
      @key_down.__send__(:"#{label}=", Kernel.tick_count + 1)
      @key_held.__send__(:"#{label}=", nil)
      @key_up.__send__(:"#{label}=", nil)
    end

    def activate_held(label)
      @key_down.__send__(:"#{label}=", nil)
      @key_held.__send__(:"#{label}=", Kernel.tick_count + 1) unless @key_held.__send__(label)
      @key_up.__send__(:"#{label}=", nil)
    end

    def activate_up(label)
      @key_down.__send__(:"#{label}=", nil)
      @key_held.__send__(:"#{label}=", nil)
      @key_up.__send__(:"#{label}=", Kernel.tick_count + 1)
    end

    def left_analog_angle
      return nil if @left_analog_x_raw == 0 && @left_analog_y_raw == 0
      (Math.atan2(@left_analog_y_perc, @left_analog_x_perc) * 180.0 / Math::PI) % 360
    end

    def right_analog_angle
      return nil if @right_analog_x_raw == 0 && @right_analog_y_raw == 0
      (Math.atan2(@right_analog_y_perc, @right_analog_x_perc) * 180.0 / Math::PI) % 360
    end

    def left_analog_active?(threshold_raw: nil, threshold_perc: nil)
      if threshold_perc && !threshold_raw
        return !(@left_analog_x_perc.abs < threshold_perc && @left_analog_y_perc.abs < threshold_perc)
      end
      !(@left_analog_x_raw == 0 && @left_analog_y_raw == 0)
    end

    def right_analog_active?(threshold_raw: nil, threshold_perc: nil)
      if threshold_perc && !threshold_raw
        return !(@right_analog_x_perc.abs < threshold_perc && @right_analog_y_perc.abs < threshold_perc)
      end
      !(@right_analog_x_raw == 0 && @right_analog_y_raw == 0)
    end

    # A stick report: answers true when it made the controller active.
    def analog_value(axis, value)
      made_active = false
      if value.abs > @analog_dead_zone && !@active
        @active = true
        @active_at = Kernel.tick_count
        @active_global_at = Kernel.global_tick_count
        made_active = true
      end
      value = 0 if value.abs <= @analog_dead_zone
      raw = (axis == :left_y || axis == :right_y) ? -value : value
      perc = (raw / 32767.0).round(2)
      case axis
      when :left_x
        @left_analog_x_raw = raw
        @left_analog_x_perc = perc
      when :left_y
        @left_analog_y_raw = raw
        @left_analog_y_perc = perc
      when :right_x
        @right_analog_x_raw = raw
        @right_analog_x_perc = perc
      when :right_y
        @right_analog_y_raw = raw
        @right_analog_y_perc = perc
      end
      made_active
    end

    def clear
      @key_down.clear
      @key_held.clear
      @key_up.clear
      @active = false
    end

    def serialize
      { left_analog_x_raw: @left_analog_x_raw, left_analog_y_raw: @left_analog_y_raw,
        right_analog_x_raw: @right_analog_x_raw, right_analog_y_raw: @right_analog_y_raw,
        left_analog_x_perc: @left_analog_x_perc, left_analog_y_perc: @left_analog_y_perc,
        right_analog_x_perc: @right_analog_x_perc, right_analog_y_perc: @right_analog_y_perc,
        active: @active, key_down: @key_down.serialize, key_held: @key_held.serialize,
        key_up: @key_up.serialize, left_analog_angle: left_analog_angle,
        right_analog_angle: right_analog_angle, left_analog_active: left_analog_active?,
        right_analog_active: right_analog_active? }
    end
    alias to_h serialize
    alias to_hash serialize

    def inspect
      serialize.to_s
    end
  end
end
