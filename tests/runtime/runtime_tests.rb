# Tests of the runtime library's services, run inside a game with
# `moonforge <game> --test tests/runtime/runtime_tests.rb`. Where a rule
# lives behind a native binding, the binding object of the runtime is
# swapped for a small recorder for the duration of one test.

# Records every call made on it; answers nil.
class RuntimeTestRecorder
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

# A log binding that keeps the entries instead of writing them.
class RuntimeTestLogCapture
  attr_reader :entries

  def initialize
    @entries = []
  end

  def log(subsystem, level, text)
    @entries << [subsystem, level, text]
    nil
  end

  def texts
    @entries.map { |e| e[2] }
  end
end

# A file binding with fixed directory answers and file contents.
class RuntimeTestFakeFile
  attr_reader :listed, :deleted

  def initialize(game_dir:, base_dir:, files: {})
    @game_dir = game_dir
    @base_dir = base_dir
    @files = files
    @listed = []
    @deleted = []
  end

  def get_game_dir
    @game_dir
  end

  def get_base_dir
    @base_dir
  end

  def read(path)
    @files[path]
  end

  def stat(path)
    @files.key?(path) ? { path: path, file_type: :regular } : nil
  end

  def list(dir)
    @listed << dir
    []
  end

  def delete(path)
    @deleted << path
    nil
  end
end

# A file binding whose every read and write raises.
class RuntimeTestFailingFile
  def read(_path)
    raise "disk on fire"
  end

  def write(_path, _text)
    raise "disk on fire"
  end

  def append(_path, _text)
    raise "disk on fire"
  end
end

def runtime_test_swap(ivar, replacement)
  saved = $orb.instance_variable_get(ivar)
  $orb.instance_variable_set(ivar, replacement)
  yield replacement
ensure
  $orb.instance_variable_set(ivar, saved)
end

def test_cli_argument_parsing args, assert
  orb = args.orb
  [
    ["./moonforge mygame --window_scale 2 ", :moonforge, "mygame"],
    ["./moonforge mygame --window_scale 2 ", :window_scale, "2"],
    ["./moonforge ", :moonforge, "mygame"],
    ["./moonforge ./ ", :moonforge, ""],
    ["/opt/moonforge/moonforge game --set renderer.vsync false ", :set, "renderer.vsync false"],
    ["./moonforge mygame --eval a.rb --no-tick ", :eval, "a.rb"],
    ["./moonforge mygame --window-position-x 10 ", :window_position_x, "10"],
    ["./moonforge mygame --no-tick ", :no_tick, :default_value],
    ["./moonforge mygame ", :missing, :default_value]
  ].each do |argv, name, expected|
    assert.equal! orb.parse_cli_argument(argv, name, :default_value), expected, "#{argv.inspect} #{name}"
  end
  assert.equal! orb.argv_window_scale("./moonforge mygame --window_scale 2 "), 2.0
  assert.equal! orb.argv_window_scale("./moonforge mygame "), 1.0
  assert.equal! orb.argv_window_position_x("./moonforge mygame --window_position_x 30 "), 30
  assert.equal! orb.argv_window_position_y("./moonforge mygame "), -1
  assert.equal! orb.parse_cli_argument_i("./moonforge mygame --speed 3 ", :speed), 3
end

def test_cli_arguments_of_this_run args, assert
  parsed = args.orb.cli_arguments
  assert.true! parsed.equal?(args.orb.cli_arguments), "cli_arguments is computed once"
  assert.equal! parsed[:test], "tests/runtime/runtime_tests.rb"
  assert.true! parsed[:moonforge].is_a?(String)
end

def test_on_tick_count_rules args, assert
  orb = args.orb
  callbacks = orb.scheduled_callbacks
  saved_callbacks = callbacks.dup
  saved_tick = Kernel.tick_count
  callbacks.clear
  capture = RuntimeTestLogCapture.new
  runtime_test_swap(:@ffi_misc, capture) do
    Kernel.tick_count = 10
    assert.nil! orb.on_tick_count(10) { raise "must not run" }
    assert.nil! orb.on_tick_count(3) { raise "must not run" }
    assert.equal! callbacks, {}
    assert.true! capture.texts[0].start_with?("* INFO - ~on_tick_count~ has been ignored.\n" \
                                               "You invoked ~on_tick_count~ with 10 which has already passed (Kernel.tick_count: 10).\n" \
                                               "** Backtrace\n")

    ran = []
    orb.on_tick_count(11) { |a| ran << [:with_args, a.equal?(args)] }
    orb.schedule_callback(11) { ran << :without_args }
    orb.schedule_callback(12) { ran << :later }
    assert.equal! callbacks[11].length, 2

    Kernel.tick_count = 11
    orb.__run_scheduled_callbacks__
    assert.equal! ran, [[:with_args, true], :without_args]
    assert.equal! callbacks.keys, [12]
  end
ensure
  Kernel.tick_count = saved_tick
  callbacks.clear
  callbacks.merge!(saved_callbacks)
end

def test_log_level_rules args, assert
  orb = args.orb
  capture = RuntimeTestLogCapture.new
  runtime_test_swap(:@ffi_misc, capture) do
    assert.equal! orb.log_level, :on
    assert.equal! orb.log_levels, [:on, :off]

    orb.log_level = :off
    assert.equal! orb.log_level, :off
    assert.equal! capture.texts, ["* IMPORTANT: Log level has been changed to: [off] from [on]."]

    orb.log "shown: no sender"
    orb.log "hidden: Log sender while off", ORB::Log
    orb.log_level = :off
    orb.log_level = :of
    assert.equal! orb.log_level, :on, "a level outside the list stores :on"
    orb.log "shown: Log sender while on", ORB::Log
    orb.log "hidden: other sender", Object
    assert.equal! capture.texts, ["* IMPORTANT: Log level has been changed to: [off] from [on].",
                                  "shown: no sender", "shown: Log sender while on"]
  end
ensure
  orb.instance_variable_set(:@log_level, :on)
end

def test_log_levels_and_text_cleanup args, assert
  orb = args.orb
  capture = RuntimeTestLogCapture.new
  runtime_test_swap(:@ffi_misc, capture) do
    orb.log_spam "s"
    orb.log_debug "d", "Engine"
    orb.log_info "a\0b"
    orb.log_warn :w
    orb.log_error 42
    orb.log_unfiltered "u"
  end
  assert.equal! capture.entries, [[nil, 0, "s"], ["Engine", 1, "d"], [nil, 2, "ab"],
                                  [nil, 3, "w"], [nil, 4, "42"], [nil, 2147483646, "u"]]
end

def test_puts_print_p_write_through_the_log args, assert
  capture = RuntimeTestLogCapture.new
  result = nil
  runtime_test_swap(:@ffi_misc, capture) do
    puts "a", ["b", nil]
    print "x", 1, "\n"
    result = p(:sym)
  end
  assert.equal! capture.entries, [[nil, 2, "a\nb\n"], [nil, 2, "x1"], [nil, 2, ":sym"]]
  assert.equal! result, :sym
end

def test_file_services_over_the_game_dir args, assert
  orb = args.orb
  dir = "tmp_runtime_tests"
  path = "#{dir}/notes.txt"
  assert.true! orb.write_file(path, "hello")
  assert.true! orb.append_file(path, " world")
  assert.equal! orb.read_file(path), "hello world"
  stat = orb.stat_file(path)
  assert.equal! stat[:file_size], 11
  assert.equal! stat[:file_type], :regular
  assert.true! orb.list_files(dir).include?("notes.txt"), orb.list_files(dir).inspect
  orb.delete_file(path)
  assert.nil! orb.stat_file(path)
  assert.nil! orb.read_file(path)
  assert.nil! orb.delete_file(path), "deleting a missing file answers nil"
  assert.nil! orb.read_file("tmp_runtime_tests/never_written.txt")
end

def test_file_errors_are_wrapped args, assert
  orb = args.orb
  messages = []
  runtime_test_swap(:@ffi_file, RuntimeTestFailingFile.new) do
    [[:read_file, ["a.txt"]], [:write_file, ["a.txt", "x"]], [:append_file, ["a.txt", "x"]]].each do |name, call_args|
      begin
        orb.__send__(name, *call_args)
      rescue => e
        messages << e.message
      end
    end
  end
  assert.equal! messages, ["* ERROR:\n~$orb.read_file~ for a.txt failed.\ndisk on fire\n",
                           "* ERROR:\n~$orb.write_file~ for a.txt failed.\ndisk on fire\n",
                           "* ERROR:\n~$orb.append_file~ for a.txt failed.\ndisk on fire\n"]
end

def test_relative_game_dir_and_joined_paths args, assert
  orb = args.orb
  [
    ["/home/dev/engine/mygame", "/home/dev/engine/", "mygame"],
    ["/home/dev/engine//mygame ", "/home/dev/engine/", "mygame"],
    ["./mygame", "", "mygame"],
    ["/data/prefs/", "/data/prefs/", ""]
  ].each do |game_dir, base_dir, expected|
    runtime_test_swap(:@ffi_file, RuntimeTestFakeFile.new(game_dir: game_dir, base_dir: base_dir)) do
      assert.equal! orb.get_relative_game_dir, expected, game_dir
    end
  end

  fake = RuntimeTestFakeFile.new(game_dir: "/e/mygame", base_dir: "/e/", files: { "save.txt" => "x" })
  runtime_test_swap(:@ffi_file, fake) do
    orb.list_files("tests")
    assert.equal! orb.delete_file("save.txt"), nil
    assert.nil! orb.delete_file("missing.txt")
  end
  assert.equal! fake.listed, ["mygame/tests"]
  assert.equal! fake.deleted, ["mygame/save.txt"]
end

def test_get_game_id args, assert
  orb = args.orb
  [
    ["gameid=mygame\ngametitle=My Game\n", "mygame"],
    ["devid=me\ngameid= spaced out \n", "spaced out"],
    ["gametitle=Nothing\n", "hello-SDL"],
    ["gameid=\n", ""],
    [nil, "hello-SDL"]
  ].each do |text, expected|
    files = text ? { "metadata/game_metadata.txt" => text } : {}
    runtime_test_swap(:@ffi_file, RuntimeTestFakeFile.new(game_dir: "", base_dir: "", files: files)) do
      assert.equal! orb.get_game_id, expected, text.inspect
    end
  end
end

def test_set_rng_is_deterministic args, assert
  orb = args.orb
  orb.set_rng 1234
  first = [rand, rand(1000), [1, 2, 3, 4, 5].shuffle]
  orb.set_rng 1234
  second = [rand, rand(1000), [1, 2, 3, 4, 5].shuffle]
  assert.equal! first, second
  assert.equal! orb.seed, 1234
end

$runtime_test_game_division = 7 / 2

def test_division_and_idiv args, assert
  assert.equal! $runtime_test_game_division, 3.5, "division in game code loaded by the engine"
  assert.equal! 7 / 2, 3.5
  assert.true! (0 / 0).nan?
  assert.equal! 1 / 0, Float::INFINITY
  FFI::MRB.new.eval("$runtime_test_eval_division = 7 / 2")
  assert.equal! $runtime_test_eval_division, 3.5, "division in MRB.eval"
  assert.equal! args.grid.w_half, 640
  assert.equal! args.grid.w_half.class, Float, "division in the runtime's bytecode"
  assert.equal! 7.idiv(2), 3
  assert.equal! (-7).idiv(2), -4
  assert.equal! 7.5.idiv(2), 3
  assert.equal! 7.idiv(2).class, Integer
end

def test_tick_counters args, assert
  assert.true! Kernel.tick_count.is_a?(Integer)
  assert.true! Kernel.global_tick_count >= Kernel.tick_count
  assert.equal! args.orb.__tick_count__, Kernel.tick_count
  assert.equal! args.orb.__global_tick_count__, Kernel.global_tick_count
  assert.equal! args.tick_count, Kernel.tick_count
end

def test_top_level_names_and_globals args, assert
  assert.equal! ORB_VERSION, "6.24"
  assert.true! ORBRuntime.equal?(ORB::Runtime)
  assert.true! ORBCvar.equal?(ORB::Cvar)
  assert.true! ORBTopLevelOutputs.equal?(ORB::TopLevelOutputs)
  assert.true! Grid.equal?(ORB::Grid) && Layout.equal?(ORB::Layout)
  assert.true! Geometry.equal?(ORB::Geometry) && Easing.equal?(ORB::Easing)
  assert.true! $orb.equal?($runtime)
  assert.true! $top_level.respond_to?(:tick)
  assert.true! $orb.ffi_draw.is_a?(FFI::Draw)
  assert.true! $cvars.is_a?(Hash)
  assert.true! args.outputs.is_a?(ORB::TopLevelOutputs)
  assert.true! args.audio.is_a?(AudioHash)
  assert.equal! args.inputs.controllers.length, 4
  assert.false! args.orb.production?
  assert.false! args.orb.is_vr
end

def test_runtime_class_tree args, assert
  names = %w[
    ORB::Runtime ORB::Runtime::CBridge ORB::Runtime::Hotload ORB::Runtime::Framerate ORB::Runtime::Draw
    ORB::Runtime::DrawVR ORB::Runtime::AsyncRequire ORB::Runtime::Autocomplete
    ORB::Runtime::SaveStateLoadState ORB::Runtime::Notify ORB::Runtime::ProcessARGSV
    ORB::Runtime::AutoTest ORB::Runtime::Deprecated ORB::Runtime::DeveloperSupport
    ORB::Runtime::Window ORB::Runtime::Platform ORB::Runtime::Require ORB::Runtime::A11y
    ORB::Runtime::HTTPRequest ORB::Runtime::HTTPCallbacks ORB::Runtime::LoadError ORB::Runtime::Messages
    ORB::Args AudioHash ORB::Outputs ORB::TopLevelOutputs ORB::RenderTargetOutputs ORB::OutputsArray
    ORB::SolidsOutputsArray ORB::SpritesOutputsArray ORB::LabelsOutputsArray ORB::LinesOutputsArray
    ORB::BordersOutputsArray ORB::StaticSolidsOutputsArray ORB::StaticSpritesOutputsArray
    ORB::StaticLabelsOutputsArray ORB::StaticLinesOutputsArray ORB::StaticBordersOutputsArray
    ORB::ReservedOutputsArray ORB::DebugOutputsArray ORB::GenericOutputsArray ORB::Sound
    ORB::Inputs ORB::Keyboard ORB::KeyboardKeys ORB::Mouse ORB::MouseButton ORB::MousePoint
    ORB::FingerTouch ORB::Controller ORB::Controller::Keys ORB::Controller::Config ORB::Grid ORB::Layout
    ORB::Geometry ORB::Easing ORB::Fn ORB::Entity ORB::StrictEntity ORB::OpenEntity ORB::Serialize
    ORB::Primitive ORB::Primitive::Sprite ORB::Primitive::Label ORB::Primitive::Solid ORB::Primitive::Border
    ORB::Primitive::Line ORB::Primitive::Triangle ORB::Primitive::Point ORB::Primitive::Rect
    ORB::Primitive::Color ORB::Primitive::ConversionCapabilities AttrORB AttrSprite AttrLabel AttrRect
    AttrLine ORB::Console ORB::Console::Prompt ORB::Console::Menu ORB::Console::Color
    ORB::Console::FontStyle ORB::ConsoleEvaluator ORB::Log ORB::Cvar ORB::Cvars ORB::Recording
    ORB::Replay ORB::Tests ORB::Assert ORB::Api ORB::RemoteHotloadClient ORB::RemoteHotloadClientWrapper
    ORB::Backup ORB::Benchmark ORB::TextureAtlas ORB::A11yEmulation ORB::PixelArray ORB::Help
    ORB::Wizards FFI::Draw Cvars
  ]
  missing = names.reject do |name|
    scope = Object
    name.split("::").all? do |part|
      found = scope.const_defined?(part, false) || (scope.equal?(Object) && scope.const_defined?(part))
      scope = scope.const_get(part) if found
      found
    end
  end
  assert.equal! missing, []
  [ORB::Runtime::CBridge, ORB::Runtime::AutoTest, ORB::Runtime::ProcessARGSV].each do |mod|
    assert.true! ORB::Runtime.include?(mod), mod.to_s
  end
end

def test_cvar_mirror_and_register_cvar args, assert
  assert.true! args.orb.register_cvar("runtime_tests.flag", "a flag for the runtime tests", :bool, true)
  cvar = $cvars["runtime_tests.flag"]
  assert.true! cvar.is_a?(ORB::Cvar)
  assert.equal! cvar.type_name, "bool"
  assert.equal! cvar.value, true
  assert.equal! args.cvars["runtime_tests.flag"].value, true
  assert.true! $cvars.key?("game_metadata.gameid")
end

def test_reboot_is_ignored_in_production_and_before_the_first_step args, assert
  orb = args.orb
  saved_global = Kernel.global_tick_count
  orb.instance_variable_set(:@production, true)
  orb.reboot
  assert.false! orb.reboot_requested
  orb.instance_variable_set(:@production, false)
  Kernel.global_tick_count = -1
  orb.reboot
  assert.false! orb.reboot_requested
ensure
  orb.instance_variable_set(:@production, false)
  Kernel.global_tick_count = saved_global
end

def test_pause_and_unpause args, assert
  orb = args.orb
  orb.pause!
  assert.true! orb.paused?
  orb.unpause!
  assert.false! orb.paused?
end

def test_window_and_cursor_commands_are_deduplicated args, assert
  orb = args.orb
  saved = [:@window_fullscreen, :@mouse_grab, :@cursor_shown].map { |iv| orb.instance_variable_get(iv) }
  runtime_test_swap(:@ffi_draw, RuntimeTestRecorder.new) do |draw|
    orb.instance_variable_set(:@window_fullscreen, false)
    orb.instance_variable_set(:@mouse_grab, 1)
    orb.set_window_fullscreen(true)
    orb.set_window_fullscreen(true)
    assert.equal! draw.calls, [[:toggle_fullscreen, true], [:set_mouse_grab, 0], [:set_mouse_grab, 1]]
    assert.true! orb.window_fullscreen?

    draw.calls.clear
    orb.set_mouse_grab(1)
    orb.set_mouse_grab(2)
    assert.equal! draw.calls, [[:set_mouse_grab, 2]]

    draw.calls.clear
    orb.instance_variable_set(:@cursor_shown, true)
    orb.show_cursor
    orb.console.show
    orb.hide_cursor
    assert.true! orb.cursor_shown?, "the console keeps the cursor shown"
    orb.console.hide
    orb.hide_cursor
    orb.hide_cursor
    assert.false! orb.cursor_shown?
    assert.equal! draw.calls, [[:toggle_cursor, true], [:toggle_cursor, false]]

    draw.calls.clear
    orb.set_window_title(nil)
    orb.set_system_cursor(:hand)
    assert.equal! draw.calls, [[:set_window_title, ""], [:set_system_cursor, "hand"]]
  end
ensure
  [:@window_fullscreen, :@mouse_grab, :@cursor_shown].each_with_index { |iv, i| orb.instance_variable_set(iv, saved[i]) }
  orb.console.hide
end

def test_grid_origins_and_transforms args, assert
  grid = args.grid
  runtime_test_swap(:@ffi_draw, RuntimeTestRecorder.new) do |draw|
    assert.equal! [grid.untransform_x(100), grid.untransform_y(20)], [100, 700]
    grid.origin_center!
    grid.origin_center!
    assert.equal! [grid.untransform_x(640), grid.untransform_y(360)], [0, 0]
    assert.equal! [grid.left, grid.right, grid.bottom, grid.top], [-640, 640, -360, 360]
    grid.origin_bottom_left!
    assert.equal! draw.calls, [[:set_grid, 640.0, 360.0, -1.0], [:set_grid, 0.0, 720.0, -1.0]]
    assert.equal! [grid.left, grid.right, grid.bottom, grid.top], [0, 1280, 0, 720]
  end
end

def test_grid_follows_window_size_changes args, assert
  orb = args.orb
  grid = args.grid
  orb.windowevent_size_changed(1280, 720, 2560, 1440, 2560, 1440, 0, 0, 2.0, 200, 2.0, 1.0)
  assert.equal! [grid.w_px, grid.h_px, grid.allscreen_w, grid.allscreen_h], [2560, 1440, 1280, 720]
  assert.equal! grid.texture_scale, 2.0
  assert.true! args.events[:resize_occurred]
  assert.false! args.events[:orientation_changed]
end

def test_layout_rects args, assert
  layout = args.layout
  first = layout.rect(row: 0, col: 0)
  assert.equal! [first[:x], first[:y], first[:w], first[:h]], [18, 622, 48, 48]
  last = layout.rect(row: 11, col: 23)
  assert.equal! [last[:x], last[:y]], [1214, 50]
  assert.equal! layout.rect(row: 0, col: [2, 0])[:w], layout.rect(row: 0, col: 2, w: 22)[:w]
  assert.equal! layout.rect(row: 0, col: [2, -1])[:w], layout.rect(row: 0, col: 2, w: 21)[:w]
  assert.equal! layout.rect(row: 0, col: 0, origin: :bottom_left)[:y], 50
  assert.equal! layout.rect(w: 0)[:w], 0
end

def test_open_entity_state args, assert
  state = args.state
  state.score ||= 0
  state.score += 2
  assert.equal! state.score, 2
  state.player.x = 10
  assert.true! state.player.is_a?(ORB::OpenEntity)
  assert.equal! state.player.x, 10
  assert.equal! state.player.as_hash[:entity_name], :player
  assert.nil! state.never_set
  error = nil
  begin
    state[:missing][:key]
  rescue => e
    error = e
  end
  assert.true! error.message.start_with?("* ERROR: Access using ~[] (array indexor)~ on uninitialized Entities is disallowed.\n")
end

def test_outputs_collections args, assert
  outputs = args.outputs
  outputs.sprites << nil
  assert.equal! outputs.sprites.length, 0
  outputs.sprites << [{ x: 1, path: "a" }, { x: 2, path: "b" }, { x: 3, path: "c" }]
  assert.equal! outputs.sprites.length, 3
  outputs.solids << { x: 0, y: 0, w: 1, h: 1 }
  outputs.static_solids << { x: 0, y: 0, w: 1, h: 1 }
  outputs.clear_non_static
  assert.equal! [outputs.sprites.length, outputs.solids.length, outputs.static_solids.length], [0, 0, 1]
  error = nil
  begin
    args.outputs[:pixel]
  rescue => e
    error = e
  end
  assert.true! error.message.start_with?("* ERROR: Unable to create render target with name ~pixel~.\n")
  target = args.outputs[:minimap]
  assert.true! target.is_a?(ORB::RenderTargetOutputs)
  assert.true! args.render_target(:minimap).equal?(target)
  assert.true! args.passes.include?(target)
end

def test_one_time_sounds_become_audio_entries args, assert
  outputs = args.outputs
  args.passes << outputs
  outputs.sounds << "boom.wav"
  outputs.sounds << { input: "music.flac" }
  outputs.sounds << { path: "blip.wav", gain: 0.5 }
  outputs.tick
  args.orb.process_one_time_sounds
  assert.equal! outputs.sounds, []
  entries = args.audio.keys.sort.map { |k| [k.to_s.start_with?("ONE_TIME_SOUND_"), args.audio[k]] }
  assert.equal! entries.length, 2
  assert.true! entries.all? { |prefixed, _| prefixed }
  assert.equal! entries.map { |_, v| v }.sort_by { |v| v[:input] },
                [{ input: "blip.wav", gain: 0.5, playtime: 0.0 }, { input: "boom.wav", gain: 1.0, playtime: 0.0 }]
end

def test_new_sounds_are_started_silently args, assert
  orb = args.orb
  seen = []
  args.audio[:old] = { input: "old.wav", gain: 0.8 }
  args.tick_before
  args.audio[:new] = { input: "new.wav", gain: 0.5, playtime: 3.0 }
  audio = args.audio
  orb.singleton_class.send(:define_method, :update_simulation_audio_state) do
    seen << [audio[:new][:gain], audio[:new][:playtime], audio[:old][:gain]]
    nil
  end
  args.tick_after
  assert.equal! seen, [[0, 3.0, 0.8], [0.5, 0, 0.8]]
ensure
  orb.singleton_class.send(:remove_method, :update_simulation_audio_state)
end

def test_audio_volume_is_clamped args, assert
  audio = args.audio
  assert.equal! audio.volume, 1.0
  audio.volume = 2
  assert.equal! audio.volume, 1.0
  audio.volume = -1
  assert.equal! audio.volume, 0.0
  audio.volume = 0.25
  assert.equal! audio.volume, 0.25
end

def test_keyboard_key_state_moves_from_down_to_held_to_up args, assert
  orb = args.orb
  keyboard = args.inputs.keyboard
  orb.key_down_raw(97, 1)
  assert.true! keyboard.key_down.a
  assert.true! keyboard.key_down.shift
  assert.equal! keyboard.key_down.char, "A"
  assert.equal! args.inputs.last_active, :keyboard
  keyboard.tick_after
  assert.false! keyboard.key_down.a
  assert.true! keyboard.key_held.a
  assert.true! keyboard.a, "down or held"
  orb.key_up_raw(97, 0)
  assert.true! keyboard.key_up.a
  keyboard.tick_before
  assert.false! keyboard.key_held.a
  keyboard.key_down.space = 5
  assert.equal! keyboard.key_down.space!, 5
  assert.false! keyboard.key_down.space
  error = nil
  begin
    keyboard.key_down.spcae
  rescue => e
    error = e
  end
  assert.true! error.message.start_with?("There is no key on the keyboard called :spcae. Did you mean ")
end

def test_mouse_and_controller_entry_points args, assert
  orb = args.orb
  inputs = args.inputs
  orb.mouse_move(100, 20)
  assert.equal! [inputs.mouse.x, inputs.mouse.y], [100, 700]
  orb.mouse_button_pressed(1)
  assert.true! inputs.mouse.click
  assert.equal! inputs.finger_left, { x: 100, y: 700, w: 1, h: 1 }
  assert.nil! inputs.finger_right
  orb.mouse_button_up(1)
  assert.nil! inputs.finger_left
  orb.mouse_wheel(1, 1)
  orb.mouse_wheel(0, 2)
  assert.equal! inputs.mouse.wheel[:y], 3
  assert.equal! inputs.pinch_zoom, 75

  orb.controller_key_down(1, 15)
  assert.equal! inputs.controller_one.key_down.a, Kernel.tick_count + 1
  assert.equal! inputs.last_active, :controller
  orb.left_analog_x_player_2(3000)
  assert.equal! [inputs.controller_two.left_analog_x_raw, inputs.controller_two.left_analog_x_perc], [0, 0.0]
  orb.left_analog_y_player_2(-32767)
  assert.equal! [inputs.controller_two.left_analog_y_raw, inputs.controller_two.left_analog_y_perc], [32767, 1.0]
  orb.controller_one_disconnected
  assert.equal! inputs.last_active, :keyboard
ensure
  orb.left_analog_x_player_2(0)
  orb.left_analog_y_player_2(0)
end

def test_require_checks_syntax_before_queueing args, assert
  orb = args.orb
  orb.write_file("tmp_runtime_tests/broken.rb", "def broken(\n")
  orb.write_file("tmp_runtime_tests/fine.rb", "$runtime_test_fine_loaded = true\n")
  error = nil
  begin
    orb.require("tmp_runtime_tests/broken.rb")
  rescue => e
    error = e
  end
  assert.true! error.message.start_with?("** Failed to load/reload tmp_runtime_tests/broken.rb."), error.message
  assert.true! orb.paused?, "a file that does not parse pauses the game"
  orb.unpause!
  orb.console.hide
  error = nil
  begin
    orb.require("tmp_runtime_tests/absent")
  rescue => e
    error = e
  end
  assert.true! error.message.include?("tmp_runtime_tests/absent.rb"), error.message
  assert.true! orb.require("tmp_runtime_tests/fine")
  assert.false! orb.require("tmp_runtime_tests/fine.rb"), "a second require of the same file"
  assert.true! orb.required_files.include?("tmp_runtime_tests/fine.rb")
  assert.equal! orb.reload_list_history["tmp_runtime_tests/fine.rb"].last[0], :reload_queued
ensure
  orb.unpause!
  orb.console.hide
end

def test_export_writes_the_game_state args, assert
  orb = args.orb
  args.state.exported_value = 1234
  name = orb.export!("first line\nsecond line", "logs/exceptions/runtime_tests_export.txt")
  assert.equal! name, "logs/exceptions/runtime_tests_export.txt"
  text = orb.read_file("logs/exceptions/runtime_tests_export.txt")
  assert.true! text.start_with?("# first line\n# second line\n\nGame State:\n"), text[0, 80]
  assert.true! text.include?("1234")
  assert.equal! orb.read_file("logs/exceptions/current.txt"), text
end

def test_misc_services args, assert
  orb = args.orb
  uuid = orb.create_uuid
  assert.equal! uuid.length, 36
  assert.equal! orb.serialize.keys, [:argv, :platform, :required_files, :reload_list_history]
  assert.equal! orb.exec("echo runtime-tests"), "runtime-tests\n"
  assert.false! orb.take_screenshot
  orb.queue_sound("queued.wav", 0.3)
  assert.equal! orb.sound_queue.last, { input: "queued.wav", gain: 0.3 }
  orb.sound_queue.clear
end
