# Mouse and touch state (`args.inputs.mouse`, `args.inputs.touch`). The
# engine reports window coordinates (logical units, y down); the runtime
# converts them to game coordinates through the grid before storing them.
module ORB
  class MousePoint
    include Geometry

    attr_accessor :x, :y, :created_at, :global_created_at
    attr_reader :point

    def initialize(x, y)
      @x = x
      @y = y
      @point = { x: x, y: y, w: 0, h: 0 }
      @created_at = Kernel.tick_count
      @global_created_at = Kernel.global_tick_count
    end

    def w
      0
    end

    def h
      0
    end

    def left
      @x
    end

    def right
      @x
    end

    def top
      @y
    end

    def bottom
      @y
    end

    def created_at_elapsed
      Kernel.tick_count - @created_at
    end

    def serialize
      { x: @x, y: @y, created_at: @created_at, global_created_at: @global_created_at }
    end
    alias to_h serialize
    alias to_hash serialize

    def inspect
      serialize.to_s
    end
  end

  class MouseButton
    attr_accessor :id, :index, :x, :y, :relative_x, :relative_y,
                  :click, :click_at, :global_click_at, :up, :up_at, :global_up_at,
                  :previous_click

    def initialize(id, index)
      @id = id
      @index = index
      @x = 0
      @y = 0
      @relative_x = 0
      @relative_y = 0
    end

    alias down click
    alias down_at click_at
    alias global_down_at global_click_at

    def w
      0
    end

    def h
      0
    end

    def buffered_duration_threshold
      12
    end

    def buffered_distance_threshold
      10
    end

    def held
      clicked = @global_click_at
      if clicked.nil? || (@global_up_at && @global_up_at >= clicked)
        @held = nil
        return nil
      end
      global = Kernel.global_tick_count
      return nil if clicked >= global
      if clicked == global - 1 || @held.nil?
        @held = MousePoint.new(@x, @y)
        if clicked == global - 1 && @click
          @held.created_at = @click.created_at + 1
          @held.global_created_at = @click.global_created_at + 1
        end
      end
      @held.x = @x
      @held.y = @y
      @held
    end

    def held_at
      if @global_click_at && @global_click_at == Kernel.global_tick_count - 1 && @global_up_at != @global_click_at
        @held_at = @click_at + 1
        @global_held_at = @global_click_at + 1
      end
      @held_at
    end

    def global_held_at
      held_at
      @global_held_at
    end

    def held_duration
      at = held_at
      return 0 unless held && at
      Kernel.tick_count - at
    end

    # A short press: pressed and released within one tick, or released
    # this tick less than 12 ticks after the press and near where it began.
    # The press length comes from the two stamps, since `held` is already
    # gone once the button is up.
    def buffered_click
      return MousePoint.new(@x, @y) if @click && @up_at == @click_at
      previous = @previous_click
      if previous && @up && @click_at && @up_at &&
         @up_at - @click_at < buffered_duration_threshold &&
         __distance_to__(previous) < buffered_distance_threshold
        return MousePoint.new(@x, @y)
      end
      nil
    end

    # A press that has become a drag or a long hold.
    def buffered_held
      point = held
      duration = held_duration
      if point && duration > 1 &&
         ((@previous_click && __distance_to__(@previous_click) >= buffered_distance_threshold) ||
          duration >= buffered_duration_threshold)
        @buffered_held ||= MousePoint.new(@x, @y)
        @buffered_held.x = @x
        @buffered_held.y = @y
        return @buffered_held
      end
      @buffered_held = nil
    end

    # Run every tick so that the held point and its stamps do not depend on
    # the game asking for them in the tick after the press.
    def tick_update
      return if @global_click_at.nil?
      held
      held_at
      nil
    end

    def __distance_to__(point)
      dx = @x - point.x
      dy = @y - point.y
      Math.sqrt(dx * dx + dy * dy)
    end

    # End of tick: the click becomes the previous click; per-tick fields go.
    def clear
      if @click
        previous = MousePoint.new(@click.x, @click.y)
        previous.created_at = @click.created_at
        previous.global_created_at = @click.global_created_at
        @previous_click = previous
        @click = nil
      end
      @up = nil
      @relative_x = 0
      @relative_y = 0
    end

    def serialize
      { id: @id, x: @x, y: @y, click_at: @click_at, up_at: @up_at }
    end

    def inspect
      serialize.to_s
    end
  end

  class MouseButtons
    include Enumerable

    attr_reader :left, :middle, :right, :x1, :x2

    def initialize
      @left = MouseButton.new(:left, 0)
      @middle = MouseButton.new(:middle, 1)
      @right = MouseButton.new(:right, 2)
      @x1 = MouseButton.new(:x1, 3)
      @x2 = MouseButton.new(:x2, 4)
      @all = [@left, @middle, @right, @x1, @x2].freeze
    end

    def each(&block)
      @all.each(&block)
    end

    def [](index)
      @all[index]
    end

    def all
      @all
    end
  end

  class Mouse
    include Geometry
    include KeyStateQueries

    attr_accessor :x, :y, :previous_x, :previous_y, :moved, :moved_at, :global_moved_at,
                  :relative_x, :relative_y, :wheel, :has_focus, :button_bits,
                  :button_left, :button_middle, :button_right, :button_x1, :button_x2,
                  :active
    attr_reader :buttons, :key_down, :key_held, :key_up

    def initialize
      @x = 0
      @y = 0
      @previous_x = 0
      @previous_y = 0
      @relative_x = 0
      @relative_y = 0
      @has_focus = false
      @button_bits = 0
      @button_left = false
      @button_middle = false
      @button_right = false
      @button_x1 = false
      @button_x2 = false
      @active = nil
      @buttons = MouseButtons.new
      @key_down = MouseKeysDown.new(self)
      @key_held = MouseKeysHeld.new(self)
      @key_up = MouseKeysUp.new(self)
    end

    def click
      @buttons.left.click
    end
    alias down click

    def up
      @buttons.left.up
    end

    def held
      @buttons.left.held
    end

    def previous_click
      @buttons.left.previous_click
    end

    def click_at
      point = click
      point ? point.created_at : nil
    end

    def global_click_at
      point = click
      point ? point.global_created_at : nil
    end

    def up_at
      point = up
      point ? point.created_at : nil
    end

    def global_up_at
      point = up
      point ? point.global_created_at : nil
    end

    def held_at
      point = held
      point ? point.created_at : nil
    end

    def global_held_at
      point = held
      point ? point.global_created_at : nil
    end

    def left
      @buttons.left.click || @buttons.left.held
    end

    def middle
      @buttons.middle.click || @buttons.middle.held
    end

    def right
      @buttons.right.click || @buttons.right.held
    end

    def x1
      @buttons.x1.click || @buttons.x1.held
    end

    def x2
      @buttons.x2.click || @buttons.x2.held
    end


    def point
      { x: @x, y: @y, w: 0, h: 0 }
    end
    alias position point
    alias rect point

    def w
      0
    end

    def h
      0
    end

    def buffered_click
      @buttons.each do |button|
        point = button.buffered_click
        return point if point
      end
      nil
    end

    def buffered_held
      @buttons.each do |button|
        point = button.buffered_held
        return point if point
      end
      nil
    end

    def update_buttons(bits)
      @active = Kernel.tick_count
      @button_bits = bits
      @button_left = (bits & 1) != 0
      @button_middle = (bits & 2) != 0
      @button_right = (bits & 4) != 0
      @button_x1 = (bits & 8) != 0
      @button_x2 = (bits & 16) != 0
    end

    def tick_update
      buttons = @buttons.all
      i = 0
      while i < 5
        buttons[i].tick_update
        i += 1
      end
      nil
    end

    def clear
      @active = nil
      @moved = nil
      @wheel = nil
      @relative_x = 0
      @relative_y = 0
      buttons = @buttons.all
      i = 0
      while i < 5
        buttons[i].clear
        i += 1
      end
    end

    def serialize
      { x: @x, y: @y, moved: @moved ? true : false, moved_at: @moved_at, has_focus: @has_focus }
    end
    alias to_h serialize
    alias to_hash serialize

    def inspect
      serialize.to_s
    end

    def to_s
      inspect
    end
  end

  class FingerTouch
    include Geometry

    attr_accessor :x, :y, :previous_x, :previous_y, :moved, :moved_at, :global_moved_at,
                  :down_at, :global_down_at, :touch_order, :first_tick_down

    def initialize
      @x = 0
      @y = 0
      @previous_x = 0
      @previous_y = 0
      @moved = false
      @moved_at = 0
      @global_moved_at = 0
      @down_at = 0
      @global_down_at = 0
      @touch_order = 0
      @first_tick_down = true
    end

    def point
      { x: @x, y: @y, w: 0, h: 0 }
    end
    alias position point

    def w
      0
    end

    def h
      0
    end

    def serialize
      { x: @x, y: @y, touch_order: @touch_order, moved: @moved, moved_at: @moved_at,
        global_moved_at: @global_moved_at, down_at: @down_at, global_down_at: @global_down_at }
    end

    def inspect
      serialize.to_s
    end
  end
end
