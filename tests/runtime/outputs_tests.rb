# Tests of the output collections, passes and render targets, run inside a
# game with `moonforge <game> --test tests/runtime/outputs_tests.rb`. Ticks
# go through the runtime's own before/after steps around the game's tick.

# Yields the elements it was made with, like a game's own collection class.
class OutputsTestBag
  include Enumerable

  def initialize(*items)
    @items = items
  end

  def each(&block)
    @items.each(&block)
    self
  end
end

class OutputsTestBox
  attr_accessor :x, :y, :w, :h

  def primitive_marker
    :solid
  end
end

class OutputsTestPlain
end

def outputs_test_error
  yield
  nil
rescue Exception => e
  e
end

# One runtime step without the game's tick: what the game pushes in the
# block is what the engine's outputs walker would read afterwards.
def outputs_test_tick(args)
  orb = args.orb
  orb.tick_orb_engine_before(false)
  yield if block_given?
  orb.tick_orb_engine_after(false)
end

def test_pushes_into_typed_collections args, assert
  sprites = args.outputs.sprites
  count = $perf_counter_outputs_push_count
  assert.true! (sprites << nil).equal?(sprites)
  sprites << false
  sprites.push(nil, false)
  assert.equal! sprites.length, 0
  assert.equal! $perf_counter_outputs_push_count, count + 4
  sprites << [{ x: 1, path: "a.png" }, { x: 2, path: "b.png" }, { x: 3, path: "c.png" }]
  assert.equal! sprites.map { |s| s[:x] }, [1, 2, 3]
  sprites.clear
  primitive = [10, 20, 30, 40, "p.png"]
  sprites << primitive
  assert.equal! sprites.length, 1
  assert.true! sprites[0].equal?(primitive)
  assert.equal! [primitive.path, primitive.x, primitive.w, primitive.primitive_marker], ["p.png", 10, 30, :sprite]
  sprites.clear
  sprites << [[0, 0, 1, 1, "a.png"], [2, 2, 1, 1, "b.png"]]
  sprites << OutputsTestBag.new({ x: 5, path: "c.png" }, { x: 6, path: "d.png" })
  assert.equal! sprites.length, 4
  assert.equal! sprites.map { |s| s.path }, ["a.png", "b.png", "c.png", "d.png"]
  assert.equal! sprites[1].primitive_marker, :sprite
end

def test_each_typed_collection_marks_its_kind args, assert
  outputs = args.outputs
  cases = [
    [outputs.solids, :solid], [outputs.borders, :border], [outputs.sprites, :sprite],
    [outputs.labels, :label], [outputs.lines, :line],
    [outputs.static_solids, :solid], [outputs.static_sprites, :sprite], [outputs.static_lines, :line]
  ]
  cases.each do |collection, marker|
    array = [1, 2, 3, 4, 5]
    collection << array
    assert.equal! array.primitive_marker, marker, collection.class.to_s
  end
  # A primitive already resolved keeps its kind in another collection.
  sprite = [1, 2, 3, 4, "p.png"].sprite
  outputs.solids << sprite
  assert.equal! sprite.primitive_marker, :sprite
  error = outputs_test_error { outputs.sprites << OutputsTestPlain.new }
  assert.true! error.is_a?(TypeError) && error.message.start_with?("~OutputsTestPlain~ does not look like a rendering primitive.")
end

def test_generic_collections_take_only_marked_objects args, assert
  outputs = args.outputs
  box = OutputsTestBox.new
  outputs << { x: 0, y: 0, w: 1, h: 1, primitive_marker: :solid }
  outputs.primitives << box
  outputs.primitives << [1, 2, 3, 4].solid
  outputs.debug << [[1, 2, 3, 4].border, { x: 0, y: 0, text: "hi" }]
  outputs.reserved << [0, 0, 10, 10].line
  assert.equal! [outputs.primitives.length, outputs.debug.length, outputs.reserved.length], [3, 2, 1]
  assert.true! outputs.primitives[1].equal?(box)
  cases = [
    [{ x: 0, y: 0, w: 1, h: 1 }, "* ERROR: An object of class ~Hash~ cannot be added"],
    [OutputsTestPlain.new, "* ERROR: An object of class ~OutputsTestPlain~ cannot be added"],
    [[{ x: 0, y: 0, text: "ok" }, { x: 0, y: 0 }], "* ERROR: An object of class ~Hash~ cannot be added"],
    [[1, 2, 3, 4], "* ERROR:\nCannot add [1, 2, 3, 4] to outputs.(primitives|debug|reserved).\n"],
    [[:solid, 1, 2, 3, 4], "* ERROR:\nCannot add [:solid, 1, 2, 3, 4] to outputs.(primitives|debug|reserved).\n\n" \
                           "The symbol marker has been deprecated."]
  ]
  [outputs.primitives, outputs.static_debug].each do |collection|
    cases.each do |value, start|
      error = outputs_test_error { collection << value }
      message = error ? error.message : "(no error)"
      assert.true! message.start_with?(start), "#{collection.class} << #{value}: #{message}"
    end
  end
ensure
  $orb.console.current_input_str = ""
end

def test_reserved_render_target_names args, assert
  ["pixel", :solid].each do |name|
    [-> { args.outputs[name] }, -> { args.render_target(name) }, -> { args.outputs.render_target(name) }].each do |ask|
      error = outputs_test_error { ask.call }
      assert.equal! error && error.message,
                    "* ERROR: Unable to create render target with name ~#{name}~.\n" \
                    "The render target name ~#{name}~ is reserved/used by Moonforge.\n" \
                    "Please use another name for your render target.\n"
    end
  end
  assert.true! args.passes.empty?
end

def test_render_targets_become_passes_and_keep_their_size args, assert
  Kernel.global_tick_count = 0
  outputs_test_tick(args) do
    target = args.outputs[:minimap]
    target.w = 200
    target.h = 100
    target.sprites << { x: 0, y: 0, w: 10, h: 10, path: "a.png" }
    args.outputs[:empty]
    assert.true! args.render_target("minimap").equal?(target)
    assert.equal! [target.transient, target.target, target.background_color], [true, "minimap", [255, 255, 255, 0]]
  end
  assert.equal! args.passes.map { |p| p.target }, ["minimap", "empty", nil]
  assert.equal! args.passes.last.width, args.orb.logical_width
  first = args.passes[0]
  outputs_test_tick(args) do
    assert.true! args.passes.empty?
    again = args.outputs[:minimap]
    assert.false! again.equal?(first)
    assert.equal! [again.w, again.h, again.sprites.length], [200, 100, 0]
  end
  assert.equal! args.passes.map { |p| [p.target, p.width, p.height] },
                [["minimap", 200, 100], [nil, args.orb.logical_width, args.orb.logical_height]]
end

def test_static_collections_live_across_ticks args, assert
  outputs = args.outputs
  outputs_test_tick(args) do
    outputs.sprites << { x: 0, y: 0, path: "a.png" }
    outputs.primitives << { x: 0, y: 0, path: "a.png" }
    outputs.static_sprites << { x: 0, y: 0, path: "a.png" }
    outputs.static_primitives << { x: 0, y: 0, path: "a.png" }
    outputs.background_color = [1, 2, 3]
  end
  outputs_test_tick(args) do
    assert.equal! [outputs.sprites.length, outputs.primitives.length], [0, 0]
    assert.equal! [outputs.static_sprites.length, outputs.static_primitives.length], [1, 1]
    assert.equal! outputs.background_color_hash, { r: 230, g: 230, b: 230, a: 255 }
  end
  # A frame held by slow motion keeps what was drawn.
  outputs.sprites << { x: 0, y: 0, path: "held.png" }
  args.orb.clear_draw_passes(true)
  assert.equal! outputs.sprites.length, 1
  outputs.clear
  assert.equal! [outputs.sprites.length, outputs.static_sprites.length, outputs.static_primitives.length], [0, 0, 0]
  outputs.static_solids << { x: 0, y: 0, w: 1, h: 1 }
  outputs.a11y_notification_queue << "hello"
  outputs.reset
  assert.equal! [outputs.static_solids.length, outputs.a11y_notification_queue.length], [0, 0]
end

def test_background_color args, assert
  outputs = args.outputs
  Kernel.global_tick_count = 0
  assert.equal! outputs.background_color, [230, 230, 230, 255]
  cases = [
    [[1, 2, 3], [1, 2, 3, 255]],
    [[1, 2, 3, 4], [1, 2, 3, 4]],
    [{ r: 5, g: 6, b: 7 }, [5, 6, 7, 255]],
    [{ r: 5, g: 6, b: 7, a: 8 }, [5, 6, 7, 8]],
    [[9, nil, 10, 11], [9, 10, 11, 255]]
  ]
  cases.each do |value, expected|
    outputs.background_color = value
    assert.equal! outputs.background_color, expected, value.to_s
  end
  target = args.outputs[:rt]
  [[outputs, "~args.outputs.background_color~"], [target, "~args.outputs[:rt].background_color~"]].each do |pass, setter|
    [[1, 2], [1, 2, 3, 4, 5], 7, ["a", "b", "c"]].each do |bad|
      error = outputs_test_error { pass.background_color = bad }
      message = error ? error.message : ""
      assert.true! message.start_with?("* ERROR: Failed to set background_color for Output.\n"), message
      assert.true! message.include?(setter) && message.include?(bad.class.to_s), message
      assert.true! message.include?("It must be an Array with three or four values"), message
    end
  end
  Kernel.global_tick_count = -1
  assert.equal! outputs.background_color, [0, 0, 0]
  Kernel.global_tick_count = 0
  outputs.clear_non_static
  assert.equal! outputs.background_color, [230, 230, 230, 255]
end

def test_sound_parse args, assert
  sound = ORB::Sound.new("a.wav", 0.5)
  cases = [
    ["boom.wav", ["boom.wav", 1.0]],
    [{ path: "blip.wav", gain: 0.25 }, ["blip.wav", 0.25]],
    [{ input: "in.ogg", path: "path.ogg" }, ["in.ogg", 1.0]],
    [sound, ["a.wav", 0.5]]
  ]
  cases.each do |value, expected|
    parsed = ORB::Sound.parse(value)
    assert.equal! [parsed.path, parsed.gain], expected, value.to_s
  end
  assert.true! ORB::Sound.parse(sound).equal?(sound)
  assert.nil! ORB::Sound.parse(nil)
  error = outputs_test_error { ORB::Sound.parse(42) }
  assert.equal! error && error.message, "* ERROR: I don't know how to parse 42 into a ORB::Sound."
end

def test_pixel_arrays_are_named_per_tick args, assert
  array = args.pixel_array(:screen)
  assert.true! args.pixel_array("screen").equal?(array)
  assert.equal! [array.width, array.height, array.pixels], [0, 0, []]
  outputs_test_tick(args)
  assert.true! args.pixel_arrays.empty?
end
