# Tests of the runtime's window, cursor, display and text-measurement
# services, run inside a game with
# `moonforge <game> --test tests/runtime/window_services_tests.rb`. The
# runtime's FFI::Draw is swapped for a recorder to see which commands the
# services send; its FFI::Misc is wrapped to see log lines and measurement
# calls while everything else still reaches the engine.

# Records every call made on it; answers nil.
class WindowTestDraw
  attr_reader :calls

  def initialize
    @calls = []
  end

  def method_missing(name, *args)
    @calls << [name, *args]
    nil
  end

  def respond_to_missing?(_name, _include_all = false)
    true
  end

  def names
    @calls.map { |c| c[0] }
  end
end

# Passes every call to the real binding; keeps log lines instead of
# writing them and records measurement calls.
class WindowTestMisc
  attr_reader :logged, :measured

  def initialize(real)
    @real = real
    @logged = []
    @measured = []
  end

  def log(subsystem, level, text)
    @logged << text
    nil
  end

  def calcstringbox(*args)
    @measured << args
    @real.calcstringbox(*args)
  end

  def method_missing(name, *args, &block)
    @real.send(name, *args, &block)
  end

  def respond_to_missing?(name, include_all = false)
    @real.respond_to?(name, include_all)
  end
end

# Runs the block with the runtime's instance variables set as given and
# puts the old values back afterwards.
def window_test_with(orb, values)
  saved = {}
  values.each do |ivar, value|
    saved[ivar] = orb.instance_variable_get(ivar)
    orb.instance_variable_set(ivar, value)
  end
  yield
ensure
  saved.each { |ivar, value| orb.instance_variable_set(ivar, value) }
end

def window_test_draw(orb)
  draw = WindowTestDraw.new
  window_test_with(orb, :@ffi_draw => draw) { yield draw }
end

def window_test_misc(orb)
  misc = WindowTestMisc.new(orb.ffi_misc)
  window_test_with(orb, :@ffi_misc => misc) { yield misc }
end

def window_test_platform(orb, name)
  saved = orb.platform
  orb.platform = name
  yield
ensure
  orb.platform = saved
end

def window_test_grid(grid, hd:, letterbox:)
  saved = [grid.instance_variable_get(:@hd), grid.letterbox]
  grid.instance_variable_set(:@hd, hd)
  grid.letterbox = letterbox
  yield grid
ensure
  grid.instance_variable_set(:@hd, saved[0])
  grid.letterbox = saved[1]
end

HD_NOTICE_TAIL_TEXT = "HD Mode is not enabled. Go to your game's =metadata/game_metadata.txt= file, " \
                      "make the following changes, and restart:\n".freeze

def test_fullscreen_toggles_and_reapplies_the_grab args, assert
  orb = args.orb
  window_test_with(orb, :@window_fullscreen => false, :@mouse_grab => 2) do
    window_test_draw(orb) do |draw|
      orb.toggle_window_fullscreen
      assert.true! orb.window_fullscreen?
      orb.set_window_fullscreen(:yes)
      orb.toggle_window_fullscreen
      orb.set_window_fullscreen(false)
      orb.set_window_fullscreen(nil)
      assert.false! orb.window_fullscreen?
      assert.equal! draw.calls, [[:toggle_fullscreen, true], [:set_mouse_grab, 0], [:set_mouse_grab, 2],
                                 [:toggle_fullscreen, false], [:set_mouse_grab, 0], [:set_mouse_grab, 2]]
    end
  end
end

def test_mouse_grab_only_on_change args, assert
  orb = args.orb
  window_test_with(orb, :@mouse_grab => 0, :@window_fullscreen => false) do
    window_test_draw(orb) do |draw|
      orb.set_mouse_grab(0)
      orb.set_mouse_grab(1.0)
      orb.set_mouse_grab(1)
      orb.set_mouse_grab(2)
      orb.set_mouse_grab(0)
      assert.equal! draw.calls, [[:set_mouse_grab, 1], [:set_mouse_grab, 2], [:set_mouse_grab, 0]]
      assert.equal! orb.mouse_grab, 0
      # Fullscreen re-applies the grab as an Integer.
      orb.instance_variable_set(:@mouse_grab, 1.0)
      draw.calls.clear
      orb.set_window_fullscreen(true)
      assert.equal! draw.calls.last, [:set_mouse_grab, 1]
    end
  end
end

def test_cursor_stays_while_the_console_is_visible args, assert
  orb = args.orb
  window_test_with(orb, :@cursor_shown => true) do
    window_test_draw(orb) do |draw|
      orb.console.show
      orb.hide_cursor
      orb.hide_cursor
      assert.true! orb.cursor_shown?
      assert.equal! draw.calls, [[:toggle_cursor, true], [:toggle_cursor, true]]
      orb.console.hide
      draw.calls.clear
      orb.hide_cursor
      orb.show_cursor
      orb.show_cursor
      assert.true! orb.cursor_shown?
      assert.equal! draw.calls, [[:toggle_cursor, false], [:toggle_cursor, true]]
    end
  end
ensure
  orb.console.hide
end

def test_forwarded_window_commands args, assert
  orb = args.orb
  window_test_draw(orb) do |draw|
    results = [
      orb.set_window_title("Crates"),
      orb.set_window_scale(1.5),
      orb.set_window_scale(2, 4, 3),
      orb.set_window_size(640, 360),
      orb.set_window_position(10, 20),
      orb.set_scale_quality(2),
      orb.set_system_cursor(:arrow),
      orb.set_cursor("sprites/hand.png"),
      orb.set_cursor("sprites/hand.png", 3, 4),
      orb.openurl("https://example.com"),
      orb.mailto(email: "a@b.c", subject: "Hi", body: "There")
    ]
    assert.equal! results.uniq, [nil], "window services answer nil"
    assert.equal! draw.calls, [
      [:set_window_title, "Crates"],
      [:set_window_scale, 1.5, 16, 9],
      [:set_window_scale, 2, 4, 3],
      [:set_window_size, 640, 360],
      [:set_window_position, 10, 20],
      [:set_scale_quality, 2],
      [:set_system_cursor, "arrow"],
      [:set_cursor, "sprites/hand.png", 0, 0],
      [:set_cursor, "sprites/hand.png", 3, 4],
      [:openurl, "https://example.com"],
      [:openurl, "mailto:a@b.c?subject=Hi&body=There"]
    ]
  end
end

def test_platform_and_production_restrictions args, assert
  orb = args.orb
  # [platform, maximize, move to next display, orientation toggle]
  table = [
    ["Linux", true, true, true],
    ["Windows", true, true, true],
    ["Steam Deck", false, false, false],
    ["Emscripten", true, false, false],
    ["iOS", false, false, false],
    ["Android", false, false, false]
  ]
  table.each do |name, maximizes, moves, rotates|
    window_test_with(orb, :@orientation_requested => nil) do
      window_test_platform(orb, name) do
        window_test_draw(orb) do |draw|
          orb.maximize_window
          orb.move_window_to_next_display
          orb.toggle_orientation
          expected = []
          expected << :maximize_window if maximizes
          expected << :move_window_to_next_display if moves
          expected << :toggle_orientation if rotates
          assert.equal! draw.names, expected, name
        end
      end
    end
  end

  # Mobile platforms rotate when the game allows both orientations.
  both = Object.new
  def both.value
    true
  end
  saved_cvar = $cvars["game_metadata.orientation_both"]
  begin
    $cvars["game_metadata.orientation_both"] = both
    ["iOS", "Android", "Steam Deck", "Emscripten"].each do |name|
      window_test_with(orb, :@orientation_requested => nil) do
        window_test_platform(orb, name) do
          window_test_draw(orb) do |draw|
            orb.toggle_orientation
            assert.equal! draw.names.include?(:toggle_orientation), name == "iOS" || name == "Android", name
          end
        end
      end
    end
  ensure
    $cvars["game_metadata.orientation_both"] = saved_cvar
    $cvars.delete("game_metadata.orientation_both") if saved_cvar.nil?
  end

  [[false, [:raise_window]], [true, []]].each do |production, expected|
    window_test_with(orb, :@production => production) do
      window_test_draw(orb) do |draw|
        orb.raise_window
        assert.equal! draw.names, expected, "production #{production}"
      end
    end
  end
end

def test_set_orientation_toggles_once_until_the_window_turns args, assert
  orb = args.orb
  window_test_with(orb, :@orientation => :landscape, :@orientation_requested => nil) do
    window_test_draw(orb) do |draw|
      orb.set_orientation(:landscape)
      assert.equal! draw.calls, []
      # Asked every tick while the engine has not reported the turn yet.
      orb.set_orientation(:portrait)
      orb.set_orientation("portrait")
      assert.equal! draw.names, [:toggle_orientation]
      # The size change arrives and turns the runtime's orientation.
      orb.instance_variable_set(:@orientation, :portrait)
      orb.set_orientation(:portrait)
      assert.equal! draw.names, [:toggle_orientation]
      orb.set_orientation(:landscape)
      orb.set_orientation(:landscape)
      assert.equal! draw.names, [:toggle_orientation, :toggle_orientation]
      # Changing its mind before the turn arrives toggles back.
      orb.set_orientation(:portrait)
      assert.equal! draw.names, [:toggle_orientation, :toggle_orientation, :toggle_orientation]
      orb.instance_variable_set(:@orientation, :landscape)
      orb.instance_variable_set(:@orientation, :portrait)
      orb.set_orientation(:portrait)
      assert.equal! draw.names.length, 3
    end
  end
end

def test_hd_services_outside_hd_mode_print_the_notice args, assert
  orb = args.orb
  window_test_grid(args.grid, hd: false, letterbox: true) do |grid|
    window_test_misc(orb) do |misc|
      window_test_draw(orb) do |draw|
        assert.nil! orb.set_hd_max_scale(2)
        assert.nil! orb.toggle_hd_letterbox
        orb.set_hd_letterbox(false)
        assert.equal! draw.calls, []
        assert.true! grid.letterbox
        assert.equal! misc.logged.length, 3
        assert.true! misc.logged[0].start_with?("* INFO - ~set_hd_max_scale~ ignored.\n" + HD_NOTICE_TAIL_TEXT)
        assert.true! misc.logged[1].start_with?("* INFO - ~toggle_hd_letterbox~ ignored.\n" + HD_NOTICE_TAIL_TEXT)
        assert.equal! misc.logged[2], misc.logged[1]
        settings = misc.logged[0].split("\n").map(&:strip).reject { |l| l.start_with?("#") }
        assert.equal! settings.last(3), ["hd=true", "highdpi=true", "hd_letterbox=false"]
      end
    end
  end
end

def test_hd_services_in_hd_mode args, assert
  orb = args.orb
  window_test_grid(args.grid, hd: true, letterbox: true) do |grid|
    window_test_misc(orb) do |misc|
      window_test_draw(orb) do |draw|
        orb.set_hd_max_scale(3)
        orb.toggle_hd_letterbox
        assert.false! grid.letterbox
        orb.set_hd_letterbox(false)
        orb.set_hd_letterbox(nil)
        orb.set_hd_letterbox(true)
        assert.true! grid.letterbox
        orb.toggle_hd_letterbox
        orb.toggle_hd_letterbox
        assert.true! grid.letterbox
        assert.equal! draw.calls, [[:set_hd_max_scale, 3], [:toggle_hd_letterbox], [:toggle_hd_letterbox],
                                   [:toggle_hd_letterbox], [:toggle_hd_letterbox]]
        assert.equal! misc.logged, []
      end
    end
  end
end

def test_calcstringbox_arguments_reach_the_binding args, assert
  orb = args.orb
  window_test_misc(orb) do |misc|
    orb.calcstringbox("abc")
    orb.calcstringbox(nil, 2)
    orb.calcstringbox("abc", 1, "fonts/other.ttf")
    orb.calcstringbox("abc", 1, nil)
    orb.calcstringbox("abc", 1, "fonts/other.ttf", size_enum: 4, font: "fonts/kw.ttf")
    orb.calcstringbox("abc", size_px: 22)
    orb.calcstringbox("abc", size_px: 22.5)
    orb.calcstringbox(42, size_px: 10, font: "fonts/kw.ttf")
    assert.equal! misc.measured, [
      ["abc", 0.0, "font.ttf"],
      ["", 2.0, "font.ttf"],
      ["abc", 1.0, "fonts/other.ttf"],
      ["abc", 1.0],
      ["abc", 4.0, "fonts/kw.ttf"],
      ["abc", 99.0, "font.ttf"],
      ["abc", 101.0, "font.ttf"],
      ["42", 39.0, "fonts/kw.ttf"]
    ]
  end
end

def test_calcstringbox_measures_with_the_engine_font args, assert
  orb = args.orb
  misc = orb.ffi_misc
  w, h = orb.calcstringbox("abc")
  assert.equal! [w, h], misc.calcstringbox("abc", 0.0, "font.ttf")
  assert.true! w > 0 && h > 0, "the engine's font measures"
  assert.equal! orb.calcstringbox(""), [0.0, h], "an empty text is one line high"
  assert.equal! orb.calcstringbox(nil), [0.0, h]

  # Ten times the pixel size, divided by 10 afterwards.
  native = misc.calcstringbox("abc", 99.0, "font.ttf")
  assert.equal! orb.calcstringbox("abc", size_px: 22), [native[0] / 10, native[1] / 10]
  tenth = orb.calcstringbox("abc", size_px: 22.5)
  assert.true! tenth[0] > orb.calcstringbox("abc", size_px: 22)[0], "a tenth of a pixel of size counts"

  # A font that cannot be loaded measures with the fallback font.
  assert.equal! orb.calcstringbox("abc", 0, "fonts/missing.ttf"), [w, h]

  assert.equal! orb.calcstringbox_h("abc"), { w: w, h: h }
  assert.equal! orb.calcstringbox_h("abc", size_px: 22), { w: native[0] / 10, h: native[1] / 10 }
  assert.equal! orb.calcstringbox_h(nil, 0, "fonts/missing.ttf"), { w: 0.0, h: h }
  assert.nil! orb.text_font
end
