# ORB::Primitive: the accessor modules that let a plain Array stand for a
# primitive. Marking an array (ConversionCapabilities, array.rb) extends its
# singleton class with the modules of its kind; every accessor reads (`at`)
# or writes (`[]=`) a fixed position of the array itself, so later changes
# to the array show in the primitive and marking never copies.
#
# Markings extend the generic modules (Point, Rect, Color) first and the
# kind's own module last, so the kind's accessors win: a sprite keeps its
# path in `to_hash`, a label refuses `w`, a line answers nil for `w`.
module ORB
  # Point brings the geometry instance forms; geometry.rb fills the module.
  module Geometry
  end

  module Primitive
    # Primitive contracts shown when a conversion fails.
    CONTRACTS = {
      "solid" => "** Solid (primitive_marker :solid)\n" \
                 "x, y, w, h, r, g, b, a, blendmode_enum, anchor_x, anchor_y\n" \
                 "As an Array: [x, y, w, h, r, g, b, a, blendmode_enum, anchor_x, anchor_y]\n",
      "border" => "** Border (primitive_marker :border)\n" \
                  "x, y, w, h, r, g, b, a, blendmode_enum, anchor_x, anchor_y\n" \
                  "As an Array: [x, y, w, h, r, g, b, a, blendmode_enum, anchor_x, anchor_y]\n",
      "sprite" => "** Sprite (primitive_marker :sprite)\n" \
                  "x, y, w, h, path, angle, a, r, g, b, tile_x, tile_y, tile_w, tile_h,\n" \
                  "flip_horizontally, flip_vertically, angle_anchor_x, angle_anchor_y,\n" \
                  "source_x, source_y, source_w, source_h, blendmode_enum, anchor_x, anchor_y\n" \
                  "As an Array: [x, y, w, h, path, angle, a, r, g, b, ...] in that order\n",
      "label" => "** Label (primitive_marker :label)\n" \
                 "x, y, text, size_enum, alignment_enum, r, g, b, a, font,\n" \
                 "vertical_alignment_enum, blendmode_enum, anchor_x, anchor_y\n" \
                 "As an Array: [x, y, text, size_enum, alignment_enum, r, g, b, a, font, ...]\n",
      "line" => "** Line (primitive_marker :line)\n" \
                "x, y, x2, y2, r, g, b, a, blendmode_enum\n" \
                "As an Array: [x, y, x2, y2, r, g, b, a, blendmode_enum]\n"
    }.freeze

    LABEL_ENUMS_ERROR = "* ERROR:\n" \
                        "It doesn't look like this label is structured in such a way that allows for text_size.\n" \
                        "A label Array carries ~size_enum~ and ~alignment_enum~ only when it is laid out as\n" \
                        "[x, y, text, size_enum, alignment_enum, r, g, b, a] (four, five, or eight and more values).\n" \
                        "Write the label as a Hash to set any of its properties freely.\n".freeze

    def self.triangle_error(name)
      "* ERROR: ~Array##{name}~ is not supported, use a ~Hash~.\n" \
        "~Arrays~ do not support the ability to be interacted with as if it were a triangle. Use a ~Hash~ instead.\n" \
        "\n" \
        "A triangle solid:\n" \
        "  args.outputs.primitives << { x: 0, y: 0, x2: 100, y2: 0, x3: 50, y3: 100,\n" \
        "                               r: 255, g: 0, b: 0, a: 255 }\n" \
        "A triangle sprite:\n" \
        "  args.outputs.primitives << { x: 0, y: 0, x2: 100, y2: 0, x3: 50, y3: 100,\n" \
        "                               path: \"sprites/square.png\",\n" \
        "                               source_x: 0, source_y: 0, source_x2: 80, source_y2: 0,\n" \
        "                               source_x3: 40, source_y3: 80 }\n"
    end

    module Common
      def primitive_marker
        :pending
      end

      # The primitive as a Hash (it carries its primitive_marker) with other
      # merged in.
      def merge(other)
        to_hash.merge(other)
      end
    end

    module Point
      include ORB::Geometry

      def x
        at(0)
      end

      def x=(value)
        self[0] = value
      end

      def x1
        at(0)
      end

      def x1=(value)
        self[0] = value
      end

      def y
        at(1)
      end

      def y=(value)
        self[1] = value
      end

      def y1
        at(1)
      end

      def y1=(value)
        self[1] = value
      end

      def w
        at(2) || 0
      end

      def w=(value)
        self[2] = value
      end

      def h
        at(3) || 0
      end

      def h=(value)
        self[3] = value
      end

      def z
        0
      end

      def z=(value); end

      def z1
        0
      end

      def z1=(value); end

      def left
        at(0)
      end

      def bottom
        at(1)
      end

      def right
        (at(0) || 0) + w
      end

      def top
        (at(1) || 0) + h
      end

      def point
        pt = [at(0), at(1)]
        pt.mark_as_point!
        pt
      end

      def to_hash
        { x: at(0), y: at(1), z: 0, w: 0, h: 0, primitive_marker: :point }
      end
    end

    module Rect
      def w
        at(2) || 0
      end

      def w=(value)
        self[2] = value
      end

      def h
        at(3) || 0
      end

      def h=(value)
        self[3] = value
      end

      def width
        w
      end

      def height
        h
      end

      def w_half
        w / 2
      end

      def width_half
        w / 2
      end

      def h_half
        h / 2
      end

      def height_half
        h / 2
      end

      def right
        (at(0) || 0) + w
      end

      def x2
        (at(0) || 0) + w
      end

      def top
        (at(1) || 0) + h
      end

      def y2
        (at(1) || 0) + h
      end

      def rect
        r = [at(0), at(1), at(2), at(3)]
        r.mark_as_rect!
        r
      end

      def rect_shift_right(n)
        __rect_shifted__(n, 0)
      end

      def rect_shift_left(n)
        __rect_shifted__(-n, 0)
      end

      def rect_shift_up(n)
        __rect_shifted__(0, n)
      end

      def rect_shift_down(n)
        __rect_shifted__(0, -n)
      end

      def rect_shift(*args)
        args = args.flatten
        __rect_shifted__(args[0] || 0, args[1] || 0)
      end

      def shift_rect(*args)
        rect_shift(*args)
      end

      def to_hash
        { x: at(0), y: at(1), w: at(2), h: at(3), primitive_marker: :rect }
      end

      # [x + dx, y + dy, w, h] followed by the elements from position 4 on.
      def __rect_shifted__(dx, dy)
        shifted = [(at(0) || 0) + dx, (at(1) || 0) + dy, at(2), at(3)]
        shifted.concat(self[4, length - 4]) if length > 4
        shifted
      end
    end

    # Colour at positions 4 to 7. An array with a String at 4 looks like a
    # sprite (its path): its colour reads as opaque black.
    module Color
      def r
        v = at(4)
        v.is_a?(String) ? 0 : v
      end

      def r=(value)
        self[4] = value
      end

      def g
        at(4).is_a?(String) ? 0 : at(5)
      end

      def g=(value)
        self[5] = value
      end

      def b
        at(4).is_a?(String) ? 0 : at(6)
      end

      def b=(value)
        self[6] = value
      end

      def a
        at(4).is_a?(String) ? 255 : at(7)
      end

      def a=(value)
        self[7] = value
      end
    end

    # Blend mode and anchors of solids and borders, after the colour.
    module RectExtras
      def blendmode_enum
        at(8)
      end

      def blendmode_enum=(value)
        self[8] = value
      end

      def anchor_x
        at(9)
      end

      def anchor_x=(value)
        self[9] = value
      end

      def anchor_y
        at(10)
      end

      def anchor_y=(value)
        self[10] = value
      end

      def to_hash
        { x: x, y: y, z: z, w: w, h: h, r: r, g: g, b: b, a: a,
          blendmode_enum: at(8), anchor_x: at(9), anchor_y: at(10),
          primitive_marker: primitive_marker }
      end
    end

    module Solid
      include RectExtras

      def primitive_marker
        :solid
      end

      # A solid array is a rect, never a triangle: asking for a third vertex
      # (as drawing does to tell the two apart) must not re-mark it.
      def x3
        nil
      end

      def y3
        nil
      end
    end

    module Border
      include RectExtras

      def primitive_marker
        :border
      end
    end

    # x, y, x2, y2 at 0 to 3, the colour at 4 to 7 (Color) and the blend
    # mode after it at 8, so it never shares a position with red.
    module Line
      def x2
        at(2)
      end

      def x2=(value)
        self[2] = value
      end

      def y2
        at(3)
      end

      def y2=(value)
        self[3] = value
      end

      def w
        nil
      end

      def h
        nil
      end

      def blendmode_enum
        at(8)
      end

      def blendmode_enum=(value)
        self[8] = value
      end

      def primitive_marker
        :line
      end

      def to_hash
        { x: at(0), y: at(1), x2: at(2), y2: at(3), z: z, r: r, g: g, b: b, a: a,
          primitive_marker: :line, blendmode_enum: at(8) }
      end
    end

    # A label array has one of two shapes: with enums (length 4, 5, or 8
    # and more) [x, y, text, size_enum, alignment_enum, r, g, b, a, ...], or
    # without [x, y, text, r, g, b, a]. The positions from 9 on are shared.
    module Label
      def __label_enums__?
        n = length
        n == 4 || n == 5 || n >= 8
      end

      def text
        at(2)
      end

      def text=(value)
        self[2] = value
      end

      def size_enum
        __label_enums__? ? at(3) : 0
      end

      def size_enum=(value)
        raise LABEL_ENUMS_ERROR unless __label_enums__?
        self[3] = value
      end

      def alignment_enum
        __label_enums__? ? at(4) : 0
      end

      def alignment_enum=(value)
        raise LABEL_ENUMS_ERROR unless __label_enums__?
        self[4] = value
      end

      def r
        at(__label_enums__? ? 5 : 3)
      end

      def r=(value)
        self[__label_enums__? ? 5 : 3] = value
      end

      def g
        at(__label_enums__? ? 6 : 4)
      end

      def g=(value)
        self[__label_enums__? ? 6 : 4] = value
      end

      def b
        at(__label_enums__? ? 7 : 5)
      end

      def b=(value)
        self[__label_enums__? ? 7 : 5] = value
      end

      def a
        at(__label_enums__? ? 8 : 6)
      end

      def a=(value)
        self[__label_enums__? ? 8 : 6] = value
      end

      def font
        at(9)
      end

      def font=(value)
        self[9] = value
      end

      def vertical_alignment_enum
        at(10)
      end

      def vertical_alignment_enum=(value)
        self[10] = value
      end

      def blendmode_enum
        at(11)
      end

      def blendmode_enum=(value)
        self[11] = value
      end

      def anchor_x
        at(12)
      end

      def anchor_x=(value)
        self[12] = value
      end

      def anchor_y
        at(13)
      end

      def anchor_y=(value)
        self[13] = value
      end

      def w
        raise "Labels do not support :w."
      end

      def w=(_value)
        raise "Labels do not support :w."
      end

      def h
        raise "Labels do not support :h."
      end

      def h=(_value)
        raise "Labels do not support :h."
      end

      def primitive_marker
        :label
      end

      def to_hash
        { x: at(0), y: at(1), z: z, text: at(2), size_enum: size_enum, alignment_enum: alignment_enum,
          r: r, g: g, b: b, a: a, font: at(9), vertical_alignment_enum: at(10),
          anchor_x: at(12), anchor_y: at(13), primitive_marker: :label, blendmode_enum: at(11) }
      end
    end

    module Sprite
      PROPERTIES = [
        [:path, 4], [:angle, 5], [:a, 6], [:r, 7], [:g, 8], [:b, 9],
        [:tile_x, 10], [:tile_y, 11], [:tile_w, 12], [:tile_h, 13],
        [:flip_horizontally, 14], [:flip_vertically, 15],
        [:angle_anchor_x, 16], [:angle_anchor_y, 17],
        [:source_x, 18], [:source_y, 19], [:source_w, 20], [:source_h, 21],
        [:blendmode_enum, 22], [:anchor_x, 23], [:anchor_y, 24]
      ].freeze

      PROPERTIES.each do |name, index|
        define_method(name) { at(index) }
        define_method(:"#{name}=") { |value| self[index] = value }
      end

      def angle_x
        0
      end

      def angle_x=(value); end

      def angle_y
        0
      end

      def angle_y=(value); end

      def primitive_marker
        :sprite
      end

      def to_hash
        { x: at(0), y: at(1), w: at(2), h: at(3), z: z, path: at(4), angle: at(5),
          a: at(6), r: at(7), g: at(8), b: at(9),
          tile_x: at(10), tile_y: at(11), tile_w: at(12), tile_h: at(13),
          flip_horizontally: at(14), flip_vertically: at(15),
          angle_anchor_x: at(16), angle_anchor_y: at(17),
          source_x: at(18), source_y: at(19), source_w: at(20), source_h: at(21),
          primitive_marker: :sprite, blendmode_enum: at(22), angle_x: 0, angle_y: 0,
          anchor_x: at(23), anchor_y: at(24) }
      end
    end

    # Arrays cannot be triangles: every property refuses with a pointer to
    # the Hash form.
    module Triangle
      NAMES = [:x, :x1, :y, :y1, :x2, :y2, :x3, :y3, :r, :g, :b, :a, :path, :blendmode_enum,
               :source_x, :source_y, :source_x2, :source_y2, :source_x3, :source_y3].freeze

      NAMES.each do |name|
        define_method(name) { raise ORB::Primitive.triangle_error(name) }
        setter = :"#{name}="
        define_method(setter) { |_value| raise ORB::Primitive.triangle_error(setter) }
      end

      def to_hash
        raise ORB::Primitive.triangle_error(:to_hash)
      end

      def primitive_marker
        :triangle
      end
    end
  end
end
