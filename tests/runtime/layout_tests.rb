# Tests of ORB::Layout, run inside a game with
# `moonforge <game> --test tests/runtime/layout_tests.rb`. Besides a table
# of known rectangles, the layout is checked for properties that hold
# whatever the formulas: cells one gutter apart, inside the canvas, with
# equal margins on opposite sides. Portrait and the centre origin are
# reached the way the engine reaches them (a size report, an origin call),
# with the draw binding swapped for a recorder; everything is put back.

class LayoutTestDraw
  def method_missing(_name, *_args, &_block)
    nil
  end

  def respond_to_missing?(_name, _include_private = false)
    true
  end
end

LAYOUT_TEST_LANDSCAPE = [1280, 720, 1280, 720, 1280, 720, 0, 0, 1.0, 100, 1.0, 1.0].freeze
LAYOUT_TEST_PORTRAIT = [720, 1280, 720, 1280, 720, 1280, 0, 0, 1.0, 100, 1.0, 1.0].freeze

# Hands the layout over the way the runtime does after a tick.
def layout_test_sync(orb)
  grid = orb.args.grid
  orb.args.layout.tick_after(grid.left, grid.bottom, grid.w, grid.h, grid.aspect_ratio_w,
                             grid.aspect_ratio_h, orb.orientation, grid.origin_name)
end

# Runs the block with the grid in the given orientation and origin.
def layout_test_with(orientation: :landscape, origin: :bottom_left)
  orb = $orb
  grid = orb.args.grid
  layout = orb.args.layout
  saved_draw = orb.instance_variable_get(:@ffi_draw)
  saved_events = orb.args.events.dup
  orb.instance_variable_set(:@ffi_draw, LayoutTestDraw.new)
  orb.windowevent_size_changed(*LAYOUT_TEST_PORTRAIT) if orientation == :portrait
  origin == :center ? grid.origin_center! : grid.origin_bottom_left!
  layout_test_sync(orb)
  yield layout, grid
ensure
  orb.windowevent_size_changed(*LAYOUT_TEST_LANDSCAPE) if orb.orientation != :landscape
  grid.origin_bottom_left!
  layout_test_sync(orb)
  orb.instance_variable_set(:@ffi_draw, saved_draw)
  orb.args.events[:resize_occurred] = saved_events[:resize_occurred]
  orb.args.events[:orientation_changed] = saved_events[:orientation_changed]
end

def layout_test_box(r)
  [r[:x], r[:y], r[:w], r[:h]]
end

def test_layout_values_per_orientation args, assert
  expected = {
    landscape: { gutter_left: 18, gutter_right: 18, gutter_top: 47, gutter_bottom: 52, cell_size: 48,
                 gutter: 4, row_count: 12, col_count: 24, row_max_index: 11, col_max_index: 23,
                 w: 1280, h: 720, aspect_ratio_w: 16, aspect_ratio_h: 9, orientation: :landscape },
    portrait: { gutter_left: 50, gutter_right: 50, gutter_top: 15, gutter_bottom: 15, cell_size: 48,
                gutter: 4, row_count: 24, col_count: 12, row_max_index: 23, col_max_index: 11,
                w: 720, h: 1280, aspect_ratio_w: 9, aspect_ratio_h: 16, orientation: :portrait }
  }
  expected.each do |orientation, values|
    layout_test_with(orientation: orientation) do |layout, _grid|
      values.each { |name, value| assert.equal! layout.__send__(name), value, "#{name} in #{orientation}" }
      assert.equal! layout.portrait?, orientation == :portrait
      assert.equal! layout.landscape?, orientation == :landscape
      assert.equal! [layout.gutter_width, layout.gutter_height, layout.cell_width, layout.cell_height], [4, 4, 48, 48]
      assert.equal! layout.outer_gutter, values[:gutter_left]
      assert.equal! layout.serialize.keys,
                    [:w, :h, :aspect_ratio_w, :aspect_ratio_h, :orientation, :gutter_left, :gutter_right,
                     :gutter_top, :gutter_bottom, :cell_size, :gutter]
      assert.equal! layout.to_s, layout.serialize.to_s
      assert.equal! layout.control_rect,
                    { x: values[:gutter_left], y: values[:gutter_bottom],
                      w: values[:w] - 2 * values[:gutter_left],
                      h: values[:h] - values[:gutter_top] - values[:gutter_bottom] }
      assert.equal! layout.logical_rect, { x: 0, y: 0, w: values[:w], h: values[:h] }
    end
  end
end

def test_layout_rect_table args, assert
  table = [
    [{ row: 0, col: 0 }, [18, 622, 48, 48]],
    [{ row: 11, col: 23 }, [1214, 50, 48, 48]],
    [{ row: 0, col: 1 }, [70, 622, 48, 48]],
    [{ row: 1, col: 0 }, [18, 570, 48, 48]],
    [{ row: 0, col: 0, w: 2, h: 2 }, [18, 570, 100, 100]],
    [{ row: 0, col: [2, 0] }, [122, 622, 1140, 48]],
    [{ row: 0, col: [2, -1] }, [122, 622, 1088, 48]],
    [{ row: [1, 3], col: 0 }, [18, 466, 48, 152]],
    [{ row: [0, 0], col: [0, 0] }, [18, 50, 1244, 620]],
    [{ row_from_bottom: 0, col_from_right: 0 }, [1214, 50, 48, 48]],
    [{ row_from_bottom: 2, col_from_right: 3 }, [1058, 154, 48, 48]],
    [{ row: 0, col: 0, origin: :bottom_left }, [18, 50, 48, 48]],
    [{ row: 0, col: 0, origin: :bottom_right }, [1214, 50, 48, 48]],
    [{ row: 0, col: 0, origin: :top_right }, [1214, 622, 48, 48]],
    [{ row: 0, col: 0, origin: :top_left }, [18, 622, 48, 48]],
    [{ row: 1, col: 2, w: 2, h: 2, origin: :bottom_right }, [1058, 102, 100, 100]],
    [{ w: 30 }, [18, 622, 1556, 48]],
    [{ w: 0 }, [18, 622, 0, 48]],
    [{ w: 5, h: 3, max_width: 2, max_height: 1 }, [18, 622, 100, 48]],
    [{ dx: 5, dy: -3 }, [23, 619, 48, 48]],
    [{ include_col_gutter: true }, [14, 622, 56, 48]],
    [{ include_row_gutter: true }, [18, 618, 48, 56]],
    [{ safe_area: false }, [4, 668, 48, 48]],
    [{ safe_area: false, origin: :top_right }, [1228, 668, 48, 48]],
    [{ safe_area: false, origin: :bottom_left }, [4, 4, 48, 48]],
    [{ safe_area: false, origin: :bottom_right }, [1228, 4, 48, 48]],
    [{ safe_area: true, origin: :bottom_right }, [1214, 50, 48, 48]]
  ]
  layout_test_with do |layout, _grid|
    table.each do |opts, box|
      r = layout.rect(**opts)
      assert.equal! layout_test_box(r), box, "rect(#{opts})"
      assert.equal! layout_test_box(layout.rect(opts)), box, "rect with a Hash #{opts}"
      assert.equal! [r[:center_x], r[:center_y]], [box[0] + box[2] / 2, box[1] + box[3] / 2]
      assert.equal! r[:center], { x: r[:center_x], y: r[:center_y] }
    end
    merged = layout.rect(row: 2, col: 3, merge: { r: 9, x: -1 }, unknown_option: 1)
    assert.equal! [merged[:r], merged[:x], merged[:w]], [9, -1, 48]
    assert.equal! layout_test_box(layout.rect({ row: 1 }, :ignored, col: 1)), [70, 570, 48, 48]
    assert.equal! layout_test_box(Layout.rect(row: 11, col: 23)), [1214, 50, 48, 48], "through the class"
    assert.equal! layout.rect_defaults,
                  { row: nil, col: nil, h: 1, w: 1, dx: 0, dx_ratio: 1, dy: 0, dy_ratio: 1,
                    dh_ratio: 1, dw_ratio: 1, merge: nil, rect: :control_rect }
  end
end

def test_layout_follows_the_grid_origin args, assert
  layout_test_with(origin: :center) do |layout, grid|
    assert.equal! [layout.left, layout.bottom, layout.origin_name], [-640, -360, :center]
    assert.equal! layout_test_box(layout.rect(row: 0, col: 0)), [-622, 262, 48, 48]
    assert.equal! layout_test_box(layout.rect(row: 11, col: 23)), [574, -310, 48, 48]
    assert.equal! layout_test_box(layout.rect(safe_area: false, origin: :bottom_left)), [-636, -356, 48, 48]
    grid.origin_bottom_left!
    layout_test_sync($orb)
    assert.equal! layout_test_box(layout.rect(row: 0, col: 0)), [18, 622, 48, 48]
  end
end

def test_layout_portrait_table args, assert
  table = [
    [{ row: 0, col: 0 }, [50, 1214, 48, 48]],
    [{ row: 23, col: 11 }, [622, 18, 48, 48]],
    [{ row: 0, col: [0, 0] }, [50, 1214, 620, 48]],
    [{ row: 0, col: 0, origin: :bottom_right }, [622, 18, 48, 48]],
    [{ safe_area: false }, [4, 1228, 48, 48]],
    [{ safe_area: false, origin: :bottom_right }, [668, 4, 48, 48]]
  ]
  layout_test_with(orientation: :portrait) do |layout, _grid|
    table.each do |opts, box|
      assert.equal! layout_test_box(layout.rect(**opts)), box, "portrait rect(#{opts})"
    end
  end
end

# Checked against the canvas, not against the formulas.
def test_layout_cells_gutters_and_margins args, assert
  [[:landscape, :bottom_left], [:portrait, :bottom_left], [:landscape, :center]].each do |orientation, origin|
    layout_test_with(orientation: orientation, origin: origin) do |layout, grid|
      where = "#{orientation}, #{origin}"
      left = grid.left
      bottom = grid.bottom
      right = left + grid.w
      top = bottom + grid.h
      gutter = layout.gutter
      rows = layout.row_count
      cols = layout.col_count
      cells = Array.new(rows) { |r| Array.new(cols) { |c| layout.rect(row: r, col: c) } }
      rows.times do |r|
        cols.times do |c|
          cell = cells[r][c]
          assert.true! cell[:x] >= left && cell[:x] + cell[:w] <= right, "cell #{r},#{c} across, #{where}"
          assert.true! cell[:y] >= bottom && cell[:y] + cell[:h] <= top, "cell #{r},#{c} up, #{where}"
          assert.equal! [cell[:w], cell[:h]], [layout.cell_size, layout.cell_size]
          if c + 1 < cols
            assert.equal! cells[r][c + 1][:x] - (cell[:x] + cell[:w]), gutter, "gap right of #{r},#{c}, #{where}"
            assert.equal! cells[r][c + 1][:y], cell[:y]
          end
          if r + 1 < rows
            below = cells[r + 1][c]
            assert.equal! cell[:y] - (below[:y] + below[:h]), gutter, "gap below #{r},#{c}, #{where}"
            assert.equal! below[:x], cell[:x]
          end
        end
      end
      first = cells[0][0]
      last = cells[rows - 1][cols - 1]
      assert.equal! first[:x] - left, right - (last[:x] + last[:w]), "left and right margins, #{where}"
      assert.equal! top - (first[:y] + first[:h]), last[:y] - bottom, "top and bottom margins, #{where}"

      # A span covers its cells and the gutters between them.
      span = layout.rect(row: [0, 0], col: [0, 0])
      assert.equal! layout_test_box(span), [first[:x], last[:y], last[:x] + last[:w] - first[:x],
                                            first[:y] + first[:h] - last[:y]]
      span = layout.rect(row: 1, col: 2, w: 3)
      assert.equal! [span[:x], span[:x] + span[:w]], [cells[1][2][:x], cells[1][4][:x] + cells[1][4][:w]]

      # Outside the safe area each corner cell sits one gutter from the edges.
      tl = layout.rect(safe_area: false)
      br = layout.rect(safe_area: false, origin: :bottom_right)
      tr = layout.rect(safe_area: false, origin: :top_right)
      bl = layout.rect(safe_area: false, origin: :bottom_left)
      assert.equal! [tl[:x] - left, top - (tl[:y] + tl[:h])], [gutter, gutter], "top-left, #{where}"
      assert.equal! [right - (tr[:x] + tr[:w]), top - (tr[:y] + tr[:h])], [gutter, gutter], "top-right, #{where}"
      assert.equal! [bl[:x] - left, bl[:y] - bottom], [gutter, gutter], "bottom-left, #{where}"
      assert.equal! [right - (br[:x] + br[:w]), br[:y] - bottom], [gutter, gutter], "bottom-right, #{where}"

      # Each origin counts from its own corner.
      assert.equal! layout.rect(row: 0, col: 0, origin: :bottom_left)[:y], last[:y]
      assert.equal! layout.rect(row: 0, col: 0, origin: :top_right)[:x], last[:x]
    end
  end
end

def test_layout_single_value_helpers args, assert
  layout_test_with do |layout, _grid|
    assert.equal! layout.row(0), 674
    assert.equal! layout.row(1), 622
    assert.equal! layout.col(0), 18
    assert.equal! layout.col(1), 70
    assert.equal! layout.row_from_bottom(0), layout.row(11)
    assert.equal! layout.col_from_right(0), layout.col(23)
    assert.equal! [layout.w(1), layout.w(2), layout.h(3)], [48, 100, 152]
    assert.equal! [layout.w, layout.h], [1280, 720]
    assert.equal! [Layout.w, Layout.w(2)], [1280, 100]
    assert.equal! layout.calc_col_offset(count: 4, w: 2), 8.0
    assert.equal! layout.calc_col_offset(length: 5), 9.5
    assert.equal! layout.calc_row_offset(count: 2, h: 3), 3.0
    assert.equal! layout.calc_row_offset, 6.0
  end
end

def test_layout_rects_wrap args, assert
  layout_test_with do |layout, _grid|
    assert.equal! layout.rects(nil), []
    assert.equal! layout.rects([]), []
    placed = layout.rects([:a, :b, :c], row: 2, col: 22)
    assert.equal! placed.map { |r| r[:layout].values_at(:row, :col) }, [[2, 22], [2, 23], [3, 22]]
    assert.equal! placed.map { |r| r[:item] }, [:a, :b, :c]
    assert.equal! layout_test_box(placed[2]), layout_test_box(layout.rect(row: 3, col: 22))

    down = layout.rects([1, 2, 3], direction: :col, row: 10, col: 5, h: 1)
    assert.equal! down.map { |r| r[:layout].values_at(:row, :col) }, [[10, 5], [11, 5], [10, 6]]

    wide = { text: "wide", rect_args: { w: 2, include_col_gutter: true } }
    placed = layout.rects([wide, { text: "plain" }], row: 0, col: 0)
    assert.equal! placed[0][:layout], { row: 0, col: 0, w: 2, h: 1, include_row_gutter: false, include_col_gutter: true }
    assert.equal! layout_test_box(placed[0]), layout_test_box(layout.rect(w: 2, include_col_gutter: true))
    assert.equal! placed[1][:layout].values_at(:col, :w, :include_col_gutter), [2, 1, false]
  end
end

def test_layout_rect_group_point_and_center args, assert
  layout_test_with do |layout, _grid|
    group = [{ text: "left" }, { text: "mid", alignment_enum: 1 }, { text: "end", alignment_enum: 2 },
             { text: "own", layout: { w: 3, dy: 7 } }]
    placed = layout.rect_group(group: group, row: 1, col: 2, dcol: 4, w: 2, h: 1)
    boxes = (0..3).map { |i| layout.rect(row: 1, col: 2 + 4 * i, w: 2, h: 1) }
    assert.equal! placed.map { |r| r[:text] }, ["left", "mid", "end", "own"]
    assert.equal! placed[0][:x], boxes[0][:x]
    assert.equal! placed[1][:x], boxes[1][:x] + 50, "centred label"
    assert.equal! placed[2][:x], boxes[2][:x] + 100, "right-aligned label"
    assert.equal! [placed[3][:x], placed[3][:w], placed[3][:y]], [boxes[3][:x], 100, boxes[3][:y] + 7],
                  "the group's size wins, the item's other layout options stay"
    assert.equal! placed.map { |r| r[:y] }.uniq.length, 2

    listed = layout.rect_group(group: [{ text: "a" }, { text: "b", layout: { w: 3 } }], row_from_bottom: 0, col: 1, drow: -1)
    assert.equal! listed[0][:y], layout.row(11)
    assert.equal! listed[1][:y], layout.row(10)
    assert.equal! [listed[0][:w], listed[1][:w]], [0, 152], "without a group size, the item's own"
    centred = layout.rect_group(group: [{ text: "x" }], col_offset: { count: 2, w: 4 }, row: 0, w: 4)
    assert.equal! centred[0][:x], layout.rect(col: 8, w: 4)[:x]

    opts = { row: 1, col: 2, col_anchor: 0.5, row_anchor: 0.5 }
    point = layout.point(opts)
    assert.equal! [point[:x], point[:y]], [146.0, 594.0]
    assert.equal! opts.values_at(:w, :h), [1, 1], "the caller's options are filled in"
    assert.equal! layout_test_box(layout.point), [18, 622, 48, 48]

    centre = layout.rect_center({ w: 100, h: 50 }, { x: 10, y: 20, w: 40, h: 30 })
    assert.equal! centre, { x: -20.0, y: 10.0, w: 100, h: 50 }
    cell = layout.rect(row: 3, col: 3)
    box = layout.rect_center({ w: 20, h: 10 }, cell)
    assert.equal! [box[:x] + box[:w] / 2.0, box[:y] + box[:h] / 2.0], [cell[:center_x], cell[:center_y]]
  end
end

def test_layout_font_sizes args, assert
  layout = $orb.args.layout
  assert.true! (layout.font_size_cell - 36.0).abs < 0.001, layout.font_size_cell.to_s
  assert.equal! layout.font_size_xl, layout.font_size_cell
  assert.true! (layout.font_size_lg - 28.8).abs < 0.001
  assert.true! (layout.font_size_med - 25.2).abs < 0.001
  assert.equal! layout.font_size, layout.font_size_med
  assert.true! (layout.font_size_sm - 21.6).abs < 0.001
  assert.true! (layout.font_size_xs - 18.0).abs < 0.001
  assert.equal! layout.font_px_to_pt(48), 36
  assert.equal! layout.font_px_to_pt(47), 35
  assert.true! (layout.font_pt_to_px(36) - 47.999988).abs < 1e-9
  assert.equal! layout.font_relative_size_enum(0), layout.font_relative_size_enum(1)
  assert.equal! layout.font_relative_size_enum(-3), layout.font_relative_size_enum(1)
  assert.true! (layout.font_relative_size_enum(2) - layout.font_size_med / 11).abs < 1e-9
end

def test_layout_debug_primitives args, assert
  layout_test_with do |layout, grid|
    list = layout.debug_primitives
    borders = list.select { |p| p[:primitive_marker] == :border }
    assert.equal! borders.length, 12 * 24
    last = borders.find { |p| p[:id] == :row_11_col_23_border }
    assert.true! last, "a border per cell, named by row and column"
    assert.equal! last[:docs], "border for cell at row 11, col 23"
    assert.equal! layout_test_box(last), layout_test_box(layout.rect(row: 11, col: 23))
    assert.equal! borders.map { |p| p[:r] }.uniq, [0]
    cross = list.select { |p| p[:primitive_marker] == :sprite }
    assert.equal! cross.length, 2
    cross.each do |p|
      assert.equal! [p[:r], p[:g], p[:b], p[:angle]], [232, 232, 232, 45]
      assert.equal! [p[:x] + p[:w] / 2.0, p[:y] + p[:h] / 2.0], [640.0, 360.0]
    end
    assert.true! layout.debug_primitives.equal?(list), "kept while nothing changes"
    white = layout.debug_primitives(invert_colors: true)
    assert.false! white.equal?(list)
    assert.equal! white.find { |p| p[:primitive_marker] == :border }[:r], 255
    assert.true! layout.debug_primitives(invert_colors: true).equal?(white)

    grid.origin_center!
    layout_test_sync($orb)
    centred = layout.debug_primitives(invert_colors: true)
    assert.false! centred.equal?(white), "rebuilt for a new origin"
    assert.equal! centred.find { |p| p[:id] == :row_0_col_0_border }[:x], -622
    assert.equal! centred.select { |p| p[:primitive_marker] == :sprite }.map { |p| p[:x] + p[:w] / 2.0 }, [0.0, 0.0]
  end
end

def test_layout_reset_and_orientation_changed args, assert
  layout_test_with do |layout, _grid|
    layout.gutter = 10
    layout.cell_size = 20
    layout.reset
    assert.equal! [layout.gutter, layout.cell_size, layout.col_count], [4, 48, 24]
    layout.orientation = :portrait
    layout.orientation_changed!
    assert.equal! [layout.orientation, layout.col_count, layout.w], [:landscape, 24, 1280], "taken from the grid"
  end
end
