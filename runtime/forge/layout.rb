# ORB::Layout: the layout grid over the logical canvas (12 rows x 24
# columns in landscape, 24 x 12 in portrait) for placing interface elements
# by row and column. Row 0 is the top row and column 0 the left one unless
# an origin says otherwise. The rectangles follow the grid's origin, whose
# edges the runtime hands over after every tick (`tick_after`).
module ORB
  class Layout
    extend ClassForwarding

    attr :w, :h, :aspect_ratio_w, :aspect_ratio_h, :orientation,
         :gutter_left, :gutter_right, :gutter_top, :gutter_bottom, :cell_size, :gutter

    attr_reader :left, :bottom, :row_count, :col_count, :origin_name

    BOTTOM_ORIGINS = { bottom_left: true, bottom_right: true }.freeze

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
      @debug_primitives_inverted = nil
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

    # Called by the runtime after every tick with the grid's values.
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
      grid = $grid
      grid ? grid.landscape? : @orientation == :landscape
    end

    def portrait?
      grid = $grid
      grid ? grid.portrait? : @orientation == :portrait
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

    # Options come as keywords or as one Hash; anything unknown is ignored.
    def rect(opts = nil, *_ignored, **kw)
      kw = opts.merge(kw) if opts.is_a?(Hash)
      row = kw[:row] || 0
      col = kw[:col] || 0
      w = kw[:w] || 1
      h = kw[:h] || 1
      origin = kw[:origin] || :top_left
      # A [from, to] span; a `to` of 0 or less counts back from the end.
      if col.is_a?(Array)
        from = col[0]
        to = col[1]
        to = to - 1 + @col_count if to <= 0
        col = from
        w = to - from + 1
      end
      if row.is_a?(Array)
        from = row[0]
        to = row[1]
        to = to - 1 + @row_count if to <= 0
        row = from
        h = to - from + 1
      end
      from_bottom = kw[:row_from_bottom]
      row = row_max_index - from_bottom if from_bottom
      from_right = kw[:col_from_right]
      col = col_max_index - from_right if from_right
      max_height = kw[:max_height]
      h = max_height if max_height && h > max_height
      max_width = kw[:max_width]
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
      gutter = @gutter
      cell = @cell_size
      step = gutter + cell
      x = @left + @gutter_left + step * col
      y = @bottom + @h - @gutter_top - step * row - cell * h - (gutter * h - 1)
      width = gutter * (w - 1) + cell * w
      height = gutter * (h - 1) + cell * h
      x += kw[:dx] || 0
      y += kw[:dy] || 0
      # Outside the safe area the cells reach out to one gutter from the
      # canvas edges on the origin's side.
      if kw.key?(:safe_area) && !kw[:safe_area]
        offset = @safe_area[origin] || @safe_area[:top_left]
        x += offset[0]
        if BOTTOM_ORIGINS[origin]
          y -= offset[1]
        else
          y += offset[1]
        end
      end
      if kw[:include_col_gutter]
        x -= gutter
        width += 2 * gutter
      end
      if kw[:include_row_gutter]
        y -= gutter
        height += 2 * gutter
      end
      width = 0 if width < 0
      height = 0 if height < 0
      center_x = x + width / 2
      center_y = y + height / 2
      result = { x: x, y: y, w: width, h: height, center_x: center_x, center_y: center_y,
                 center: { x: center_x, y: center_y } }
      merge = kw[:merge]
      result.merge!(merge) if merge
      result
    end

    # Lays the items out cell after cell from (row, col), wrapping to the
    # start column (or row, for direction :col) when the next one would
    # pass the edge. Each item may bring its own size in `rect_args`.
    def rects(items, direction: :row, row: 0, col: 0, w: 1, h: 1,
              include_row_gutter: false, include_col_gutter: false)
      result = []
      return result if items.nil? || items.empty?
      start_row = row
      start_col = col
      by_col = direction == :col
      i = 0
      n = items.length
      while i < n
        item = items[i]
        if i > 0
          if by_col
            if row + h > @row_count
              row = start_row
              col += w
            end
          elsif col + w > @col_count
            col = start_col
            row += h
          end
        end
        own = __rect_args_of__(item)
        item_w = w
        item_h = h
        row_gutter = include_row_gutter
        col_gutter = include_col_gutter
        if own
          item_w = own[:w] unless own[:w].nil?
          item_h = own[:h] unless own[:h].nil?
          row_gutter = own[:include_row_gutter] unless own[:include_row_gutter].nil?
          col_gutter = own[:include_col_gutter] unless own[:include_col_gutter].nil?
        end
        r = rect(row: row, col: col, w: item_w, h: item_h,
                 include_row_gutter: row_gutter, include_col_gutter: col_gutter)
        r[:item] = item
        r[:layout] = { row: row, col: col, w: item_w, h: item_h,
                       include_row_gutter: row_gutter, include_col_gutter: col_gutter }
        result << r
        if by_col
          row += item_h
        else
          col += item_w
        end
        i += 1
      end
      result
    end

    # Places each item of opts[:group] at a running row and column that
    # advance by drow and dcol; labels are shifted to honour their
    # alignment within the cell.
    def rect_group(opts)
      group = opts[:group] || []
      row = opts[:row] || 0
      row = row_max_index - opts[:row_from_bottom] if opts[:row_from_bottom]
      col = opts[:col] || 0
      col = col_max_index - opts[:col_from_right] if opts[:col_from_right]
      drow = opts[:drow] || 0
      dcol = opts[:dcol] || 0
      w = opts[:w]
      h = opts[:h]
      merge = opts[:merge]
      row_offset = opts[:row_offset]
      if row_offset
        row_offset = { count: group.length, h: h && h > 0 ? h : 1 } unless row_offset.is_a?(Hash)
        row = calc_row_offset(row_offset)
      end
      col_offset = opts[:col_offset]
      if col_offset
        col_offset = { count: group.length, w: w && w > 0 ? w : 1 } unless col_offset.is_a?(Hash)
        col = calc_col_offset(col_offset)
      end
      group.map do |item|
        own = item.is_a?(Hash) ? item[:layout] : nil
        args = own.is_a?(Hash) ? own.merge(row: row, col: col) : { row: row, col: col }
        args[:merge] = merge if merge
        # The group's size wins over the item's; with neither, the rect is
        # a point at the cell's corner.
        args[:w] = w.nil? ? (args[:w] || 0) : w
        args[:h] = h.nil? ? (args[:h] || 0) : h
        r = rect(args)
        if item.is_a?(Hash)
          r = r.merge(item)
          if item.primitive_marker == :label
            alignment = item[:alignment_enum]
            if alignment == 1
              r[:x] += r[:w] / 2
            elsif alignment == 2
              r[:x] += r[:w]
            end
          end
        else
          r[:item] = item
        end
        row += drow
        col += dcol
        r
      end
    end

    # The first row (column) that centres `count` runs of h (w) cells.
    def calc_row_offset(opts = {})
      count = opts[:count] || opts[:length] || 0
      h = opts[:h] || 1
      (@row_count - count * h) / 2.0
    end

    def calc_col_offset(opts = {})
      count = opts[:count] || opts[:length] || 0
      w = opts[:w] || 1
      (@col_count - count * w) / 2.0
    end

    # The corner of one cell, moved by the anchors (fractions of the cell).
    def point(opts = {})
      opts[:w] = 1
      opts[:h] = 1
      opts[:row] ||= 0
      opts[:col] ||= 0
      r = rect(opts)
      col_anchor = opts[:col_anchor]
      row_anchor = opts[:row_anchor]
      r[:x] += r[:w] * col_anchor if col_anchor
      r[:y] += r[:h] * row_anchor if row_anchor
      r
    end

    # `reference`'s size, placed so that its centre is `target`'s centre.
    def rect_center(reference, target)
      rw = __value_of__(reference, :w)
      rh = __value_of__(reference, :h)
      { x: __value_of__(target, :x) - (rw - __value_of__(target, :w)) / 2.0,
        y: __value_of__(target, :y) - (rh - __value_of__(target, :h)) / 2.0,
        w: rw, h: rh }
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

    # Without an argument, the layout's width; with one, the width of a run
    # of n columns.
    def w(n = nil)
      return @w if n.nil?
      rect(w: n, h: 1)[:w]
    end

    def h(n = nil)
      return @h if n.nil?
      rect(w: 1, h: n)[:h]
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

    def font_size_xl
      font_size_cell
    end

    def font_size_lg
      font_size_cell * 0.8
    end

    def font_size_med
      font_size_cell * 0.7
    end

    def font_size
      font_size_cell * 0.7
    end

    def font_size_sm
      font_size_cell * 0.6
    end

    def font_size_xs
      font_size_cell * 0.5
    end

    def font_px_to_pt(px)
      (px / 1.33333).floor
    end

    def font_pt_to_px(pt)
      pt * 1.333333
    end

    def font_relative_size_enum(n)
      n = 1 if n <= 0
      font_size_med / 22 * n
    end

    def rect_defaults
      { row: nil, col: nil, h: 1, w: 1, dx: 0, dx_ratio: 1, dy: 0, dy_ratio: 1,
        dh_ratio: 1, dw_ratio: 1, merge: nil, rect: :control_rect }
    end

    # Outlines of every cell with separators through the gutters and a
    # crosshair at the centre of the canvas: a development aid, built once
    # per colour choice and grid origin.
    def debug_primitives(invert_colors: false)
      inverted = invert_colors ? true : false
      cached = @debug_primitives
      return cached if cached && @debug_primitives_inverted == inverted
      @debug_primitives_inverted = inverted
      @debug_primitives = __build_debug_primitives__(inverted ? 255 : 0)
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

    private

    # Offsets that move a rect from the safe area out to one gutter from
    # the canvas edges, per origin corner ([dx, dy]).
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

    def __rect_args_of__(item)
      args = if item.is_a?(Hash)
               item[:rect_args]
             elsif item.respond_to?(:rect_args)
               item.rect_args
             end
      args.is_a?(Hash) ? args : nil
    end

    def __value_of__(object, name)
      object.is_a?(Hash) ? object[name] : object.__send__(name)
    end

    def __build_debug_primitives__(shade)
      list = []
      row_count = @row_count
      col_count = @col_count
      r = 0
      while r < row_count
        c = 0
        while c < col_count
          cell = rect(row: r, col: c)
          list << { x: cell[:x], y: cell[:y], w: cell[:w], h: cell[:h],
                    r: shade, g: shade, b: shade, a: 255, primitive_marker: :border,
                    id: "row_#{r}_col_#{c}_border".to_sym,
                    docs: "border for cell at row #{r}, col #{c}" }
          c += 1
        end
        r += 1
      end
      # An X through the middle of the canvas.
      length = @cell_size * 2 + @gutter
      cx = @left + @w / 2.0
      cy = @bottom + @h / 2.0
      [[length, 2], [2, length]].each do |bar_w, bar_h|
        list << { x: cx - bar_w / 2.0, y: cy - bar_h / 2.0, w: bar_w, h: bar_h, path: :solid,
                  r: 232, g: 232, b: 232, a: 255, angle: 45, angle_anchor_x: 0.5, angle_anchor_y: 0.5,
                  primitive_marker: :sprite }
      end
      # Lines through the middle of the gutters between rows and columns.
      first = rect(row: 0, col: 0)
      last = rect(row: row_max_index, col: col_max_index)
      top = first[:y] + first[:h]
      bottom = last[:y]
      left = first[:x]
      right = last[:x] + last[:w]
      half = @gutter / 2.0
      r = 1
      while r < row_count
        y = rect(row: r, col: 0)[:y] + @cell_size + half
        list << { x: left, y: y, x2: right, y2: y, r: shade, g: shade, b: shade, a: 64,
                  primitive_marker: :line }
        r += 1
      end
      c = 1
      while c < col_count
        x = rect(row: 0, col: c)[:x] - half
        list << { x: x, y: bottom, x2: x, y2: top, r: shade, g: shade, b: shade, a: 64,
                  primitive_marker: :line }
        c += 1
      end
      list
    end

    public

    __forward_instance_methods__
  end
end
