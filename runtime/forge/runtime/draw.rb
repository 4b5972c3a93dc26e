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

      def draw_solid(s)
        @ffi_draw.draw_solid_3(__pv_or__(s, :x, 0), __pv_or__(s, :y, 0), __pv_or__(s, :w, 0), __pv_or__(s, :h, 0),
                               __pv_or__(s, :r, 0), __pv_or__(s, :g, 0), __pv_or__(s, :b, 0), __pv_or__(s, :a, 255),
                               __pv_or__(s, :blendmode_enum, 1), __pv_or__(s, :anchor_x, 0), __pv_or__(s, :anchor_y, 0))
      end

      def draw_border(s)
        @ffi_draw.draw_border_3(__pv_or__(s, :x, 0), __pv_or__(s, :y, 0), __pv_or__(s, :w, 0), __pv_or__(s, :h, 0),
                                __pv_or__(s, :r, 0), __pv_or__(s, :g, 0), __pv_or__(s, :b, 0), __pv_or__(s, :a, 255),
                                __pv_or__(s, :blendmode_enum, 1), __pv_or__(s, :anchor_x, 0), __pv_or__(s, :anchor_y, 0))
      end

      def draw_sprite(s)
        return @ffi_draw.draw_sprite_hash(s) if s.is_a?(Hash) && @ffi_draw.respond_to?(:draw_sprite_hash)
        @ffi_draw.draw_sprite_6(__pv_or__(s, :x, 0), __pv_or__(s, :y, 0), __pv_or__(s, :w, 0), __pv_or__(s, :h, 0),
                                __pv_or__(s, :path, "").to_s, __pv_or__(s, :angle, 0), __pv_or__(s, :a, 255),
                                __pv_or__(s, :r, 255), __pv_or__(s, :g, 255), __pv_or__(s, :b, 255),
                                __pv_or__(s, :tile_x, -1), __pv_or__(s, :tile_y, -1),
                                __pv_or__(s, :tile_w, -1), __pv_or__(s, :tile_h, -1),
                                __pv_or__(s, :flip_horizontally, false), __pv_or__(s, :flip_vertically, false),
                                __pv_or__(s, :angle_anchor_x, 0.5), __pv_or__(s, :angle_anchor_y, 0.5),
                                __pv_or__(s, :source_x, -1), __pv_or__(s, :source_y, -1),
                                __pv_or__(s, :source_w, -1), __pv_or__(s, :source_h, -1),
                                __pv_or__(s, :blendmode_enum, 1), __pv_or__(s, :anchor_x, 0),
                                __pv_or__(s, :anchor_y, 0), __pv_or__(s, :scale_quality_enum, 1))
      end

      def draw_label(l)
        @ffi_draw.draw_label_5(__pv_or__(l, :x, 0), __pv_or__(l, :y, 0), __pv_or__(l, :text, "").to_s,
                               __pv_or__(l, :size_enum, 0), __pv_or__(l, :alignment_enum, 0),
                               __pv_or__(l, :r, 0), __pv_or__(l, :g, 0), __pv_or__(l, :b, 0), __pv_or__(l, :a, 255),
                               __pv_or__(l, :font, "font.ttf").to_s, __pv_or__(l, :vertical_alignment_enum, 2),
                               __pv_or__(l, :blendmode_enum, 1), __pv_or__(l, :size_px, -1),
                               __pv_or__(l, :anchor_x, 0), __pv_or__(l, :anchor_y, 0))
      end

      def draw_line(l)
        @ffi_draw.draw_line_2(__pv_or__(l, :x, 0), __pv_or__(l, :y, 0), __pv_or__(l, :x2, 0), __pv_or__(l, :y2, 0),
                              __pv_or__(l, :r, 0), __pv_or__(l, :g, 0), __pv_or__(l, :b, 0), __pv_or__(l, :a, 255),
                              __pv_or__(l, :blendmode_enum, 1))
      end

      def draw_triangle(t)
        @ffi_draw.draw_triangle(__pv_or__(t, :x, 0), __pv_or__(t, :y, 0), __pv_or__(t, :x2, 0), __pv_or__(t, :y2, 0),
                                __pv_or__(t, :x3, 0), __pv_or__(t, :y3, 0),
                                __pv_or__(t, :r, 255), __pv_or__(t, :g, 255), __pv_or__(t, :b, 255), __pv_or__(t, :a, 255),
                                __pv(t, :path), __pv_or__(t, :source_x, 0), __pv_or__(t, :source_y, 0),
                                __pv_or__(t, :source_x2, 0), __pv_or__(t, :source_y2, 0),
                                __pv_or__(t, :source_x3, 0), __pv_or__(t, :source_y3, 0),
                                __pv_or__(t, :blendmode_enum, 1))
      end

      def draw_primitive(p)
        return p.draw_override(@ffi_draw) if !p.is_a?(Hash) && p.respond_to?(:draw_override)
        marker = p.respond_to?(:primitive_marker) ? p.primitive_marker : nil
        case marker
        when :solid
          __pv__(p, :x3) ? draw_triangle(p) : draw_solid(p)
        when :sprite then draw_sprite(p)
        when :label then draw_label(p)
        when :line then draw_line(p)
        when :border then draw_border(p)
        when :triangle then draw_triangle(p)
        else
          pause!
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
