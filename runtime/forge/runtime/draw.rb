# ORB::Runtime::Draw: what the engine's outputs walker asks the runtime for
# (passes, their targets and sizes, screenshots) and the drawing of the
# primitives the walker does not pack itself (solids, borders, generic
# primitives), forwarded to FFI::Draw.
module FFI
  class Draw < Object
    def serialize
      {}
    end

    def inspect
      "#<FFI::Draw>"
    end

    def to_s
      inspect
    end
  end
end

module ORB
  class Runtime
    module Draw
      def passes
        @args.passes
      end

      # Uploads this tick's pixel arrays and forgets them.
      def pixel_arrays
        arrays = @args.pixel_arrays
        return nil if arrays.empty?
        arrays.each do |name, array|
          @ffi_draw.upload_pixel_array(name, array.width, array.height, array.pixels)
        end
        arrays.clear
        nil
      end

      def take_screenshot
        !@args.outputs.screenshots.empty?
      end

      def target(pass)
        pass.target
      end

      def render_transient(pass)
        pass.transient
      end

      def render_width(pass)
        pass.width
      end

      def render_height(pass)
        pass.height
      end

      def background_color
        @args.outputs.background_color
      end

      # One property of a primitive: a Hash's Symbol key or the object's
      # reader; nil when it has neither. FFI::Draw gives nil its default.
      def __pv__(primitive, name)
        if primitive.is_a?(Hash)
          primitive[name]
        elsif primitive.respond_to?(name)
          primitive.__send__(name)
        end
      end

      def __pv_or__(primitive, name, default)
        value = __pv__(primitive, name)
        value.nil? ? default : value
      end

      def __path__(primitive)
        path = __pv__(primitive, :path)
        path.nil? ? "pixel" : path.to_s
      end

      def draw_solid(s)
        @ffi_draw.draw_solid_3(__pv__(s, :x), __pv__(s, :y), __pv__(s, :w), __pv__(s, :h),
                               __pv__(s, :r), __pv__(s, :g), __pv__(s, :b), __pv__(s, :a),
                               __pv__(s, :blendmode_enum), __pv__(s, :anchor_x), __pv__(s, :anchor_y))
      end

      def draw_border(s)
        @ffi_draw.draw_border_3(__pv__(s, :x), __pv__(s, :y), __pv__(s, :w), __pv__(s, :h),
                                __pv__(s, :r), __pv__(s, :g), __pv__(s, :b), __pv__(s, :a),
                                __pv__(s, :blendmode_enum), __pv__(s, :anchor_x), __pv__(s, :anchor_y))
      end

      def draw_sprite(s)
        return @ffi_draw.draw_sprite_hash(s) if s.is_a?(Hash)
        return __draw_sprite_array__(s) if s.is_a?(Array) && s.respond_to?(:path) && s.primitive_marker == :sprite
        @ffi_draw.draw_sprite_6(__pv__(s, :x), __pv__(s, :y), __pv__(s, :w), __pv__(s, :h),
                                __path__(s), __pv__(s, :angle), __pv__(s, :a),
                                __pv__(s, :r), __pv__(s, :g), __pv__(s, :b),
                                __pv__(s, :tile_x), __pv__(s, :tile_y), __pv__(s, :tile_w), __pv__(s, :tile_h),
                                __pv__(s, :flip_horizontally), __pv__(s, :flip_vertically),
                                __pv__(s, :angle_anchor_x), __pv__(s, :angle_anchor_y),
                                __pv__(s, :source_x), __pv__(s, :source_y), __pv__(s, :source_w), __pv__(s, :source_h),
                                __pv__(s, :blendmode_enum), __pv__(s, :anchor_x), __pv__(s, :anchor_y),
                                __pv__(s, :scale_quality_enum))
      end

      # A sprite Array keeps its fields at the positions draw_sprite_6 takes
      # them in, so they are passed straight through.
      def __draw_sprite_array__(s)
        path = s[4]
        @ffi_draw.draw_sprite_6(s[0], s[1], s[2], s[3], path.nil? ? "pixel" : path.to_s, s[5], s[6], s[7], s[8], s[9],
                                s[10], s[11], s[12], s[13], s[14], s[15], s[16], s[17], s[18], s[19], s[20], s[21],
                                s[22], s[23], s[24], nil)
      end

      def draw_label(l)
        font = __pv__(l, :font)
        @ffi_draw.draw_label_5(__pv__(l, :x), __pv__(l, :y), __pv_or__(l, :text, "").to_s,
                               __pv__(l, :size_enum), __pv__(l, :alignment_enum),
                               __pv__(l, :r), __pv__(l, :g), __pv__(l, :b), __pv__(l, :a),
                               font.nil? ? nil : font.to_s, __pv__(l, :vertical_alignment_enum),
                               __pv__(l, :blendmode_enum), __pv__(l, :size_px),
                               __pv__(l, :anchor_x), __pv__(l, :anchor_y))
      end

      def draw_line(l)
        x = __pv__(l, :x)
        y = __pv__(l, :y)
        x2 = __pv__(l, :x2)
        y2 = __pv__(l, :y2)
        # A line may be given by its size instead of its end point.
        if x2.nil? && y2.nil?
          x2 = (x || 0) + (__pv__(l, :w) || 0)
          y2 = (y || 0) + (__pv__(l, :h) || 0)
        end
        @ffi_draw.draw_line_2(x, y, x2, y2, __pv__(l, :r), __pv__(l, :g), __pv__(l, :b), __pv__(l, :a),
                              __pv__(l, :blendmode_enum))
      end

      def draw_triangle(t)
        path = __pv__(t, :path)
        @ffi_draw.draw_triangle_2(__pv__(t, :x), __pv__(t, :y), __pv__(t, :x2), __pv__(t, :y2),
                                  __pv__(t, :x3), __pv__(t, :y3),
                                  __pv__(t, :r), __pv__(t, :g), __pv__(t, :b), __pv__(t, :a),
                                  path.nil? ? nil : path.to_s,
                                  __pv__(t, :source_x), __pv__(t, :source_y),
                                  __pv__(t, :source_x2), __pv__(t, :source_y2),
                                  __pv__(t, :source_x3), __pv__(t, :source_y3),
                                  __pv__(t, :blendmode_enum),
                                  __pv__(t, :r2), __pv__(t, :g2), __pv__(t, :b2), __pv__(t, :a2),
                                  __pv__(t, :r3), __pv__(t, :g3), __pv__(t, :b3), __pv__(t, :a3))
      end

      # A solid with a third vertex is a filled triangle. Arrays cannot be
      # triangles, and asking one for x3 would re-mark it.
      def __triangle__?(p)
        return p.key?(:x3) if p.is_a?(Hash)
        return false if p.is_a?(Array)
        p.respond_to?(:x3) && !p.x3.nil?
      end

      def draw_primitive(p)
        return p.draw_override(@ffi_draw) if !p.is_a?(Hash) && p.respond_to?(:draw_override)
        marker = p.respond_to?(:primitive_marker) ? p.primitive_marker : nil
        case marker
        when :solid
          __triangle__?(p) ? draw_triangle(p) : draw_solid(p)
        when :sprite
          __triangle__?(p) ? draw_triangle(p) : draw_sprite(p)
        when :label then draw_label(p)
        when :line then draw_line(p)
        when :border then draw_border(p)
        when :triangle then draw_triangle(p)
        else
          raise "* ERROR: The object of class ~#{p.class}~ cannot be drawn.\n" \
                "It needs a ~primitive_marker~ method returning ~:solid~, ~:sprite~, ~:label~, ~:line~ or ~:border~ " \
                "(or a ~primitive_marker~ key for a Hash).\n"
        end
      end

      def draw_screenshots
        @args.outputs.screenshots.each do |s|
          @ffi_draw.draw_screenshot(__pv_or__(s, :path, "screenshot.png").to_s,
                                    __pv_or__(s, :x, 0), __pv_or__(s, :y, 0),
                                    __pv_or__(s, :w, @logical_width), __pv_or__(s, :h, @logical_height),
                                    __pv_or__(s, :tolerance, 0), __pv_or__(s, :a, 255),
                                    __pv_or__(s, :r, 0), __pv_or__(s, :g, 0), __pv_or__(s, :b, 0),
                                    0, 0, 0, 0, false, false, 0, 0, 0, 0, 0, 0)
        end
        nil
      end
    end

    # Primitives of the VR passes go through the same drawing for now.
    module DrawVR
      def draw_vr_sprite(s)
        draw_sprite(s)
      end

      def draw_vr_label(l)
        draw_label(l)
      end

      def draw_vr_solid(s)
        draw_solid(s)
      end

      def draw_vr_line(l)
        draw_line(l)
      end

      def draw_vr_border(b)
        draw_border(b)
      end

      def draw_vr_primitive(p)
        draw_primitive(p)
      end
    end
  end
end
