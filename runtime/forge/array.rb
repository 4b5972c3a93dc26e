# Array primitives: ORB::Primitive::ConversionCapabilities, mixed into
# Array, lets a plain Array such as [x, y, w, h, path] stand for a primitive.
# The first time an array is treated as one (pushed into a typed output
# collection, converted explicitly, or asked for a property such as `x` or
# `path`) it is marked: its singleton class is extended with the accessor
# modules of primitive.rb, which read and write fixed positions of the array.
module ORB
  module Primitive
    module ConversionCapabilities
      HASHES_MESSAGE = "* IMPORTANT: Array primitive that contains hashes was detected.\n" \
                       "Every Hash inside the Array was replaced by its values so that the Array can be drawn.\n" \
                       "This costs time every frame: push the Hash itself (or an Array of Hashes) instead.\n".freeze

      HASHES_AUDIT = "Add ~$orb.warn_array_primitives!~ at the bottom of app/main.rb to find every\n" \
                     "place in your code base that draws an Array primitive.\n".freeze

      CONVERSIONS = [:solid, :label, :sprite, :line, :border].freeze
      SYMBOL_MARKERS = [:solid, :sprite, :label, :line, :border].freeze

      # Explicit conversions: mark and answer the array itself.

      def point
        __convert__(:point, :mark_as_point!)
      end

      def solid
        __convert__(:solid, :mark_as_solid!)
      end

      def sprite
        __convert__(:sprite, :mark_as_sprite!)
      end

      def label
        __convert__(:label, :mark_as_label!)
      end

      def line
        __convert__(:line, :mark_as_line!)
      end

      def border
        __convert__(:border, :mark_as_border!)
      end

      # Plural conversions: every element becomes a marked primitive.

      def solids
        __convert_all__(:mark_as_solid!, "solid")
      end

      def sprites
        __convert_all__(:mark_as_sprite!, "sprite")
      end

      def labels
        __convert_all__(:mark_as_label!, "label")
      end

      def lines
        __convert_all__(:mark_as_line!, "line")
      end

      def borders
        __convert_all__(:mark_as_border!, "border")
      end

      # Property methods of an unmarked array: mark it as the kind the name
      # belongs to, then send the name again (now answered by an accessor
      # module, or by the geometry instance forms that Point brings). `point`
      # is the explicit conversion above: it answers the array itself, and
      # a marked point answers its [x, y].
      LAZY_PROPERTIES = {
        mark_as_point!: [:x, :x=, :y, :y=, :z, :z=, :left, :bottom,
                         :angle_given_point, :angle_to, :angle_from],
        mark_as_rect!: [:w, :w=, :h, :h=, :width, :height, :right, :top, :rect,
                        :inside_rect?, :intersect_rect?, :intersects_rect?, :scale_rect,
                        :scale_rect_extended, :center_inside_rect, :anchor_rect, :shift_rect,
                        :rect_shift, :rect_shift_right, :rect_shift_left, :rect_shift_up,
                        :rect_shift_down, :w_half, :width_half, :h_half, :height_half],
        mark_as_line!: [:x1, :x1=, :y1, :y1=, :x2, :y2],
        mark_as_triangle!: [:x3, :x3=, :y3, :y3=, :source_x2, :source_x2=, :source_y2, :source_y2=,
                            :source_x3, :source_x3=, :source_y3, :source_y3=],
        mark_as_sprite!: [:path, :path=, :angle, :angle=, :angle_x, :angle_x=, :angle_y, :angle_y=],
        mark_as_label!: [:text, :text=]
      }.freeze

      # The kind each marking must add for the resend to find a new method.
      LAZY_KINDS = {
        mark_as_point!: :Point, mark_as_rect!: :Rect, mark_as_line!: :Line,
        mark_as_triangle!: :Triangle, mark_as_sprite!: :Sprite, mark_as_label!: :Label
      }.freeze

      LAZY_PROPERTIES.each do |marking, names|
        kind = LAZY_KINDS[marking]
        names.each do |name|
          define_method(name) do |*args, &block|
            # Already of this kind and still here: nothing defines the name.
            if is_a?(ORB::Primitive.const_get(kind))
              raise NoMethodError.new("undefined method '#{name}' for #{__class_description__}", name)
            end
            __lazy_mark__(name, marking)
            __send__(name, *args, &block)
          end
        end
      end

      def a
        raise __ambiguity_error__(:a)
      end

      def a=(_value)
        raise __ambiguity_error__(:a=)
      end

      def to_hash
        raise __ambiguity_error__(:to_hash)
      end

      def associate(*_args)
        raise __ambiguity_error__(:associate)
      end

      # Marking.

      def mark_as_common!
        return self if is_a?(ORB::Primitive::Common)
        raise FrozenError, "can't modify frozen Array" if frozen?
        __warn_array_primitive__ if $warn_array_primitives
        __flatten_primitive__
        extend ORB::Primitive::Common
        self
      end

      def mark_as_primitive!(mod)
        return self if is_a?(mod)
        raise FrozenError, "can't modify frozen Array" if frozen?
        extend mod
        self
      end

      def mark_as_point!
        mark_as_common!
        mark_as_primitive!(ORB::Primitive::Point)
      end

      def mark_as_rect!
        mark_as_common!
        mark_as_primitive!(ORB::Primitive::Point)
        mark_as_primitive!(ORB::Primitive::Rect)
      end

      # The kind's own module is added last so that it takes precedence
      # over the generic Point, Rect and Color accessors.
      def mark_as_solid!
        mark_as_common!
        mark_as_primitive!(ORB::Primitive::Point)
        mark_as_primitive!(ORB::Primitive::Rect)
        mark_as_primitive!(ORB::Primitive::Color)
        mark_as_primitive!(ORB::Primitive::Solid)
      end

      def mark_as_border!
        mark_as_common!
        mark_as_primitive!(ORB::Primitive::Point)
        mark_as_primitive!(ORB::Primitive::Rect)
        mark_as_primitive!(ORB::Primitive::Color)
        mark_as_primitive!(ORB::Primitive::Border)
      end

      def mark_as_sprite!
        mark_as_common!
        mark_as_primitive!(ORB::Primitive::Point)
        mark_as_primitive!(ORB::Primitive::Rect)
        mark_as_primitive!(ORB::Primitive::Sprite)
      end

      def mark_as_label!
        mark_as_common!
        mark_as_primitive!(ORB::Primitive::Point)
        mark_as_primitive!(ORB::Primitive::Label)
      end

      def mark_as_line!
        mark_as_common!
        mark_as_primitive!(ORB::Primitive::Point)
        mark_as_primitive!(ORB::Primitive::Color)
        mark_as_primitive!(ORB::Primitive::Line)
      end

      def mark_as_triangle!
        mark_as_common!
        mark_as_primitive!(ORB::Primitive::Triangle)
      end

      # Generic output collections (primitives, debug, reserved) take only
      # arrays that were converted explicitly.
      def mark_assert!
        marker = respond_to?(:primitive_marker) ? primitive_marker : nil
        return self if marker && marker != :pending
        rest = self[1, length - 1] || []
        if at(0).is_a?(Symbol)
          __console_source_search__(SYMBOL_MARKERS.map { |m| "[:#{m}" })
          suggestions = CONVERSIONS.map { |c| "#{rest}.#{c}\n" }.join
          raise "* ERROR:\n" \
                "Cannot add #{self} to outputs.(primitives|debug|reserved).\n" \
                "\n" \
                "The symbol marker has been deprecated. You need to remove the symbol and instead do the following:\n" \
                "#{suggestions}"
        end
        __console_source_search__(["outputs.primitives", "outputs.debug", "outputs.reserved"])
        suggestions = CONVERSIONS.map { |c| "#{self}.#{c}\n" }.join
        raise "* ERROR:\n" \
              "Cannot add #{self} to outputs.(primitives|debug|reserved).\n" \
              "\n" \
              "An Array added to a generic collection must be marked explicitly by calling one of these on it:\n" \
              "#{suggestions}"
      end

      # The collection rule of the plural conversions (value, marking,
      # primitive name); pushes what it resolves into self.
      def outputs_add_dwim(value, marking, name)
        __outputs_add_dwim__(value, marking, name, 0)
        self
      rescue Exception => e
        raise "* ERROR:\n" \
              "Array##{name}s\n" \
              "Failed to convert #{__class_description__(value)} to a primitive.\n" \
              "\n" \
              "A primitive must respond to :primitive_marker, and then subsequently\n" \
              "respond to  ALL the methods required for that specific marker:\n" \
              "#{ORB::Primitive::CONTRACTS[name]}" \
              "#{e.message}"
      end

      def outputs_mark!(value, marking, name)
        return value if __resolved_primitive__?(value)
        value.__send__(marking)
        marker = value.respond_to?(:primitive_marker) ? value.primitive_marker : nil
        raise "Primitive conversion failed.\n" unless marker.to_s == name.to_s
        value
      end

      # Helpers.

      def __convert__(property, marking)
        __send__(marking)
        self
      rescue FrozenError
        raise __frozen_error__(property, marking)
      end

      def __lazy_mark__(property, marking)
        __send__(marking)
      rescue FrozenError
        raise __frozen_error__(property, marking)
      end

      def __convert_all__(marking, name)
        items = dup
        clear
        i = 0
        n = items.length
        while i < n
          outputs_add_dwim(items[i], marking, name)
          i += 1
        end
        self
      end

      def __outputs_add_dwim__(value, marking, name, depth)
        return if value.nil? || value == false || __value_type__?(value)
        if !value.is_a?(Array) && !value.is_a?(Hash) && !(Object.const_defined?(:Struct) && value.is_a?(Struct)) &&
           value.is_a?(Enumerable)
          value = value.to_a
        end
        return if value.is_a?(Array) && value.empty?
        if __resolved_primitive__?(value)
          push(value)
          return
        end
        unless value.is_a?(Enumerable)
          push(value)
          return
        end
        raise ArgumentError, "An Array that contains itself cannot be converted." if depth > 256
        if value.all? { |e| e.respond_to?(:primitive_marker) }
          value.each { |e| push(outputs_mark!(e, marking, name)) }
        elsif value.any? { |e| __value_type__?(e) } || __colour_triple__?(value[1])
          push(outputs_mark!(value, marking, name))
        else
          value.each { |e| __outputs_add_dwim__(e, marking, name, depth + 1) }
        end
      end

      def __resolved_primitive__?(value)
        return true if value.is_a?(Hash) || value.is_a?(ORB::OpenEntity)
        return true if Object.const_defined?(:Struct) && value.is_a?(Struct)
        return true if value.respond_to?(:draw_override)
        return false unless value.respond_to?(:primitive_marker)
        marker = value.primitive_marker
        !marker.nil? && marker != :pending
      end

      def __value_type__?(value)
        value.is_a?(Numeric) || value.is_a?(String) || value.is_a?(Symbol) || value == true || value == false
      end

      def __colour_triple__?(value)
        value.is_a?(Array) && value.length == 3 && value.all? { |e| e.is_a?(Numeric) }
      end

      # Hash elements become their values; nested arrays are flattened in
      # place: [[x, y], [w, h], path] becomes [x, y, w, h, path].
      def __flatten_primitive__
        nested = false
        hashes = false
        i = 0
        n = length
        while i < n
          e = at(i)
          if e.is_a?(Hash)
            hashes = true
            nested = true
          elsif e.is_a?(Array)
            nested = true
          end
          i += 1
        end
        return unless nested
        if hashes
          __log_hashes_once__
          map! { |e| e.is_a?(Hash) ? e.values : e }
        end
        flatten!
      end

      def __log_hashes_once__
        return if ORB::Primitive.logged_once?(:array_primitive_contains_hashes)
        lines = __caller_lines__
        text = "#{HASHES_MESSAGE}** Backtrace:\n#{lines.join("\n")}\n#{HASHES_AUDIT}"
        runtime = $orb
        if runtime && runtime.respond_to?(:log_important)
          runtime.log_important(text)
        else
          ORB::Log.info(text)
        end
      end

      # With $warn_array_primitives on: print each call site that marks an
      # array once.
      def __warn_array_primitive__
        lines = __caller_lines__
        return if lines.empty?
        site = lines.find { |l| !l.start_with?("forge/") } || lines[0]
        lookup = ($warn_array_primitives_caller_lookup ||= {})
        return if lookup[site]
        lookup[site] = true
        puts "* ARRAY PRIMITIVE DETECTED AT:\n#{lines.join("\n")}"
      end

      def __caller_lines__
        lines = caller
        lines.is_a?(Array) ? lines : []
      rescue NoMethodError
        []
      end

      def __class_description__(value = self)
        "an instance of ~#{value.class}~"
      end

      def __ambiguity_error__(name)
        conversions = CONVERSIONS.map { |c| "self.#{c}.#{name}\n" }
        if name == :to_hash
          conversions << "self.rect.#{name}\n"
          conversions << "self.point.#{name}\n"
        end
        "* ERROR:\n" \
          "The invocation of :#{name} is ambiguous on #{self}, #{__class_description__}.\n" \
          "\n" \
          "You need first tell me what kind of primitive you're trying to create:\n" \
          "\n" \
          "#{conversions.join}"
      end

      def __frozen_error__(property, marking)
        "* ERROR:\n" \
          "The primitive function ~#{property}~ was invoked on array #{self}, which\n" \
          "required the invocation of ~#{marking}~ (this function dynamically\n" \
          "adds the ~#{property}~ helper function). This invocation failed because\n" \
          "the array is frozen (at some point before this exception, ~Array#freeze~\n" \
          "was invoked on this ~Array~ instance).\n" \
          "\n" \
          "You can either:\n" \
          "1. Call ~#{marking}~ on the array before ~freeze~ is invoked on it.\n" \
          "2. Use a ~Hash~ instead of an ~Array~ to represent the primitive.\n"
      end

      # Puts a search for the given texts into the console's command line
      # (as a comment, so running it does no harm).
      def __console_source_search__(needles)
        runtime = $orb
        console = runtime && runtime.respond_to?(:console) ? runtime.console : nil
        return unless console && console.respond_to?(:current_input_str=)
        console.current_input_str = "# search app/ for: #{needles.map(&:inspect).join(', ')}"
      rescue StandardError
        nil
      end
    end

    @logged_once = {}

    # Once-per-run messages of the array primitives.
    def self.logged_once?(key)
      return true if @logged_once[key]
      @logged_once[key] = true
      false
    end
  end
end

class Array
  include ORB::Primitive::ConversionCapabilities
end
