# ORB::Grid: the game's logical canvas (1280x720 landscape, 720x1280
# portrait, y up) and the transforms between it and the engine's window
# coordinates (logical units, y down). The engine reports window geometry
# through `windowevent_size_changed`; origin changes are sent to the
# renderer with FFI::Draw#set_grid.
module ORB
  # Class-level calls such as `Grid.w` are answered by the live instance
  # (`__forward_target__`) when it responds; the forwarder is defined on
  # first use so later calls are direct.
  module ClassForwarding
    def method_missing(name, *args, &block)
      target = __forward_target__
      return super unless target && target.respond_to?(name)
      singleton_class.send(:define_method, name) do |*a, &b|
        __forward_target__.__send__(name, *a, &b)
      end
      target.__send__(name, *args, &block)
    end
  end

  class Grid
    extend ClassForwarding
    include Serialize

    SCREEN_Y_DIRECTION = -1.0

    attr :origin_name,
         :left, :bottom, :right, :top, :w, :h, :center_x, :center_y, :origin_x, :origin_y,
         :left_px, :bottom_px, :right_px, :top_px, :w_px, :h_px,
         :center_x_px, :center_y_px, :origin_x_px, :origin_y_px,
         :allscreen_left, :allscreen_right, :allscreen_top, :allscreen_bottom,
         :allscreen_w, :allscreen_h, :allscreen_offset_x, :allscreen_offset_y,
         :allscreen_left_px, :allscreen_right_px, :allscreen_top_px, :allscreen_bottom_px,
         :allscreen_w_px, :allscreen_h_px, :allscreen_offset_x_px, :allscreen_offset_y_px,
         :allscreen_w_pt, :allscreen_h_pt,
         :native_scale, :render_scale, :texture_scale, :texture_scale_enum, :high_dpi_scale,
         :letterbox

    def initialize(runtime)
      @runtime = runtime
      @w = runtime.logical_width
      @h = runtime.logical_height
      @native_scale = 1.0
      @render_scale = 1.0
      @high_dpi_scale = 1.0
      @texture_scale_enum = 100
      @texture_scale = 1.0
      @letterbox = true
      @w_px = @w
      @h_px = @h
      @allscreen_w = @w
      @allscreen_h = @h
      @allscreen_w_px = @w
      @allscreen_h_px = @h
      @allscreen_w_pt = @w
      @allscreen_h_pt = @h
      @allscreen_offset_x = 0
      @allscreen_offset_y = 0
      @allscreen_offset_x_px = 0
      @allscreen_offset_y_px = 0
      __apply_origin__(:bottom_left)
      __update_edges__
    end

    def x
      @left
    end

    def y
      @bottom
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

    def center
      if @origin_name == :center
        { x: 0.0, y: 0.0, w: 0, h: 0 }
      else
        { x: @center_x, y: @center_y }
      end
    end

    def rect
      { x: @left, y: @bottom, w: @w, h: @h }
    end

    def rect_px
      { x: @left_px, y: @bottom_px, w: @w_px, h: @h_px }
    end

    def allscreen_rect
      { x: @allscreen_left, y: @allscreen_bottom, w: @allscreen_w, h: @allscreen_h }
    end

    def allscreen_rect_px
      { x: @allscreen_left_px, y: @allscreen_bottom_px, w: @allscreen_w_px, h: @allscreen_h_px }
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
      landscape? ? 16 : 9
    end

    def aspect_ratio_h
      landscape? ? 9 : 16
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

    def transform_y(y)
      @origin_y + y * SCREEN_Y_DIRECTION
    end

    def untransform_y(y)
      @origin_y + y * SCREEN_Y_DIRECTION
    end

    def origin_bottom_left!(force: false)
      __apply_origin__(:bottom_left) if force || @origin_name != :bottom_left
      __update_edges__
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

    # Applies the engine's window geometry; answers true when the logical
    # width changed, that is, when the orientation flipped.
    def windowevent_size_changed(orientation_w, orientation_h, window_w, window_h,
                                 allscreen_w_px, allscreen_h_px,
                                 allscreen_offset_x_px, allscreen_offset_y_px,
                                 native_scale, texture_scale_enum, render_scale, high_dpi_scale)
      flipped = orientation_w != @w
      @allscreen_w_pt = window_w
      @allscreen_h_pt = window_h
      @native_scale = native_scale
      @render_scale = render_scale
      @high_dpi_scale = high_dpi_scale
      @texture_scale_enum = texture_scale_enum
      @texture_scale = texture_scale_enum / 100.0
      @allscreen_w_px = allscreen_w_px
      @allscreen_h_px = allscreen_h_px
      @allscreen_offset_x_px = allscreen_offset_x_px
      @allscreen_offset_y_px = allscreen_offset_y_px
      @w = orientation_w
      @h = orientation_h
      __apply_origin__(@origin_name) if flipped
      __update_edges__
      flipped
    end

    def serialize
      { origin_name: @origin_name, left: @left, bottom: @bottom, right: @right, top: @top,
        w: @w, h: @h, render_scale: @render_scale, native_scale: @native_scale,
        texture_scale_enum: @texture_scale_enum, letterbox: @letterbox }
    end

    def self.__forward_target__
      $grid
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
      else
        @origin_x = 0.0
        @origin_y = h.to_f
        @center_x = w / 2.0
        @center_y = h / 2.0
      end
    end

    def __update_edges__
      render_scale = @render_scale.to_f
      render_scale = 1.0 if render_scale <= 0
      @w_px = (@w * render_scale).ceil
      @h_px = (@h * render_scale).ceil
      @allscreen_w = (@allscreen_w_px / render_scale).ceil
      @allscreen_h = (@allscreen_h_px / render_scale).ceil
      @allscreen_offset_x = (@allscreen_offset_x_px / render_scale).ceil
      @allscreen_offset_y = (@allscreen_offset_y_px / render_scale).ceil
      @allscreen_offset_x += (@allscreen_w_px / render_scale - (@w + 2 * @allscreen_offset_x)).ceil
      @allscreen_offset_y += (@allscreen_h_px / render_scale - (@h + 2 * @allscreen_offset_y)).ceil
      @allscreen_left_px = -@allscreen_offset_x_px
      @allscreen_bottom_px = -@allscreen_offset_y_px
      @allscreen_left = -@allscreen_offset_x
      @allscreen_bottom = -@allscreen_offset_y
      @left_px = 0
      @bottom_px = 0
      @left = 0
      @bottom = 0
      if @origin_name == :center
        half_w_px = (@w_px / 2.0).ceil
        half_h_px = (@h_px / 2.0).ceil
        half_w = (@w / 2.0).ceil
        half_h = (@h / 2.0).ceil
        @allscreen_left_px -= half_w_px
        @left_px -= half_w_px
        @allscreen_bottom_px -= half_h_px
        @bottom_px -= half_h_px
        @allscreen_left -= half_w
        @left -= half_w
        @allscreen_bottom -= half_h
        @bottom -= half_h
      end
      @allscreen_right_px = @allscreen_left_px + @allscreen_w_px + @allscreen_offset_x_px
      @allscreen_top_px = @allscreen_bottom_px + @allscreen_h_px + @allscreen_offset_y_px
      @allscreen_right = @allscreen_left + @allscreen_w + @allscreen_offset_x
      @allscreen_top = @allscreen_bottom + @allscreen_h + @allscreen_offset_y
      @right_px = @left_px + @w_px
      @top_px = @bottom_px + @h_px
      @right = @left + @w
      @top = @bottom + @h
      @center_x_px = (@left_px + @right_px) / 2.0
      @center_y_px = (@bottom_px + @top_px) / 2.0
      @origin_x_px = @origin_x * render_scale
      @origin_y_px = @origin_y * render_scale
    end

    def __cvar_value__(name)
      cvar = $cvars[name]
      cvar ? (cvar.value ? true : false) : false
    end
  end
end
