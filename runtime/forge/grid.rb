# ORB::Grid: the game's logical canvas (1280x720 landscape, 720x1280
# portrait, y up) and the transforms between it and the engine's window
# coordinates (logical units, y down). The engine reports window geometry
# through the runtime's `windowevent_size_changed`, which hands it on here;
# origin changes are sent to the renderer with FFI::Draw#set_grid.
module ORB
  # Class-level calls such as `Grid.w` or `Layout.rect(row: 1)` are answered
  # by the live instance (`__forward_target__`), or failing that by its
  # class. The interpreter drops keyword arguments on their way into
  # method_missing when a call has no positional ones, so the instance
  # methods of the class get their forwarders up front
  # (`__forward_instance_methods__`); method_missing defines the others on
  # first use.
  module ClassForwarding
    def method_missing(name, *args, **kw, &block)
      target = __forward_target__
      if !target.nil? && target.respond_to?(name)
        __define_forwarder__(name, false)
        return target.__send__(name, *args, **kw, &block)
      end
      klass = target.nil? ? nil : target.class
      if klass && !klass.equal?(self) && klass.respond_to?(name)
        __define_forwarder__(name, true)
        return klass.__send__(name, *args, **kw, &block)
      end
      super
    end

    def __define_forwarder__(name, to_class)
      if to_class
        singleton_class.send(:define_method, name) do |*a, **k, &b|
          __forward_target__.class.__send__(name, *a, **k, &b)
        end
      else
        singleton_class.send(:define_method, name) do |*a, **k, &b|
          __forward_target__.__send__(name, *a, **k, &b)
        end
      end
      nil
    end

    # Names the class answers itself (new, name, attributes ...) stay its own.
    def __forward_instance_methods__
      instance_methods(false).each do |name|
        __define_forwarder__(name, false) unless respond_to?(name)
      end
      nil
    end
  end

  class Grid
    extend ClassForwarding
    include Serialize

    SCREEN_Y_DIRECTION = -1.0

    attr :origin_name,
         :left, :bottom, :right, :top, :w, :h, :center_x, :center_y, :center, :rect,
         :origin_x, :origin_y,
         :left_px, :bottom_px, :right_px, :top_px, :w_px, :h_px, :center_x_px, :center_y_px,
         :center_px, :rect_px, :origin_x_px, :origin_y_px,
         :allscreen_left, :allscreen_right, :allscreen_top, :allscreen_bottom,
         :allscreen_w, :allscreen_h, :allscreen_offset_x, :allscreen_offset_y,
         :allscreen_left_px, :allscreen_right_px, :allscreen_top_px, :allscreen_bottom_px,
         :allscreen_w_px, :allscreen_h_px, :allscreen_offset_x_px, :allscreen_offset_y_px,
         :allscreen_w_pt, :allscreen_h_pt,
         :native_scale, :render_scale, :texture_scale, :texture_scale_enum, :high_dpi_scale,
         :letterbox

    attr_reader :allscreen_rect, :allscreen_rect_px

    # Starts at the runtime's logical size (720x1280 in portrait), so the
    # engine's first size report, which carries that same size, is not taken
    # for an orientation change. A new grid is bottom-left without telling
    # the renderer, whose default that is.
    def initialize(runtime)
      @runtime = runtime
      portrait = runtime.orientation == :portrait
      @w = runtime.logical_width || (portrait ? 720 : 1280)
      @h = runtime.logical_height || (portrait ? 1280 : 720)
      @native_scale = 1.0
      @render_scale = 1.0
      @high_dpi_scale = 1.0
      @texture_scale_enum = 100
      @texture_scale = 1.0
      @letterbox = true
      @allscreen_w_px = @w
      @allscreen_h_px = @h
      @allscreen_w_pt = @w
      @allscreen_h_pt = @h
      @allscreen_offset_x_px = 0
      @allscreen_offset_y_px = 0
      __apply_origin__(:bottom_left)
      __update_edges__
    end

    def x
      @left
    end

    def x=(value)
      @left = value
    end

    def y
      @bottom
    end

    def y=(value)
      @bottom = value
    end

    def x_px
      @left_px
    end

    def y_px
      @bottom_px
    end

    def allscreen_x
      @allscreen_left
    end

    def allscreen_y
      @allscreen_bottom
    end

    def allscreen_x_px
      @allscreen_left_px
    end

    def allscreen_y_px
      @allscreen_bottom_px
    end

    def w_half
      @w / 2
    end

    def h_half
      @h / 2
    end

    def letterbox?
      @letterbox
    end

    def orientation
      @runtime.orientation
    end

    def landscape?
      @runtime.orientation == :landscape
    end

    def portrait?
      @runtime.orientation == :portrait
    end

    def aspect_ratio_w
      portrait? ? 9 : 16
    end

    def aspect_ratio_h
      portrait? ? 16 : 9
    end

    def hd?
      @hd = __cvar_value__("game_metadata.hd") if @hd.nil?
      @hd
    end
    alias hd hd?

    def highdpi?
      @highdpi = __cvar_value__("game_metadata.highdpi") if @highdpi.nil?
      @highdpi
    end
    alias highdpi highdpi?

    def ffi_draw
      @runtime.ffi_draw
    end

    def transform_x(x)
      @origin_x + x
    end

    def untransform_x(x)
      x - @origin_x
    end

    # y flips between the two spaces, so the mapping is its own inverse.
    def transform_y(y)
      @origin_y + y * SCREEN_Y_DIRECTION
    end

    def untransform_y(y)
      @origin_y + y * SCREEN_Y_DIRECTION
    end

    # Always re-sends the grid, even when already bottom-left: reset and
    # reboot use it to bring the renderer back in line.
    def origin_bottom_left!(force: false)
      if force || @origin_name != :bottom_left
        __apply_origin__(:bottom_left)
        __update_edges__
      end
      ffi_draw.set_grid(@origin_x, @origin_y, SCREEN_Y_DIRECTION)
      nil
    end

    def origin_center!(force: false)
      return nil if !force && @origin_name == :center
      __apply_origin__(:center)
      __update_edges__
      ffi_draw.set_grid(@origin_x, @origin_y, SCREEN_Y_DIRECTION)
      nil
    end

    # Stores the engine's window geometry (orientation_w/h are the logical
    # size, the _px values the whole output and the letterbox offsets in
    # pixels) and recomputes the edges. Answers true when the logical width
    # changed, that is, when the orientation flipped; the runtime then
    # swaps its logical size and re-applies the origin, which re-sends the
    # grid to the renderer.
    def windowevent_size_changed(orientation_w, orientation_h, window_w, window_h,
                                 allscreen_w_px, allscreen_h_px,
                                 allscreen_offset_x_px, allscreen_offset_y_px,
                                 native_scale, texture_scale_enum, render_scale, high_dpi_scale)
      flipped = orientation_w != @w
      resized = flipped || orientation_h != @h
      @allscreen_w_pt = window_w
      @allscreen_h_pt = window_h
      @native_scale = native_scale
      @render_scale = __sane_scale__(render_scale)
      @high_dpi_scale = high_dpi_scale
      @texture_scale_enum = texture_scale_enum
      @texture_scale = texture_scale_enum / 100.0
      @allscreen_w_px = allscreen_w_px
      @allscreen_h_px = allscreen_h_px
      @allscreen_offset_x_px = allscreen_offset_x_px
      @allscreen_offset_y_px = allscreen_offset_y_px
      @w = orientation_w
      @h = orientation_h
      __apply_origin__(@origin_name) if resized
      __update_edges__
      # A height change alone moves the origin without a flip.
      ffi_draw.set_grid(@origin_x, @origin_y, SCREEN_Y_DIRECTION) if resized && !flipped
      flipped
    end

    def serialize
      { origin_name: @origin_name, left: @left, bottom: @bottom, right: @right, top: @top,
        w: @w, h: @h, allscreen_left: @allscreen_left, allscreen_bottom: @allscreen_bottom,
        allscreen_w: @allscreen_w, allscreen_h: @allscreen_h, render_scale: @render_scale,
        native_scale: @native_scale, texture_scale_enum: @texture_scale_enum, letterbox: @letterbox }
    end

    def self.__forward_target__
      $grid
    end

    private

    def __sane_scale__(scale)
      scale = scale.to_f
      scale > 0 && scale < Float::INFINITY ? scale : 1.0
    end

    def __apply_origin__(name)
      @origin_name = name
      w = @w
      h = @h
      if name == :center
        @origin_x = w / 2.0
        @origin_y = h / 2.0
        @center_x = 0.0
        @center_y = 0.0
        @center = { x: 0.0, y: 0.0, w: 0, h: 0 }
      else
        @origin_x = 0.0
        @origin_y = h.to_f
        @center_x = w / 2.0
        @center_y = h / 2.0
        @center = { x: @center_x, y: @center_y }
      end
    end

    # Edges of the logical area and of the whole output, in logical units
    # and in pixels. ceil keeps the whole-output area covering every pixel;
    # the offset correction absorbs what ceil added.
    def __update_edges__
      scale = @render_scale
      w = @w
      h = @h
      @w_px = (w * scale).ceil
      @h_px = (h * scale).ceil
      @allscreen_w = (@allscreen_w_px / scale).ceil
      @allscreen_h = (@allscreen_h_px / scale).ceil
      offset_x = (@allscreen_offset_x_px / scale).ceil
      offset_y = (@allscreen_offset_y_px / scale).ceil
      offset_x += (@allscreen_w_px / scale - (w + 2 * offset_x)).ceil
      offset_y += (@allscreen_h_px / scale - (h + 2 * offset_y)).ceil
      @allscreen_offset_x = offset_x
      @allscreen_offset_y = offset_y
      @allscreen_left_px = -@allscreen_offset_x_px
      @allscreen_bottom_px = -@allscreen_offset_y_px
      @allscreen_left = -offset_x
      @allscreen_bottom = -offset_y
      @left_px = 0
      @bottom_px = 0
      @left = 0
      @bottom = 0
      if @origin_name == :center
        half_w_px = (@w_px / 2.0).ceil
        half_h_px = (@h_px / 2.0).ceil
        half_w = (w / 2.0).ceil
        half_h = (h / 2.0).ceil
        @allscreen_left_px -= half_w_px
        @left_px -= half_w_px
        @allscreen_bottom_px -= half_h_px
        @bottom_px -= half_h_px
        @allscreen_left -= half_w
        @left -= half_w
        @allscreen_bottom -= half_h
        @bottom -= half_h
      end
      # The left edge already lies one offset outside the logical area, so
      # the far edge is the left edge plus the whole width.
      @allscreen_right_px = @allscreen_left_px + @allscreen_w_px
      @allscreen_top_px = @allscreen_bottom_px + @allscreen_h_px
      @allscreen_right = @allscreen_left + @allscreen_w
      @allscreen_top = @allscreen_bottom + @allscreen_h
      @right_px = @left_px + @w_px
      @top_px = @bottom_px + @h_px
      @right = @left + w
      @top = @bottom + h
      @center_x_px = (@left_px + @right_px) / 2.0
      @center_y_px = (@bottom_px + @top_px) / 2.0
      @origin_x_px = @origin_x * scale
      @origin_y_px = @origin_y * scale
      @center_px = { x: @center_x_px, y: @center_y_px }
      @rect = { x: @left, y: @bottom, w: w, h: h }
      @rect_px = { x: @left_px, y: @bottom_px, w: @w_px, h: @h_px }
      @allscreen_rect = { x: @allscreen_left, y: @allscreen_bottom, w: @allscreen_w, h: @allscreen_h }
      @allscreen_rect_px = { x: @allscreen_left_px, y: @allscreen_bottom_px,
                             w: @allscreen_w_px, h: @allscreen_h_px }
    end

    def __cvar_value__(name)
      cvars = $cvars
      cvar = cvars.is_a?(Hash) ? cvars[name] : nil
      cvar && cvar.value ? true : false
    end

    public

    __forward_instance_methods__
  end
end
