# Tests of array primitives (plain Arrays standing for sprites, solids,
# labels ...), run inside a game with
# `moonforge <game> --test tests/runtime/array_primitive_tests.rb`.
# Log output is checked by swapping the runtime's log binding for a recorder.

class ArrayPrimitiveTestLog
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

# An object that claims to be a primitive but never resolves.
class ArrayPrimitiveTestPending
  def primitive_marker
    :pending
  end

  def mark_as_solid!
    self
  end
end

def array_primitive_test_log
  saved = $orb.instance_variable_get(:@ffi_misc)
  log = ArrayPrimitiveTestLog.new
  $orb.instance_variable_set(:@ffi_misc, log)
  yield log
ensure
  $orb.instance_variable_set(:@ffi_misc, saved)
end

def array_primitive_test_error
  yield
  nil
rescue Exception => e
  e
end

# Every property the runtime's drawing methods read, by collection.
ARRAY_PRIMITIVE_DRAWN_PROPERTIES = {
  sprite: [:x, :y, :w, :h, :path, :angle, :a, :r, :g, :b, :tile_x, :tile_y, :tile_w, :tile_h,
           :flip_horizontally, :flip_vertically, :angle_anchor_x, :angle_anchor_y,
           :source_x, :source_y, :source_w, :source_h, :blendmode_enum, :anchor_x, :anchor_y],
  label: [:x, :y, :text, :size_enum, :alignment_enum, :r, :g, :b, :a, :font,
          :vertical_alignment_enum, :blendmode_enum, :anchor_x, :anchor_y],
  solid: [:x, :y, :w, :h, :r, :g, :b, :a, :blendmode_enum, :anchor_x, :anchor_y],
  border: [:x, :y, :w, :h, :r, :g, :b, :a, :blendmode_enum, :anchor_x, :anchor_y],
  line: [:x, :y, :x2, :y2, :r, :g, :b, :a, :blendmode_enum]
}.freeze

def test_positions_of_every_kind args, assert
  sprite = (0..24).map { |i| i + 100 }
  sprite[4] = "sprites/a.png"
  sprite.sprite
  ORB::Primitive::Sprite::PROPERTIES.each do |name, index|
    assert.equal! sprite.__send__(name), sprite[index], "sprite #{name}"
  end
  cases = [
    # array, marking, property, expected
    [[10, 20, 30, 40, 255, 0, 0], :solid, :r, 255],
    [[10, 20, 30, 40, 255, 0, 0], :solid, :g, 0],
    [[10, 20, 30, 40, 255, 0, 0], :solid, :b, 0],
    [[10, 20, 30, 40, 255, 0, 0], :solid, :a, nil],
    [[1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11], :solid, :blendmode_enum, 9],
    [[1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11], :border, :anchor_x, 10],
    [[1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11], :border, :anchor_y, 11],
    [[1, 2, 3, 4, "p.png", 6, 7, 8], :solid, :r, 0],
    [[1, 2, 3, 4, "p.png", 6, 7, 8], :solid, :b, 0],
    [[1, 2, 3, 4, "p.png", 6, 7, 8], :solid, :a, 255],
    [[1, 2, 3, nil], :solid, :h, 0],
    [[1, 2, 3, 4], :solid, :right, 4],
    [[1, 2, 3, 4], :solid, :top, 6],
    [[1, 2, 3, 4], :solid, :x2, 4],
    [[1, 2, 3, 4], :solid, :z, 0],
    [[1, 2, 3, 4, 5, 6, 7, 8, 9], :line, :x2, 3],
    [[1, 2, 3, 4, 5, 6, 7, 8, 9], :line, :y2, 4],
    [[1, 2, 3, 4, 5, 6, 7, 8, 9], :line, :r, 5],
    [[1, 2, 3, 4, 5, 6, 7, 8, 9], :line, :a, 8],
    [[1, 2, 3, 4, 5, 6, 7, 8, 9], :line, :blendmode_enum, 9],
    [[1, 2, 3, 4, 5, 6, 7, 8, 9], :line, :w, nil],
    [[1, 2, 3, 4, 5, 6, 7, 8, 9], :line, :h, nil],
    [[10, 20, 30, 40, "p.png"], :sprite, :angle, nil],
    [[10, 20, 30, 40, "p.png"], :sprite, :r, nil],
    [[10, 20, 30, 40, "p.png"], :sprite, :angle_x, 0],
    [[5, 6], :point, :w, 0],
    [[5, 6], :point, :right, 5]
  ]
  cases.each do |array, kind, name, expected|
    array.__send__(kind)
    assert.equal! array.__send__(name), expected, "#{array}.#{kind}.#{name}"
  end
end

def test_label_shapes args, assert
  # length => [size_enum, alignment_enum, r, a] of a label whose values are 0, 1, 2 ...
  shapes = {
    3 => [0, 0, nil, nil],
    4 => [3, nil, nil, nil],
    5 => [3, 4, nil, nil],
    6 => [0, 0, 3, nil],
    7 => [0, 0, 3, 6],
    8 => [3, 4, 5, nil],
    9 => [3, 4, 5, 8],
    14 => [3, 4, 5, 8]
  }
  shapes.each do |length, expected|
    label = (0...length).to_a
    label[2] = "Hello"
    label.label
    assert.equal! [label.size_enum, label.alignment_enum, label.r, label.a], expected, "label of length #{length}"
  end
  full = [100, 100, "Hello", 2, 1, 255, 0, 0, 255, "f.ttf", 1, 2, 0.5, 0.25]
  full.label
  assert.equal! [full.size_enum, full.alignment_enum, full.r, full.a, full.font,
                 full.vertical_alignment_enum, full.blendmode_enum, full.anchor_x, full.anchor_y],
                [2, 1, 255, 255, "f.ttf", 1, 2, 0.5, 0.25]
  plain = [100, 100, "Hello"].label
  [:size_enum=, :alignment_enum=].each do |setter|
    error = array_primitive_test_error { plain.__send__(setter, 1) }
    assert.true! error && error.message.start_with?("* ERROR:\nIt doesn't look like this label is structured " \
                                                    "in such a way that allows for text_size.\n"), setter.to_s
  end
  assert.equal! plain, [100, 100, "Hello"]
end

def test_kind_module_wins_over_the_generic_ones args, assert
  label = [100, 100, "Hello"].label
  [[:w, "Labels do not support :w."], [:h, "Labels do not support :h."]].each do |name, text|
    error = array_primitive_test_error { label.__send__(name) }
    assert.equal! error && error.message, text
  end
  sprite = [10, 20, 30, 40, "p.png"]
  args.outputs.sprites << sprite
  hash = sprite.to_hash
  assert.equal! [hash[:x], hash[:w], hash[:path], hash[:primitive_marker]], [10, 30, "p.png", :sprite]
  solid = [1, 2, 3, 4, 5, 6, 7, 8].solid
  assert.equal! solid.to_hash.values_at(:w, :r, :a, :primitive_marker), [3, 5, 8, :solid]
  line = [1, 2, 3, 4, 200, 0, 0, 255].line
  line.blendmode_enum = 2
  assert.equal! [line.r, line.blendmode_enum], [200, 2], "blend mode and red have their own places"
  assert.equal! line.to_hash, { x: 1, y: 2, x2: 3, y2: 4, z: 0, r: 200, g: 0, b: 0, a: 255,
                                primitive_marker: :line, blendmode_enum: 2 }
  # A later kind takes over; an earlier one is not added again.
  shape = [1, 2, 3, 4, "p.png", 0, 128, 1, 2, 3].solid
  shape.sprite
  assert.equal! [shape.primitive_marker, shape.r, shape.a], [:sprite, 1, 128]
  shape.solid
  assert.equal! shape.primitive_marker, :sprite
end

def test_markers_and_hashes_of_points_and_rects args, assert
  point = [5, 6, 7]
  assert.true! point.point.equal?(point)
  assert.equal! point.primitive_marker, :pending
  assert.equal! point.to_hash, { x: 5, y: 6, z: 0, w: 0, h: 0, primitive_marker: :point }
  assert.equal! point.point, [5, 6]
  rect = [1, 2, 3, 4, "p.png"].rect
  assert.equal! rect, [1, 2, 3, 4]
  assert.equal! rect.to_hash, { x: 1, y: 2, w: 3, h: 4, primitive_marker: :rect }
  base = [10, 20, 30, 40, "p.png", 90]
  shifts = [
    [:rect_shift_right, [5], [15, 20, 30, 40, "p.png", 90]],
    [:rect_shift_left, [5], [5, 20, 30, 40, "p.png", 90]],
    [:rect_shift_up, [5], [10, 25, 30, 40, "p.png", 90]],
    [:rect_shift_down, [5], [10, 15, 30, 40, "p.png", 90]],
    [:rect_shift, [1, 2], [11, 22, 30, 40, "p.png", 90]],
    [:rect_shift, [[1, 2]], [11, 22, 30, 40, "p.png", 90]],
    [:shift_rect, [3, 4], [13, 24, 30, 40, "p.png", 90]]
  ]
  shifts.each do |name, arguments, expected|
    assert.equal! base.__send__(name, *arguments), expected, "#{name}(#{arguments})"
  end
  assert.equal! base, [10, 20, 30, 40, "p.png", 90], "shifts answer copies"
  assert.equal! [[0, 0, 30, 40].w_half, [0, 0, 30, 40].height_half, [0, 0, 30, 40].width], [15, 20, 30]
  merged = [10, 20, 30, 40, "p.png"].sprite.merge(x: 99)
  assert.equal! merged.values_at(:x, :path, :primitive_marker), [99, "p.png", :sprite]
end

def test_property_methods_mark_lazily args, assert
  # property => the module that the first call adds
  cases = [
    [:x, ORB::Primitive::Point], [:y, ORB::Primitive::Point], [:left, ORB::Primitive::Point],
    [:w, ORB::Primitive::Rect], [:top, ORB::Primitive::Rect], [:height, ORB::Primitive::Rect],
    [:x1, ORB::Primitive::Line], [:x2, ORB::Primitive::Line],
    [:path, ORB::Primitive::Sprite], [:angle, ORB::Primitive::Sprite],
    [:text, ORB::Primitive::Label]
  ]
  cases.each do |name, mod|
    array = [10, 20, "hi", 40, "p.png"]
    array.__send__(name)
    assert.true! array.is_a?(mod), "#{name} adds #{mod}"
  end
  only_point = [1, 2, 3, 4]
  assert.equal! only_point.x, 1
  assert.false! only_point.is_a?(ORB::Primitive::Rect)
  assert.equal! [only_point.w, only_point.primitive_marker], [3, :pending]
  # Setters mark too, and the accessors read the array itself.
  array = [0, 0, 10, 10, "a.png"]
  array.path = "b.png"
  array[0] = 7
  assert.equal! [array[4], array.path, array.x], ["b.png", "b.png", 7]
  text = [1, 2, "old"]
  text.text = "new"
  assert.equal! [text, text.primitive_marker], [[1, 2, "new"], :label]
end

def test_triangles_and_ambiguous_calls_raise args, assert
  [:x3, :y3, :source_x2, :source_y3].each do |name|
    error = array_primitive_test_error { [1, 2, 3, 4, 5, 6].__send__(name) }
    assert.true! error && error.message.start_with?("* ERROR: ~Array##{name}~ is not supported, use a ~Hash~.\n" \
                                                    "~Arrays~ do not support the ability to be interacted with " \
                                                    "as if it were a triangle. Use a ~Hash~ instead.\n"), name.to_s
  end
  triangle = [1, 2, 3, 4, 5, 6]
  array_primitive_test_error { triangle.x3 = 1 }
  assert.equal! triangle.primitive_marker, :triangle
  error = array_primitive_test_error { triangle.x }
  assert.true! error.message.start_with?("* ERROR: ~Array#x~ is not supported")
  [:a, :a=, :to_hash, :associate].each do |name|
    arguments = name == :a= ? [1] : []
    error = array_primitive_test_error { [1, 2, 3, 4].__send__(name, *arguments) }
    message = error ? error.message : ""
    assert.true! message.start_with?("* ERROR:\nThe invocation of :#{name} is ambiguous on [1, 2, 3, 4]"), message
    assert.true! message.include?("You need first tell me what kind of primitive you're trying to create:\n\n" \
                                  "self.solid.#{name}\nself.label.#{name}\nself.sprite.#{name}\n" \
                                  "self.line.#{name}\nself.border.#{name}\n"), message
    assert.equal! message.include?("self.rect.#{name}\nself.point.#{name}\n"), name == :to_hash, message
  end
  assert.nil! [1, 2, 3, 4].solid.a
end

def test_frozen_arrays args, assert
  cases = [[:x, :mark_as_point!], [:w, :mark_as_rect!], [:path, :mark_as_sprite!],
           [:solid, :mark_as_solid!], [:label, :mark_as_label!]]
  cases.each do |name, marking|
    error = array_primitive_test_error { [1, 2, 3, 4].freeze.__send__(name) }
    message = error ? error.message : ""
    assert.true! message.start_with?("* ERROR:\nThe primitive function ~#{name}~ was invoked on array [1, 2, 3, 4], " \
                                     "which\nrequired the invocation of ~#{marking}~ (this function dynamically\n" \
                                     "adds the ~#{name}~ helper function). This invocation failed because\n" \
                                     "the array is frozen"), message
  end
  marked_first = [1, 2, 3, 4].solid.freeze
  assert.equal! [marked_first.x, marked_first.w, marked_first.primitive_marker], [1, 3, :solid]
end

def test_nested_arrays_and_hashes_are_flattened args, assert
  nested = [[10, 20], [30, 40], "p.png"].sprite
  assert.equal! [nested.x, nested.y, nested.w, nested.h, nested.path], [10, 20, 30, 40, "p.png"]
  assert.equal! nested, [10, 20, 30, 40, "p.png"]
  ORB::Primitive.instance_variable_get(:@logged_once).delete(:array_primitive_contains_hashes)
  array_primitive_test_log do |log|
    with_hash = [{ x: 1, y: 2 }, 3, 4, "p.png"].sprite
    [{ w: 5 }, 6].solid
    assert.equal! with_hash, [1, 2, 3, 4, "p.png"]
    important = log.texts.select { |t| t.start_with?("* IMPORTANT: Array primitive that contains hashes was detected.\n") }
    assert.equal! important.length, 1
    assert.true! important[0].include?("** Backtrace:\n")
    assert.true! important[0].include?("$orb.warn_array_primitives!")
  end
end

def test_warn_array_primitives_prints_each_call_site_once args, assert
  saved = $warn_array_primitives
  $warn_array_primitives = true
  $warn_array_primitives_caller_lookup = nil
  array_primitive_test_log do |log|
    2.times { [1, 2, 3, 4].solid }
    [1, 2, 3, 4].border
    detected = log.texts.select { |t| t.start_with?("* ARRAY PRIMITIVE DETECTED AT:\n") }
    assert.equal! detected.length, 2
    assert.true! detected[0].include?("array_primitive_tests.rb"), detected[0]
  end
  assert.equal! $warn_array_primitives_caller_lookup.length, 2
ensure
  $warn_array_primitives = saved
end

def test_plural_conversions args, assert
  a = [1, 2, 3, 4]
  b = [5, 6, 7, 8]
  list = [a, b]
  assert.true! list.solids.equal?(list)
  assert.true! list[0].equal?(a) && list[1].equal?(b)
  assert.equal! [a.primitive_marker, b.primitive_marker, b.w], [:solid, :solid, 7]
  hash = { x: 1, y: 2, path: "p.png" }
  deep = [nil, hash, [[[0, 0, 8, 8, "q.png"]]], [[0, 0], [255, 0, 0]]]
  deep.sprites
  assert.equal! deep.length, 3
  assert.true! deep[0].equal?(hash)
  assert.equal! [deep[1].path, deep[1].primitive_marker], ["q.png", :sprite]
  assert.equal! deep[2].primitive_marker, :sprite, "a colour triple makes one primitive"
  lines = [[0, 0, 10, 10], [1, 1, 5, 5].line].lines
  assert.true! lines.all? { |l| l.primitive_marker == :line }
end

def test_plural_conversion_failures args, assert
  cases = [
    [[[1, 2, 3, 4].freeze], "can't modify frozen"],
    [[[ArrayPrimitiveTestPending.new]], "Primitive conversion failed.\n"]
  ]
  cases.each do |list, inner|
    error = array_primitive_test_error { list.solids }
    message = error ? error.message : ""
    assert.true! message.start_with?("* ERROR:\nArray#solids\nFailed to convert "), message
    assert.true! message.include?(" to a primitive.\n\nA primitive must respond to :primitive_marker, and then " \
                                  "subsequently\nrespond to  ALL the methods required for that specific marker:\n"), message
    assert.true! message.include?(inner), message
  end
end

def test_marked_arrays_answer_what_drawing_reads args, assert
  samples = {
    sprite: [10, 20, 30, 40, "p.png"],
    label: [10, 20, "Hello", 1, 1, 255, 0, 0, 255],
    solid: [10, 20, 30, 40, 255, 0, 0, 255],
    border: [10, 20, 30, 40, 255, 0, 0, 255],
    line: [10, 20, 30, 40, 255, 0, 0, 255]
  }
  samples.each do |kind, array|
    array.__send__(kind)
    assert.equal! array.primitive_marker, kind
    ARRAY_PRIMITIVE_DRAWN_PROPERTIES[kind].each do |name|
      assert.true! array.respond_to?(name), "#{kind} answers #{name}"
      array.__send__(name)
    end
  end
  # Drawing tells a solid from a triangle by its x3.
  assert.equal! [samples[:solid].x3, samples[:solid].y3, samples[:solid].primitive_marker], [nil, nil, :solid]
  assert.false! samples[:sprite].respond_to?(:scale_quality_enum)
  assert.false! samples[:label].respond_to?(:size_px)
end

def test_mark_assert args, assert
  assert.true! [1, 2, 3, 4].solid.mark_assert!.is_a?(Array)
  error = array_primitive_test_error { [:solid, 1, 2, 3, 4].mark_assert! }
  message = error ? error.message : ""
  assert.true! message.start_with?("* ERROR:\nCannot add [:solid, 1, 2, 3, 4] to outputs.(primitives|debug|reserved).\n\n" \
                                   "The symbol marker has been deprecated. You need to remove the symbol and " \
                                   "instead do the following:\n"), message
  [".solid", ".label", ".sprite", ".line", ".border"].each do |c|
    assert.true! message.include?("[1, 2, 3, 4]#{c}\n"), message
  end
  assert.true! $orb.console.current_input_str.include?("[:sprite"), "the console holds a source search"
  error = array_primitive_test_error { [1, 2, 3, 4].mark_assert! }
  assert.true! error.message.start_with?("* ERROR:\nCannot add [1, 2, 3, 4] to outputs.(primitives|debug|reserved).\n")
  assert.true! error.message.include?("[1, 2, 3, 4].border\n")
ensure
  $orb.console.current_input_str = ""
end

def test_names_without_a_definition_do_not_recurse args, assert
  # Geometry names mark as a rect and go to the geometry instance forms; when
  # none answers, the call ends with NoMethodError instead of recursing.
  error = array_primitive_test_error { [0, 0, 10, 10].center_inside_rect([0, 0, 100, 100]) }
  assert.true! error.nil? || error.is_a?(NoMethodError), error.inspect
end
