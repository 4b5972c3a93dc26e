# Output collections: one ORB::Outputs per render pass (the top-level pass
# `args.outputs` and one per render target), each with typed primitive
# arrays. Non-static collections are emptied every tick, static ones live
# until cleared. The engine's outputs walker reads the passes after the
# game's tick.
module ORB
  class OutputsArray < Array
    alias __array_push__ push

    def <<(obj)
      __push__(obj)
    end

    def push(*objs)
      i = 0
      n = objs.length
      while i < n
        __push__(objs[i])
        i += 1
      end
      self
    end

    def __push__(obj)
      $perf_counter_outputs_push_count += 1
      return self unless obj
      if obj.is_a?(Hash) || obj.is_a?(Array) || !obj.is_a?(Enumerable)
        add_dwim(obj)
      else
        add_dwim(obj.to_a)
      end
      self
    end

    # add_dwim (the push itself) and resolved? are native, defined on this
    # class by the engine's bindings; the hooks below are what they call back.

    def array_primitive?(candidate)
      return true if __value_type__?(candidate[-1])
      return true if candidate.any? { |e| __value_type__?(e) }
      second = candidate[1]
      return true if second.is_a?(Array) && second.length == 3 && second.all? { |e| e.is_a?(Numeric) }
      first = candidate[0]
      first.is_a?(Array) && first.length == 2 && first.all? { |e| e.is_a?(Numeric) }
    end

    def mark_and_id!(candidate)
      $perf_counter_primitive_is_array += 1 if candidate.is_a?(Array)
      return candidate if resolved?(candidate)
      marker = marking_method
      candidate.__send__(marker) if candidate.respond_to?(marker)
      candidate
    end

    def marking_method
      :mark_assert!
    end

    def __value_type__?(v)
      v.is_a?(Numeric) || v.is_a?(String) || v.is_a?(Symbol) || v == true || v == false
    end
  end

  class SolidsOutputsArray < OutputsArray
    def marking_method
      :mark_as_solid!
    end
  end

  class SpritesOutputsArray < OutputsArray
    def marking_method
      :mark_as_sprite!
    end
  end

  class LabelsOutputsArray < OutputsArray
    def marking_method
      :mark_as_label!
    end
  end

  class LinesOutputsArray < OutputsArray
    def marking_method
      :mark_as_line!
    end
  end

  class BordersOutputsArray < OutputsArray
    def marking_method
      :mark_as_border!
    end
  end

  class StaticSolidsOutputsArray < SolidsOutputsArray; end
  class StaticSpritesOutputsArray < SpritesOutputsArray; end
  class StaticLabelsOutputsArray < LabelsOutputsArray; end
  class StaticLinesOutputsArray < LinesOutputsArray; end
  class StaticBordersOutputsArray < BordersOutputsArray; end

  # Collections that take any object marked as a primitive (primitives,
  # debug, reserved): every object that lands in one must answer a
  # primitive_marker (a Hash by its key or its keys), or draw itself with
  # draw_override; arrays must have been converted explicitly.
  class GenericOutputsArray < OutputsArray
    MAX_DEPTH = 256

    def add_dwim(obj)
      __generic_add__(obj, 0)
      self
    end

    def __generic_add__(obj, depth)
      return if obj.nil? || obj.is_a?(ValueType)
      if obj.is_a?(Hash)
        __assert_marker__(obj)
        __array_push__(obj)
        return
      end
      candidate = obj
      if obj.is_a?(Array)
        return if obj.empty?
      elsif obj.is_a?(Enumerable) && !obj.is_a?(Struct)
        candidate = obj.to_a
        return if candidate.empty?
      end
      unless candidate.is_a?(Array)
        __assert_marker__(obj)
        __array_push__(obj)
        return
      end
      if resolved?(candidate)
        __array_push__(obj)
        return
      end
      if array_primitive?(candidate) && !candidate.all? { |e| resolved?(e) }
        mark_and_id!(candidate)
        __array_push__(candidate)
        return
      end
      if depth >= MAX_DEPTH
        raise ArgumentError, "~add_dwim~ received Arrays nested too deeply."
      end
      i = 0
      n = candidate.length
      while i < n
        __generic_add__(candidate[i], depth + 1)
        i += 1
      end
    end

    def __assert_marker__(obj)
      return if !obj.is_a?(Hash) && obj.respond_to?(:draw_override)
      return if obj.respond_to?(:primitive_marker) && obj.primitive_marker
      raise "* ERROR: An object of class ~#{obj.class}~ cannot be added to outputs.(primitives|debug|reserved).\n" \
            "It must respond to ~primitive_marker~ returning ~:solid~, ~:sprite~, ~:label~, ~:line~ or ~:border~ " \
            "(a Hash needs a ~primitive_marker~ key).\n"
    end
  end

  class PrimitivesOutputsArray < GenericOutputsArray; end
  class StaticPrimitivesOutputsArray < GenericOutputsArray; end
  class ReservedOutputsArray < GenericOutputsArray; end
  class StaticReservedOutputsArray < GenericOutputsArray; end
  class DebugOutputsArray < GenericOutputsArray; end
  class StaticDebugOutputsArray < GenericOutputsArray; end

  # One-shot sound pushed into `outputs.sounds`.
  class Sound
    attr_accessor :path, :gain

    def initialize(path, gain = 1.0)
      @path = path
      @gain = gain
    end

    def self.parse(value)
      return nil if value.nil?
      return value if value.is_a?(Sound)
      return new(value) if value.is_a?(String)
      if value.is_a?(Hash)
        return new(value[:input] || value[:path], value.key?(:gain) ? value[:gain] : 1.0)
      end
      raise "* ERROR: I don't know how to parse #{value} into a #{self}."
    end

    def serialize
      { path: @path, gain: @gain }
    end

    def inspect
      serialize.to_s
    end
  end

  class PixelArray
    attr_accessor :width, :height, :pixels

    def initialize
      @width = 0
      @height = 0
      @pixels = []
    end

    alias w width
    alias h height
  end

  class Outputs
    DEFAULT_BACKGROUND = [230, 230, 230, 255].freeze
    NOT_READY_BACKGROUND = [0, 0, 0].freeze

    attr_accessor :target, :width, :height, :transient, :clear_before_render, :args,
                  :a11y, :a11y_processed, :a11y_notification_queue
    attr_reader :solids, :sprites, :labels, :lines, :borders, :primitives, :debug,
                :screenshots, :reserved, :sounds,
                :static_solids, :static_sprites, :static_labels, :static_lines,
                :static_borders, :static_primitives, :static_debug, :static_reserved

    def initialize(args:, target: nil, background_color: DEFAULT_BACKGROUND)
      @args = args
      @target = target
      @width = nil
      @height = nil
      @transient = false
      @clear_before_render = true
      @default_background_color = background_color
      @solids = SolidsOutputsArray.new
      @sprites = SpritesOutputsArray.new
      @labels = LabelsOutputsArray.new
      @lines = LinesOutputsArray.new
      @borders = BordersOutputsArray.new
      @primitives = PrimitivesOutputsArray.new
      @debug = DebugOutputsArray.new
      @reserved = ReservedOutputsArray.new
      @screenshots = []
      @sounds = []
      @static_solids = StaticSolidsOutputsArray.new
      @static_sprites = StaticSpritesOutputsArray.new
      @static_labels = StaticLabelsOutputsArray.new
      @static_lines = StaticLinesOutputsArray.new
      @static_borders = StaticBordersOutputsArray.new
      @static_primitives = StaticPrimitivesOutputsArray.new
      @static_debug = StaticDebugOutputsArray.new
      @static_reserved = StaticReservedOutputsArray.new
      @a11y = {}
      @a11y_processed = {}
      @a11y_notification_queue = []
      __store_background_color__(background_color)
    end

    def w
      @width
    end

    def w=(value)
      @width = value
    end

    def h
      @height
    end

    def h=(value)
      @height = value
    end

    def transient!
      @transient = true
    end

    def <<(obj)
      @primitives << obj
      self
    end

    def [](name)
      @args.render_target(name)
    end

    def render_target(name)
      @args.render_target(name)
    end

    def sounds=(value)
      @sounds = value.is_a?(Array) ? value : [value]
    end

    def background_color
      runtime = @args.runtime
      return NOT_READY_BACKGROUND if Kernel.global_tick_count < 0 || !runtime.ready?
      @background_color_read
    end

    def background_color_hash
      @background_color_hash
    end

    def background_color=(value)
      return if value == @background_color || value == @background_color_hash
      begin
        color = if value.is_a?(Hash)
                  [value.r, value.g, value.b, value.a]
                elsif value.is_a?(Array)
                  value.dup
                elsif value.respond_to?(:r) && value.respond_to?(:g) && value.respond_to?(:b)
                  [value.r, value.g, value.b, value.respond_to?(:a) ? value.a : nil]
                else
                  value.to_a
                end
        color.compact!
        raise ArgumentError, "#{color.length} value(s) given" unless color.length == 3 || color.length == 4
        raise ArgumentError, "the values must be Numeric" unless color.all? { |c| c.is_a?(Numeric) }
        __store_background_color__(color)
      rescue => e
        name = @target ? "args.outputs[:#{@target}].background_color" : "args.outputs.background_color"
        raise "* ERROR: Failed to set background_color for Output.\n" \
              "~#{name}~ was given #{value.inspect} (#{value.class}).\n" \
              "It must be an Array with three or four values: [r, g, b] or [r, g, b, a].\n" \
              "** INNER EXCEPTION: #{e.message}"
      end
    end

    def clear_non_static
      @solids.clear unless @solids.empty?
      @sprites.clear unless @sprites.empty?
      @labels.clear unless @labels.empty?
      @lines.clear unless @lines.empty?
      @borders.clear unless @borders.empty?
      @primitives.clear unless @primitives.empty?
      @debug.clear unless @debug.empty?
      @screenshots.clear unless @screenshots.empty?
      @a11y.clear unless @a11y.empty?
      __store_background_color__(@default_background_color) unless @background_color.equal?(@default_background_color)
      @clear_before_render = true
      nil
    end

    def clear_draw_primitives
      clear_non_static
    end

    def clear
      clear_non_static
      @reserved.clear
      @sounds.clear
      @static_solids.clear
      @static_sprites.clear
      @static_labels.clear
      @static_lines.clear
      @static_borders.clear
      @static_primitives.clear
      @static_debug.clear
      @static_reserved.clear
      nil
    end

    def reset
      clear
      @a11y_processed.clear
      @a11y_notification_queue.clear
      nil
    end

    # After the game's tick: fill in the size and normalise the sounds.
    def tick
      runtime = @args.runtime
      @width ||= runtime.logical_width
      @height ||= runtime.logical_height
      sounds = @sounds
      unless sounds.is_a?(Array)
        sounds = [sounds].compact
        @sounds = sounds
      end
      unless sounds.empty?
        i = 0
        n = sounds.length
        while i < n
          sounds[i] = Sound.parse(sounds[i])
          i += 1
        end
        sounds.compact!
      end
      @a11y = {} unless @a11y.is_a?(Hash)
      nil
    end

    def serialize
      { target: @target, width: @width, height: @height, transient: @transient,
        background_color: @background_color, solids: @solids.length, sprites: @sprites.length,
        labels: @labels.length, lines: @lines.length, borders: @borders.length,
        primitives: @primitives.length, static_solids: @static_solids.length,
        static_sprites: @static_sprites.length, static_labels: @static_labels.length,
        static_lines: @static_lines.length, static_borders: @static_borders.length,
        static_primitives: @static_primitives.length }
    end

    def inspect
      "#<#{self.class} #{serialize}>"
    end

    def to_s
      inspect
    end

    # Keeps the array as given, its Hash form, and the [r, g, b, a] that
    # reads fill in for missing entries.
    def __store_background_color__(color)
      @background_color = color
      r = color[0]
      g = color[1]
      b = color[2]
      a = color[3]
      @background_color_read = [r || 230, g || 230, b || 230, a || 255]
      @background_color_hash = { r: r, g: g, b: b, a: a }
    end
  end

  class TopLevelOutputs < Outputs
    def background_color=(value)
      super
      alpha = value.is_a?(Hash) ? value[:a] : (value.is_a?(Array) ? value[3] : nil)
      @background_color_hash[:a] = alpha if alpha && @background_color_hash
    end
  end

  class RenderTargetOutputs < Outputs
    TARGET_BACKGROUND = [255, 255, 255, 0].freeze

    def initialize(args:, target:)
      super(args: args, target: target, background_color: TARGET_BACKGROUND)
      @transient = true
    end
  end
end

$perf_counter_outputs_push_count = 0
$perf_counter_primitive_is_array = 0
