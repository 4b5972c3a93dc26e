# Tests of ORB::Grid, run inside a game with
# `moonforge <game> --test tests/runtime/grid_tests.rb`. The renderer's
# draw binding is swapped for a recorder so that origin changes can be
# counted without reaching the window; window sizes are fed through the
# runtime's own `windowevent_size_changed`. Every test puts the grid,
# the layout and the window geometry back as it found them.

# Records set_grid calls; every other draw command is accepted and dropped.
class GridTestDraw
  attr_reader :calls

  def initialize
    @calls = []
  end

  def set_grid(x, y, direction)
    @calls << [x, y, direction]
    nil
  end

  def method_missing(_name, *_args, &_block)
    nil
  end

  def respond_to_missing?(_name, _include_private = false)
    true
  end
end

# Enough of a runtime for a grid built on its own.
class GridTestRuntime
  attr_reader :logical_width, :logical_height, :orientation, :ffi_draw

  def initialize(logical_width, logical_height, orientation)
    @logical_width = logical_width
    @logical_height = logical_height
    @orientation = orientation
    @ffi_draw = GridTestDraw.new
  end
end

GRID_TEST_SIZE_READERS = [:w, :h, :allscreen_w_pt, :allscreen_h_pt, :allscreen_w_px, :allscreen_h_px,
                          :allscreen_offset_x_px, :allscreen_offset_y_px, :native_scale,
                          :texture_scale_enum, :render_scale, :high_dpi_scale].freeze

# Runs the block with the recorder as the runtime's draw binding and
# restores origin, window geometry, orientation, layout and events after.
def grid_test_with_draw
  orb = $orb
  grid = orb.args.grid
  saved_draw = orb.instance_variable_get(:@ffi_draw)
  saved_origin = grid.origin_name
  saved_size = GRID_TEST_SIZE_READERS.map { |name| grid.__send__(name) }
  saved_events = orb.args.events.dup
  draw = GridTestDraw.new
  orb.instance_variable_set(:@ffi_draw, draw)
  yield draw, grid
ensure
  # The recorder is still in place, so the renderer never hears of the
  # detour and stays where it was.
  orb.windowevent_size_changed(*saved_size)
  saved_origin == :center ? grid.origin_center!(force: true) : grid.origin_bottom_left!(force: true)
  orb.instance_variable_set(:@ffi_draw, saved_draw)
  orb.args.events[:resize_occurred] = saved_events[:resize_occurred]
  orb.args.events[:orientation_changed] = saved_events[:orientation_changed]
  orb.args.layout.tick_after(grid.left, grid.bottom, grid.w, grid.h, grid.aspect_ratio_w,
                             grid.aspect_ratio_h, orb.orientation, grid.origin_name)
end

def grid_test_size(orb, window)
  orb.windowevent_size_changed(*window)
end

def test_grid_origin_fields args, assert
  grid_test_with_draw do |_draw, grid|
    assert.equal! grid.origin_name, :bottom_left
    expected = {
      bottom_left: { left: 0, right: 1280, bottom: 0, top: 720, x: 0, y: 0,
                     center_x: 640.0, center_y: 360.0, center: { x: 640.0, y: 360.0 },
                     origin_x: 0.0, origin_y: 720.0, rect: { x: 0, y: 0, w: 1280, h: 720 } },
      center: { left: -640, right: 640, bottom: -360, top: 360, x: -640, y: -360,
                center_x: 0.0, center_y: 0.0, center: { x: 0.0, y: 0.0, w: 0, h: 0 },
                origin_x: 640.0, origin_y: 360.0, rect: { x: -640, y: -360, w: 1280, h: 720 } }
    }
    [:center, :bottom_left].each do |mode|
      mode == :center ? grid.origin_center! : grid.origin_bottom_left!
      expected[mode].each do |name, value|
        assert.equal! grid.__send__(name), value, "#{name} in #{mode}"
      end
      assert.equal! grid.w, 1280
      assert.equal! grid.h, 720
      assert.equal! grid.w_half, 640
      assert.equal! grid.h_half, 360
    end
    assert.equal! ORB::Grid::SCREEN_Y_DIRECTION, -1.0
    assert.true! grid.landscape?
    assert.false! grid.portrait?
    assert.equal! [grid.aspect_ratio_w, grid.aspect_ratio_h], [16, 9]
    assert.equal! grid.ffi_draw, $orb.ffi_draw
  end
end

def test_grid_transforms_in_both_origins args, assert
  grid_test_with_draw do |_draw, grid|
    # [window x, window y] => [game x, game y] per origin.
    table = {
      bottom_left: [[[0, 0], [0.0, 720.0]], [[100, 20], [100.0, 700.0]], [[1280, 720], [1280.0, 0.0]],
                    [[640, 360], [640.0, 360.0]], [[-15.5, 800], [-15.5, -80.0]]],
      center: [[[0, 0], [-640.0, 360.0]], [[100, 20], [-540.0, 340.0]], [[1280, 720], [640.0, -360.0]],
               [[640, 360], [0.0, 0.0]], [[-15.5, 800], [-655.5, -440.0]]]
    }
    [:bottom_left, :center].each do |mode|
      mode == :center ? grid.origin_center! : grid.origin_bottom_left!
      table[mode].each do |(wx, wy), (gx, gy)|
        assert.equal! [grid.untransform_x(wx), grid.untransform_y(wy)], [gx, gy], "window (#{wx}, #{wy}) in #{mode}"
        assert.equal! [grid.transform_x(gx), grid.transform_y(gy)], [wx.to_f, wy.to_f], "game (#{gx}, #{gy}) in #{mode}"
        assert.equal! grid.untransform_x(grid.transform_x(wx)), wx.to_f
        assert.equal! grid.transform_y(grid.untransform_y(wy)), wy.to_f
      end
    end
  end
end

def test_grid_set_grid_once_per_origin_change args, assert
  grid_test_with_draw do |draw, grid|
    grid.origin_center!
    assert.equal! draw.calls, [[640.0, 360.0, -1.0]]
    grid.origin_center!
    assert.equal! draw.calls.length, 1, "already centred: nothing to send"
    grid.origin_center!(force: true)
    assert.equal! draw.calls.length, 2
    grid.origin_bottom_left!
    assert.equal! draw.calls.last, [0.0, 720.0, -1.0]
    assert.equal! draw.calls.length, 3
    # Bottom-left is re-sent on every call: reset and reboot rely on it.
    grid.origin_bottom_left!
    assert.equal! draw.calls.length, 4
    assert.equal! grid.origin_name, :bottom_left

    fresh = ORB::Grid.new(GridTestRuntime.new(1280, 720, :landscape))
    assert.equal! fresh.ffi_draw.calls, [], "a new grid does not call set_grid"
    assert.equal! fresh.origin_name, :bottom_left

    before = draw.calls.length
    grid_test_size($orb, [1280, 720, 1280, 720, 1280, 720, 0, 0, 1.0, 100, 1.0, 1.0])
    grid_test_size($orb, [1280, 720, 1920, 1200, 1920, 1200, 0, 60, 1.5, 150, 1.5, 1.0])
    assert.equal! draw.calls.length, before, "a resize that keeps the logical size keeps the origin"
  end
end

# Window geometry => whole-window edges. The allscreen right and top
# edges are the left and bottom edges plus the whole width and height.
def test_grid_allscreen_table args, assert
  standard = [1280, 720, 1280, 720, 1280, 720, 0, 0, 1.0, 100, 1.0, 1.0]
  letterboxed_hd = [1280, 720, 1920, 1200, 1920, 1200, 0, 60, 1.5, 150, 1.5, 1.0]
  letterboxed_2x = [1280, 720, 1280, 800, 2560, 1600, 0, 80, 2.0, 200, 2.0, 2.0]
  pillarboxed_hd = [1280, 720, 2560, 1080, 2560, 1080, 320, 0, 1.5, 150, 1.5, 1.0]
  table = [
    [standard, :bottom_left,
     { allscreen_left: 0, allscreen_bottom: 0, allscreen_right: 1280, allscreen_top: 720,
       allscreen_w: 1280, allscreen_h: 720, allscreen_offset_x: 0, allscreen_offset_y: 0,
       allscreen_left_px: 0, allscreen_bottom_px: 0, allscreen_right_px: 1280, allscreen_top_px: 720,
       w_px: 1280, h_px: 720, right_px: 1280, top_px: 720, allscreen_w_pt: 1280, allscreen_h_pt: 720 }],
    [letterboxed_hd, :bottom_left,
     { allscreen_left: 0, allscreen_bottom: -40, allscreen_right: 1280, allscreen_top: 760,
       allscreen_w: 1280, allscreen_h: 800, allscreen_offset_x: 0, allscreen_offset_y: 40,
       allscreen_left_px: 0, allscreen_bottom_px: -60, allscreen_right_px: 1920, allscreen_top_px: 1140,
       w_px: 1920, h_px: 1080, right_px: 1920, top_px: 1080, allscreen_w_pt: 1920, allscreen_h_pt: 1200,
       allscreen_x: 0, allscreen_y: -40, render_scale: 1.5, texture_scale: 1.5, texture_scale_enum: 150,
       allscreen_rect: { x: 0, y: -40, w: 1280, h: 800 },
       allscreen_rect_px: { x: 0, y: -60, w: 1920, h: 1200 }, rect_px: { x: 0, y: 0, w: 1920, h: 1080 } }],
    [letterboxed_hd, :center,
     { left: -640, bottom: -360, right: 640, top: 360,
       allscreen_left: -640, allscreen_bottom: -400, allscreen_right: 640, allscreen_top: 400,
       allscreen_left_px: -960, allscreen_bottom_px: -600, allscreen_right_px: 960, allscreen_top_px: 600,
       left_px: -960, bottom_px: -540, right_px: 960, top_px: 540 }],
    [letterboxed_2x, :bottom_left,
     { allscreen_bottom: -40, allscreen_top: 760, allscreen_h: 800, allscreen_offset_y: 40,
       allscreen_bottom_px: -80, allscreen_top_px: 1520, allscreen_w_pt: 1280, allscreen_h_pt: 800,
       high_dpi_scale: 2.0 }],
    # 1920 logical pixels across 2560: 213.3 units each side, rounded so
    # that the whole window is covered.
    [pillarboxed_hd, :bottom_left,
     { allscreen_w: 1707, allscreen_offset_x: 213, allscreen_left: -213, allscreen_right: 1494,
       allscreen_left_px: -320, allscreen_right_px: 2240, allscreen_bottom: 0, allscreen_top: 720 }]
  ]
  grid_test_with_draw do |_draw, grid|
    table.each do |window, mode, expected|
      mode == :center ? grid.origin_center! : grid.origin_bottom_left!
      $orb.args.events[:resize_occurred] = false
      grid_test_size($orb, window)
      assert.true! $orb.args.events[:resize_occurred], "#{window} sets resize_occurred"
      assert.false! $orb.args.events[:orientation_changed], "#{window} keeps the orientation"
      expected.each do |name, value|
        assert.equal! grid.__send__(name), value, "#{name} for #{window.inspect} in #{mode}"
      end
      # Independent of the numbers above: the edges span the sizes, and a
      # centred letterbox leaves the same band above and below.
      assert.equal! grid.allscreen_right - grid.allscreen_left, grid.allscreen_w
      assert.equal! grid.allscreen_top - grid.allscreen_bottom, grid.allscreen_h
      assert.equal! grid.allscreen_right_px - grid.allscreen_left_px, grid.allscreen_w_px
      assert.equal! grid.allscreen_top_px - grid.allscreen_bottom_px, grid.allscreen_h_px
      if window[7] > 0
        assert.equal! grid.allscreen_top - grid.top, grid.bottom - grid.allscreen_bottom, "bands of #{window.inspect}"
        assert.equal! grid.allscreen_top_px - grid.top_px, grid.bottom_px - grid.allscreen_bottom_px
      end
    end
  end
end

def test_grid_nonsense_render_scale_is_one args, assert
  grid_test_with_draw do |_draw, grid|
    [0.0, -2.0, Float::INFINITY, Float::NAN].each do |scale|
      grid_test_size($orb, [1280, 720, 1280, 720, 1280, 720, 0, 0, scale, 100, scale, 1.0])
      assert.equal! grid.render_scale, 1.0, "render scale #{scale}"
      assert.equal! [grid.w_px, grid.allscreen_w, grid.allscreen_top], [1280, 1280, 720]
    end
  end
end

# Built at the logical size of its orientation, the grid takes the
# engine's first report of that same size for what it is.
def test_grid_starts_at_the_logical_size args, assert
  [[1280, 720, :landscape, [16, 9]], [720, 1280, :portrait, [9, 16]]].each do |lw, lh, orientation, ratio|
    runtime = GridTestRuntime.new(lw, lh, orientation)
    grid = ORB::Grid.new(runtime)
    assert.equal! [grid.w, grid.h, grid.right, grid.top, grid.origin_y], [lw, lh, lw, lh, lh.to_f]
    assert.equal! [grid.aspect_ratio_w, grid.aspect_ratio_h], ratio
    assert.equal! grid.portrait?, orientation == :portrait
    flipped = grid.windowevent_size_changed(lw, lh, lw, lh, lw, lh, 0, 0, 1.0, 100, 1.0, 1.0)
    assert.false! flipped, "first size report in #{orientation}"
    assert.equal! [grid.w, grid.h, grid.allscreen_w, grid.allscreen_h], [lw, lh, lw, lh]
    assert.equal! runtime.ffi_draw.calls, []
  end
end

# A report with the other logical size turns the runtime round: it swaps
# its logical size, re-sends the origin and rebuilds the layout.
def test_grid_orientation_flip args, assert
  grid_test_with_draw do |draw, grid|
    orb = $orb
    layout = orb.args.layout
    [:bottom_left, :center].each do |mode|
      mode == :center ? grid.origin_center! : grid.origin_bottom_left!
      draw.calls.clear
      grid_test_size(orb, [720, 1280, 720, 1280, 720, 1280, 0, 0, 1.0, 100, 1.0, 1.0])
      assert.true! orb.args.events[:orientation_changed]
      assert.equal! orb.orientation, :portrait
      assert.equal! [orb.logical_width, orb.logical_height], [720, 1280]
      assert.true! grid.portrait?
      assert.equal! [grid.w, grid.h, grid.aspect_ratio_w, grid.aspect_ratio_h], [720, 1280, 9, 16]
      assert.equal! grid.origin_name, mode
      origin = mode == :center ? [360.0, 640.0] : [0.0, 1280.0]
      assert.equal! [grid.origin_x, grid.origin_y], origin
      assert.equal! draw.calls, [origin + [-1.0]], "one set_grid for the flip in #{mode}"
      assert.equal! [layout.row_count, layout.col_count, layout.gutter_left, layout.w, layout.h], [24, 12, 50, 720, 1280]
      # Window (100, 20) is 100 in and 20 down from the top-left corner.
      assert.equal! [grid.untransform_x(100), grid.untransform_y(20)],
                    mode == :center ? [-260.0, 620.0] : [100.0, 1260.0]

      orb.args.events[:orientation_changed] = false
      grid_test_size(orb, [1280, 720, 1280, 720, 1280, 720, 0, 0, 1.0, 100, 1.0, 1.0])
      assert.true! orb.args.events[:orientation_changed]
      assert.equal! [orb.orientation, orb.logical_width, orb.logical_height], [:landscape, 1280, 720]
      assert.equal! [grid.w, grid.h, layout.row_count, layout.col_count], [1280, 720, 12, 24]
    end
  end
end

class GridTestSubclass < ORB::Grid
  def self.grid_test_class_level
    :from_class
  end
end

def test_grid_class_level_forwarding args, assert
  grid_test_with_draw do |draw, grid|
    assert.equal! Grid.w, grid.w
    assert.equal! Grid.rect, grid.rect
    assert.equal! Grid.untransform_y(20), 700.0
    # Keywords only, on the first call through the class: force makes an
    # already centred grid send its origin again.
    grid.origin_center!
    draw.calls.clear
    Grid.origin_center!(force: true)
    assert.equal! [grid.origin_name, draw.calls.length], [:center, 1], "force reached the grid"
    Grid.origin_bottom_left!
    assert.equal! grid.origin_name, :bottom_left

    # A name the live object learns later is forwarded and then kept.
    def grid.grid_test_late_name(n)
      n * 2
    end
    assert.false! Grid.singleton_methods.include?(:grid_test_late_name)
    assert.equal! Grid.grid_test_late_name(21), 42
    assert.true! Grid.singleton_methods.include?(:grid_test_late_name)
    assert.equal! Grid.grid_test_late_name(2), 4

    error = begin
      Grid.grid_test_unknown_name
      nil
    rescue NoMethodError => e
      e
    end
    assert.true! error, "an unknown name raises NoMethodError"
    assert.true! error.message.include?("grid_test_unknown_name"), error.message

    saved = $grid
    begin
      $grid = GridTestSubclass.new(GridTestRuntime.new(1280, 720, :landscape))
      assert.equal! Grid.grid_test_class_level, :from_class, "answered by the live object's class"
    ensure
      $grid = saved
    end
  end
ensure
  Grid.singleton_class.send(:remove_method, :grid_test_late_name) rescue nil
  Grid.singleton_class.send(:remove_method, :grid_test_class_level) rescue nil
  $grid.singleton_class.send(:remove_method, :grid_test_late_name) rescue nil
end
