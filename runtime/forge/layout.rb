# ORB::Layout: the layout grid over the logical canvas (12 rows x 24
# columns in landscape, 24 x 12 in portrait) for placing interface elements
# by row and column. It follows the grid's origin, which the runtime hands
# over after every tick.
module ORB
  class Layout
    extend ClassForwarding

    attr :w, :h, :aspect_ratio_w, :aspect_ratio_h, :orientation,
         :gutter_left, :gutter_right, :gutter_top, :gutter_bottom, :cell_size, :gutter

    attr_reader :left, :bottom, :row_count, :col_count, :origin_name

    def self.__forward_target__
      $layout
    end

    def initialize(w, h, aspect_ratio_w, aspect_ratio_h, orientation)
      reinitialize(w, h, aspect_ratio_w, aspect_ratio_h, orientation)
    end

    def reinitialize(w, h, aspect_ratio_w, aspect_ratio_h, orientation)
      @w = w
      @h = h
      @aspect_ratio_w = aspect_ratio_w
      @aspect_ratio_h = aspect_ratio_h
      @orientation = orientation
      if orientation == :portrait
        @gutter_left = 50
        @gutter_right = 50
        @gutter_top = 15
        @gutter_bottom = 15
        @row_count = 24
        @col_count = 12
      else
        @gutter_left = 18
        @gutter_right = 18
        @gutter_top = 47
        @gutter_bottom = 52
        @row_count = 12
        @col_count = 24
      end
      @cell_size = 48
      @gutter = 4
      @left = 0
      @bottom = 0
      @origin_name = :bottom_left
      @debug_primitives = nil
      @logical_rect = nil
      @safe_rect = nil
      @control_rect = nil
      __compute_safe_area__
      self
    end

    def reset
      reinitialize(@w, @h, @aspect_ratio_w, @aspect_ratio_h, @orientation)
    end

    def orientation_changed!
      grid = $grid
      return reset unless grid
      reinitialize(grid.w, grid.h, grid.aspect_ratio_w, grid.aspect_ratio_h, grid.orientation)
    end

    def tick_after(left, bottom, w, h, aspect_ratio_w, aspect_ratio_h, orientation, origin_name)
      @debug_primitives = nil if origin_name != @origin_name
      @left = left
      @bottom = bottom
      @w = w
      @h = h
      @aspect_ratio_w = aspect_ratio_w
      @aspect_ratio_h = aspect_ratio_h
      @orientation = orientation
      @origin_name = origin_name
      nil
    end

    def landscape?
      @orientation == :landscape
    end

    def portrait?
      @orientation == :portrait
    end

    def row_max_index
      @row_count - 1
    end

    def col_max_index
      @col_count - 1
    end

    def gutter_height
      @gutter
    end

    def gutter_width
      @gutter
    end

    def outer_gutter
      @gutter_left
    end

    def cell_height
      @cell_size
    end

    def cell_width
      @cell_size
    end

    # Accepts its options as keywords or as one Hash; unknown options are
    # ignored.
    def rect(opts = nil, *_ignored, **kw)
      kw = opts.merge(kw) if opts.is_a?(Hash)
      row = kw[:row] || 0
      col = kw[:col] || 0
      w = kw[:w] || 1
      h = kw[:h] || 1
      dx = kw[:dx] || 0
      dy = kw[:dy] || 0
      origin = kw[:origin] || :top_left
      safe_area = kw.key?(:safe_area) ? kw[:safe_area] : true
      if col.is_a?(Array)
        from, to = col
        to = to - 1 + @col_count if to <= 0
        col = from
        w = to - from + 1
      end
      if row.is_a?(Array)
        from, to = row
        to = to - 1 + @row_count if to <= 0
        row = from
        h = to - from + 1
      end
      row = row_max_index - kw[:row_from_bottom] if kw[:row_from_bottom]
      col = col_max_index - kw[:col_from_right] if kw[:col_from_right]
      max_height = kw[:max_height]
      max_width = kw[:max_width]
      h = max_height if max_height && h > max_height
      w = max_width if max_width && w > max_width
      case origin
      when :bottom_left
        row = @row_count - row - h
      when :bottom_right
        row = @row_count - row - h
        col = @col_count - col - w
      when :top_right
        col = @col_count - col - w
      end
      step = @gutter + @cell_size
      x = @left + @gutter_left + step * col
      y = @bottom + @h - @gutter_top - step * row - @cell_size * h - (@gutter * h - 1)
      width = @gutter * (w - 1) + @cell_size * w
      height = @gutter * (h - 1) + @cell_size * h
      x += dx
      y += dy
      unless safe_area
        offset = @safe_area[origin] || @safe_area[:top_left]
        x += offset[0]
        if origin == :bottom_left || origin == :bottom_right
          y -= offset[1]
        else
          y += offset[1]
        end
      end
      if kw[:include_col_gutter]
        x -= @gutter
        width += 2 * @gutter
      end
      if kw[:include_row_gutter]
        y -= @gutter
        height += 2 * @gutter
      end
      width = 0 if width < 0
      height = 0 if height < 0
      center_x = x + width / 2
      center_y = y + height / 2
      result = { x: x, y: y, w: width, h: height, center_x: center_x, center_y: center_y,
                 center: { x: center_x, y: center_y } }
      result.merge!(kw[:merge]) if kw[:merge]
      result
    end

    def row(n)
      rect(row: n, col: 0, w: 0, h: 0)[:y]
    end

    def col(n)
      rect(row: 0, col: n, w: 0, h: 0)[:x]
    end

    def row_from_bottom(n)
      row(row_max_index - n)
    end

    def col_from_right(n)
      col(col_max_index - n)
    end

    def logical_rect
      @logical_rect ||= { x: 0, y: 0, w: @w, h: @h }
    end

    def safe_rect
      @safe_rect ||= { x: 0, y: 0, w: @w, h: @h }
    end

    def control_rect
      @control_rect ||= { x: @gutter_left, y: @gutter_bottom,
                          w: @w - @gutter_left - @gutter_right,
                          h: @h - @gutter_top - @gutter_bottom }
    end

    def font_size_cell
      @cell_size / 1.33333
    end

    def rect_defaults
      { row: nil, col: nil, h: 1, w: 1, dx: 0, dx_ratio: 1, dy: 0, dy_ratio: 1,
        dh_ratio: 1, dw_ratio: 1, merge: nil, rect: :control_rect }
    end

    def serialize
      { w: @w, h: @h, aspect_ratio_w: @aspect_ratio_w, aspect_ratio_h: @aspect_ratio_h,
        orientation: @orientation, gutter_left: @gutter_left, gutter_right: @gutter_right,
        gutter_top: @gutter_top, gutter_bottom: @gutter_bottom, cell_size: @cell_size, gutter: @gutter }
    end

    def inspect
      serialize.to_s
    end

    def to_s
      serialize.to_s
    end

    def __compute_safe_area__
      full_w = @gutter * (@col_count - 1) + @cell_size * @col_count
      full_h = @gutter * (@row_count - 1) + @cell_size * @row_count
      left_dx = @gutter - @gutter_left
      top_dy = @gutter_top - 1
      right_dx = (@w - full_w).idiv(2) - @gutter
      bottom_dy = (@h - full_h).idiv(2) - @gutter
      @safe_area = {
        top_left: [left_dx, top_dy],
        top_right: [right_dx, top_dy],
        bottom_left: [left_dx, bottom_dy],
        bottom_right: [right_dx, bottom_dy]
      }
    end
  end
end
