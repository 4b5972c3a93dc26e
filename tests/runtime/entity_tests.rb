# Tests of entities, nil punning and saved state, run inside a game with
# `moonforge <game> --test tests/runtime/entity_tests.rb`. Log output is
# checked by swapping the runtime's log binding for a recorder; files by
# swapping its file binding.

class EntityTestLog
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

  def count(prefix)
    texts.count { |t| t.start_with?(prefix) }
  end
end

# Keeps written files in memory; answers reads from them.
class EntityTestFiles
  attr_reader :files, :writes

  def initialize(files = {}, write_result = true)
    @files = files
    @writes = []
    @write_result = write_result
  end

  def write(path, text)
    @writes << path
    @files[path] = text if @write_result
    @write_result
  end

  def read(path)
    @files[path]
  end
end

# Not a value the literal syntax can carry.
class EntityTestGadget
end

def entity_test_swap(ivar, replacement)
  saved = $orb.instance_variable_get(ivar)
  $orb.instance_variable_set(ivar, replacement)
  yield replacement
ensure
  $orb.instance_variable_set(ivar, saved)
end

def entity_test_log(&block)
  entity_test_swap(:@ffi_misc, EntityTestLog.new, &block)
end

def entity_test_error
  yield
  nil
rescue Exception => e
  e
end

def entity_test_codegen?
  ORB.const_defined?(:Codegen) && ORB::Codegen.respond_to?(:eval_hash)
end

def entity_test_live_objects
  counts = ObjectSpace.count_objects
  counts[:TOTAL] - counts[:FREE]
end

FIRST_USE_WARNING = "* Warning: Method invoked on nil.\n".freeze
THRASH_WARNING = "* WARNING: Method invocation on a nil value detected.\n".freeze
THRASH_ERROR = "* ERROR:\nThe method ~".freeze

def test_open_entity_properties args, assert
  ORB::Entity.__reset_id__!
  e = ORB::OpenEntity.new(:crate)
  assert.equal! e.entity_id, 1
  assert.equal! e.as_hash, { entity_id: 1, entity_keys_by_ref: {}, entity_name: :crate }
  e.weight_in_entity_tests = 3
  assert.equal! e.weight_in_entity_tests, 3
  assert.true! ORB::OpenEntity.instance_methods(false).include?(:weight_in_entity_tests),
               "the reader is defined on the class by the first read"
  assert.true! ORB::OpenEntity.instance_methods(false).include?(:weight_in_entity_tests=)
  assert.equal! ORB::OpenEntity.new.weight_in_entity_tests, nil, "readers are shared by all entities"
  assert.true! e.__touched__

  e[:label] = "lid"
  assert.equal! e[:label], "lid"
  assert.false! e.__contains_array_indexers__
  assert.equal! e.attributes, { entity_keys_by_ref: {}, weight_in_entity_tests: 3, label: "lid" }
  assert.equal! e.merge({ label: "box" }, { extra: 1 })[:label], "box"
  assert.equal! e.as_hash[:label], "lid", "merge answers a new Hash"
  assert.equal! e.to_s, e.as_hash.to_s
  assert.equal! e.inspect, e.as_hash.inspect

  e.set!([:path, :to, :leaf], 7)
  assert.equal! e.path.to.leaf, 7
  assert.equal! e.path.entity_name, :path
  e.set!(:flat, 1)
  assert.equal! e.flat, 1

  assert.equal! e.two_args_return_nil_in_entity_tests(1, 2), nil
  assert.true! entity_test_error { e.something_missing! }.is_a?(NoMethodError)
  assert.true! entity_test_error { e.something_missing? }.is_a?(NoMethodError)
  assert.true! entity_test_error { e.three(1, 2, 3) }.is_a?(NoMethodError)
  assert.true! entity_test_error { e.with_block { 1 } }.is_a?(NoMethodError)
  error = entity_test_error { e.attributes = {} }
  assert.equal! error.message, "* ERROR: You cannot use the property ~attributes~ for an object under ~args.state~ because it would overwrite ~Object::attributes~. Please pick a different property name."

  assert.true! e == e
  assert.true! e == 1
  assert.equal! e == 2, false
  assert.nil! e == :crate
  e.clear!
  assert.equal! e.as_hash, {}
end

def test_new_entity_and_age args, assert
  saved = [Kernel.tick_count, Kernel.global_tick_count]
  Kernel.tick_count = 10
  Kernel.global_tick_count = 40
  seen = nil
  e = args.state.new_entity(:bullet, { speed: 4 }) { |x| seen = x }
  assert.true! seen.equal?(e)
  assert.equal! [e.entity_type, e.entity_name, e.created_at, e.global_created_at, e.speed],
                [:bullet, :bullet, 10, 40, 4]
  Kernel.tick_count = 13
  Kernel.global_tick_count = 45
  assert.equal! e.created_at_elapsed, 3
  assert.equal! e.global_created_at_elapsed, 5
  assert.false! e.old?, "no lifetime"
  e.lifetime = 2
  assert.true! e.old?
  e.lifetime = 3
  assert.false! e.old?
  assert.true! e.new?(3)
  assert.false! e.new?(2)
  assert.false! ORB::OpenEntity.new.old?, "an entity without a creation tick is never old"
ensure
  Kernel.tick_count, Kernel.global_tick_count = saved
end

def test_nil_punning_creates_missing_entities args, assert
  state = ORB::OpenEntity.new
  state.a.b = 1
  assert.true! state.a.is_a?(ORB::OpenEntity)
  assert.equal! state.a.entity_name, :a
  assert.equal! state.a.b, 1
  state.player.x = 10
  assert.equal! [state.player.entity_name, state.player.x], [:player, 10]
  state.deep.er.still = :ok
  assert.equal! state.deep.er.still, :ok
  assert.equal! state.deep.er.entity_name, :er
  state.missing.missing = 5
  assert.equal! state.missing, 5, "the property's own name stores into the property"
end

def test_nil_punning_warns_then_raises args, assert
  entity_test_log do |log|
    state = ORB::OpenEntity.new
    results = []
    error = nil
    6.times do |i|
      begin
        results << (state.score + 1)
      rescue => e
        error = [i + 1, e.message]
      end
      state.score = nil
      if i == 0
        assert.equal! log.count(FIRST_USE_WARNING), 1
        assert.equal! log.count(THRASH_WARNING), 0
      end
      if i == 2
        assert.equal! log.count(THRASH_WARNING), 0, "no thrash warning before the fourth use"
      end
      if i == 3
        assert.equal! log.count(THRASH_WARNING), 1, "the thrash warning comes with the fourth use"
      end
    end
    assert.equal! results, [nil, nil, nil, nil, nil]
    assert.equal! state.score, nil
    assert.equal! error[0], 6
    assert.equal! error[1].split("\nHere is the details:\n")[0],
                  "* ERROR:\nThe method ~+~ was invoked on ~score~ within args.state, but ~score~ has\n" \
                  "a value of nil. The temporary coersion of this nil value, has reached it's\n" \
                  "invocation limit (you've called this function a lot and should probably\n" \
                  "set a default value for ~score~)."
    assert.true! error[1].end_with?("member: [+]\nattribute: [score].\nSet a default value for this property.\n")
    assert.equal! log.count(FIRST_USE_WARNING), 1
    assert.equal! log.count(THRASH_WARNING), 1

    first = log.texts.find { |t| t.start_with?(FIRST_USE_WARNING) }
    assert.true! first.start_with?(FIRST_USE_WARNING +
                                   "The method ~+~ was invoked on ~score~ within args.state, but ~score~ has\n" \
                                   "a value of nil.\nHere are the details:\nobject:\n")
    assert.true! first.include?("\nmember: +\nattribute: score\nargs: [1]\n" \
                                "Set a default value for this property or you might get an exception later on.\n")
    assert.true! first.include?("** tests/runtime/entity_tests.rb:"), "the call stack names the game's line"
    assert.true! first.end_with?("To track method invocations on ~nil~, add $orb.trace_nil_punning! in =main.rb=.\n")
    thrash = log.texts.find { |t| t.start_with?(THRASH_WARNING) }
    assert.true! thrash.start_with?(THRASH_WARNING +
                                    "The method ~+~ with args [1] was invoked on ~score~ within args.state, but ~score~ has a\n" \
                                    "value of nil (the invocation of ~+~ was suppressed). Consider setting\n" \
                                    "a default value for ~score~ to avoid null reference exceptions later on.\"\n** ")

    other = ORB::OpenEntity.new
    assert.nil! other.score - 1
    assert.equal! other.as_hash[:__thrash_count__], { :- => 1 }, "counted per entity and method"
    assert.equal! state.as_hash[:__thrash_count__], { :+ => 6 }
    assert.equal! log.count(FIRST_USE_WARNING), 2
  end
end

def test_nil_punning_indexing_errors args, assert
  state = ORB::OpenEntity.new
  error = entity_test_error { state[:a][:b] }
  assert.true! error.message.start_with?("* ERROR: Access using ~[] (array indexor)~ on uninitialized Entities is disallowed.\n"),
               error.message
  assert.true! error.message.include?("args.state.a ||="), "shows how to initialise the parent"
  assert.nil! state.as_hash[:a], "nothing is created"

  entity_test_log do |log|
    error = entity_test_error { state.list[0] }
    assert.true! error.is_a?(NoMethodError)
    assert.true! log.texts[0].start_with?("* ERROR: Ambiguous indexor invocation.\n")
    assert.true! log.texts[0].include?("||= []")
  end
end

def test_nil_punning_only_on_the_armed_value args, assert
  NilClassFalseClass.disarm!
  assert.true! entity_test_error { nil.not_a_method_in_entity_tests }.is_a?(NoMethodError)
  state = ORB::OpenEntity.new
  kept = state.later
  state.later = 5
  error = entity_test_error { kept.x = 1 }
  assert.true! error.is_a?(NoMethodError), "a nil read before the property was set is an ordinary nil"
  assert.equal! state.later, 5

  state.flag = false
  state.flag.y = 2
  assert.equal! state.flag.y, 2, "false properties pun as nil ones do"

  $nil_punning_disabled = true
  error = entity_test_error { state.off.z = 1 }
  assert.true! error.is_a?(NoMethodError), "no punning while disabled"
ensure
  $nil_punning_disabled = false
end

def test_nil_punning_allocates_nothing_for_unset_reads args, assert
  state = ORB::OpenEntity.new
  state.alloc_probe_in_entity_tests
  state.other_probe_in_entity_tests = 1
  GC.disable
  begin
    first = entity_test_live_objects
    overhead = entity_test_live_objects - first
    before = entity_test_live_objects
    i = 0
    while i < 1000
      state.alloc_probe_in_entity_tests
      state.other_probe_in_entity_tests
      state[:alloc_probe_in_entity_tests]
      i += 1
    end
    after = entity_test_live_objects - overhead
  ensure
    GC.enable
  end
  assert.true! after - before < 10, "#{after - before} objects for 3000 reads"
  assert.nil! state.as_hash[:__thrash_count__]
end

def test_nil_punning_switches_refuse_inside_tick args, assert
  orb = args.orb
  orb.instance_variable_set(:@inside_tick, true)
  error = entity_test_error { orb.disable_nil_punning! }
  assert.true! error.message.start_with?("* ERROR: Can't call disable_nil_punning inside tick.\n")
  error = entity_test_error { orb.enable_nil_punning! }
  assert.true! error.message.start_with?("* ERROR: Can't call ~enable_nil_punning~ inside tick.\n")
  assert.false! $nil_punning_disabled
ensure
  orb.instance_variable_set(:@inside_tick, false)
end

def test_trace_nil_punning args, assert
  entity_test_log do |log|
    args.orb.trace_nil_punning!
    ORB::OpenEntity.new
    args.orb.untrace_nil_punning!
    ORB::OpenEntity.new
    assert.true! log.texts[0].start_with?("* INFO: trace_nil_punning! enabled\n")
    assert.equal! log.count("* INFO: OpenEntity#new invocation occurred (trace_nil_punning!)\n"), 1
  end
ensure
  $trace_nil_punning = false
end

def test_hash_and_array_indexer_notes args, assert
  logged = ORB::Entity.instance_variable_get(:@logged_once)
  logged.delete(:hash_renamed_to_as_hash)
  logged.delete(:entity_contains_array_indexers)
  entity_test_log do |log|
    e = ORB::OpenEntity.new
    assert.true! e.hash.is_a?(Integer)
    e.hash
    e[1] = :first
    e[1] = :again
    assert.true! e.__contains_array_indexers__
    e.as_hash
    e.as_hash
    assert.equal! log.count("* WARNING:\nEntity#hash has been renamed to Entity#as_hash"), 1
    assert.equal! log.count("* IMPORTANT:\nThis dynamic entity contains array indexers."), 1
  end
end

def test_strict_entities args, assert
  ORB::Entity.strict_entities.clear
  first = args.state.new_entity_strict(:enemy_in_tests, hp: 3) { |e| e.hp += 1 if e.hp }
  second = args.state.new_entity_strict(:enemy_in_tests, hp: 9, mana: 2)
  assert.true! first.class.equal?(second.class), "one class per name"
  assert.true! ORB::Entity.strict_entities[:enemy_in_tests].equal?(first.class)
  assert.equal! first.hp, 4
  assert.equal! second.hp, 9
  assert.false! second.respond_to?(:mana), "keys of later calls are not accessors"
  assert.equal! second.to_hash[:mana], 2
  assert.equal! [first.entity_name, first.entity_type, first.entity_strict], [:enemy_in_tests, :enemy_in_tests, true]
  assert.true! second.entity_id > first.entity_id

  error = entity_test_error { second.mana }
  assert.equal! error.message,
                "* ERROR:\n" \
                "The *strict* entity with name :enemy_in_tests doesn't have the property mana. When converting\n" \
                "from \"new_entity\" to \"new_entity_strict\",\n" \
                "all possible properties must be defined when the entity was originially created. Make sure\n" \
                "mana is defined within args.state.new_entity_strict(:enemy_in_tests) do ... end.\n" \
                "\n"
  assert.true! entity_test_error { second.mana = 1 }.message.include?("doesn't have the property mana.")
  assert.true! entity_test_error { second[:mana] }.message.include?("doesn't have the property mana.")
  assert.true! entity_test_error { second.set!(:speed, 1) }.message.include?("doesn't have the property speed.")

  second[:hp] = 1
  assert.equal! second[:hp], 1
  second.set!("hp", 2)
  assert.equal! second.hp, 2
  assert.true! second.as_hash.equal?(second)

  other = args.state.new_entity_strict(:other_in_tests, v: 1)
  assert.true! second.is_a?(:enemy_in_tests)
  assert.false! second.is_a?(:other_in_tests), "another registered name"
  assert.true! other.is_a?(:other_in_tests)
  assert.false! second.is_a?(:not_registered_in_tests)
  assert.true! second.is_a?(ORB::StrictEntity)
  assert.false! second.is_a?(ORB::OpenEntity)

  second.clear!
  assert.equal! second.to_hash.values.uniq, [nil]
ensure
  ORB::Entity.strict_entities.clear
end

def test_strict_entity_shared_references_are_recorded args, assert
  ORB::Entity.strict_entities.clear
  list = [1, 2]
  e = args.state.new_entity_strict(:holder_in_tests, a: nil, b: nil, c: nil, name: "n", other: "n")
  e.a = list
  e.b = list
  e.c = [1, 2]
  e.inspect
  assert.equal! e.entity_keys_by_ref, { b: :a }
ensure
  ORB::Entity.strict_entities.clear
end

def test_state_text_literals_and_refusals args, assert
  text, problems = ORB::Serialize.state_text({ a: -1, f: 0.1, g: -2.5, h: 3.0, big: 1.0e20,
                                               s: "q\"uote \#{x} \\", sym: :"odd key", n: nil,
                                               t: true, no: false, l: [1, [2]] })
  assert.equal! problems, []
  assert.equal! text, "{:a=>-1, :f=>0.1, :g=>-2.5, :h=>3.0, :big=>1.0e+20, :s=>\"q\\\"uote \\\#{x} \\\\\", " \
                      ":sym=>:\"odd key\", :n=>nil, :t=>true, :no=>false, :l=>[1, [2]]}"

  state = ORB::OpenEntity.new
  state.player.pos = EntityTestGadget.new
  state.speed = 1.0 / 0
  state.ratio = 0.0 / 0
  state.items = [1, EntityTestGadget.new]
  state.as_hash[EntityTestGadget.new] = 1
  state.loop = state
  _, problems = ORB::Serialize.state_text(state, "args.state")
  assert.equal! problems.length, 6, problems.inspect
  ["args.state.player.pos (an object of class EntityTestGadget)",
   "args.state.speed (Infinity: not a finite number)",
   "args.state.ratio (NaN: not a finite number)",
   "args.state.items[1] (an object of class EntityTestGadget)",
   "a key of args.state (an object of class EntityTestGadget)",
   "args.state.loop (refers back to a value that contains it)"].each do |expected|
    assert.true! problems.include?(expected), "#{expected} in #{problems.inspect}"
  end

  counted = ORB::OpenEntity.new
  entity_test_log { counted.nope + 1 }
  shared = [1]
  counted.x = shared
  counted.y = shared
  text, problems = ORB::Serialize.state_text(counted)
  assert.equal! problems, []
  assert.false! text.include?("__thrash_count__"), "nil-punning counters are not saved"
  assert.true! text.include?(":entity_keys_by_ref=>{:y=>:x}"), text
  assert.true! counted.as_hash.key?(:__thrash_count__), "saving does not reset the counters"
end

def test_serialize_state_writes_or_refuses args, assert
  orb = args.orb
  entity_test_swap(:@ffi_file, EntityTestFiles.new) do |files|
    entity_test_log do |log|
      args.state.score = 5
      text = orb.serialize_state("save/one.txt", args.state)
      assert.equal! files.files["save/one.txt"], text
      assert.equal! log.texts.last, "State with length of #{text.length} saved to file save/one.txt."

      args.state.gadget = EntityTestGadget.new
      orb.serialize_state("save/one.txt", args.state)
      assert.equal! files.writes, ["save/one.txt"], "state that could not be loaded is not written"
      assert.equal! files.files["save/one.txt"], text
      warning = log.texts.last
      assert.true! warning.start_with?("* WARNING: The state was not saved to save/one.txt.\n"), warning
      assert.true! warning.include?("  args.state.gadget (an object of class EntityTestGadget)\n"), warning

      orb.save_state
      assert.equal! files.writes, ["save/one.txt"]
      assert.true! log.texts.last.include?(" or game_state.txt.\n")
      args.state.gadget = nil
      orb.save_state
      assert.equal! files.writes.length, 3
      assert.true! files.writes[1].start_with?("game_state_")
      assert.equal! files.writes[2], "game_state.txt"
      assert.equal! files.files["game_state.txt"], orb.serialize_state(args.state)
    end
  end
  entity_test_swap(:@ffi_file, EntityTestFiles.new({}, false)) do
    entity_test_log do |log|
      orb.serialize_state("x.txt", { a: 1 })
      assert.true! log.texts.last.start_with?("* WARNING: The state could not be saved to file x.txt;")
    end
  end
end

def test_large_state_sets_flag_and_warns args, assert
  entity_test_log do |log|
    $serialize_state_serialization_too_large = false
    args.orb.serialize_state({ a: "x" * 19990 })
    assert.false! $serialize_state_serialization_too_large
    text = args.orb.serialize_state({ a: "x" * 20000 })
    assert.true! text.length > 20000
    assert.true! $serialize_state_serialization_too_large
    assert.equal! log.count("* WARNING:\nThe serialization result of orb.serialize_state was larger than 20,000 characters. It's\n"), 1
  end
ensure
  $serialize_state_serialization_too_large = false
end

def test_deserialize_inputs args, assert
  orb = args.orb
  entity_test_swap(:@ffi_file, EntityTestFiles.new({ "saved.dat" => "[1, -2]", "blank.txt" => "  " })) do
    assert.nil! orb.deserialize_state("missing.txt")
    assert.nil! orb.deserialize_state("missing.rb")
    assert.nil! orb.deserialize_state("blank.txt")
    assert.nil! orb.deserialize_state(nil)
    return unless entity_test_codegen?
    assert.equal! orb.deserialize_state("{a: 1}"), { a: 1 }
    assert.equal! orb.deserialize_state("saved.dat"), [1, -2]
    error = entity_test_error { orb.deserialize_state("missing") }
    assert.true! error.message.start_with?("Failed to eval: missing. "), "a name without extension is taken as text"
    error = entity_test_error { orb.deserialize_state('{a: system("touch entity_tests_ran")}') }
    assert.true! error.message.start_with?("Failed to eval: {a: system(\"touch entity_tests_ran\")}. ")
    assert.true! error.message.end_with?(".\nSerialization data may be corrupt.")
    assert.true! error.message.include?("NODE_FCALL") || error.message.include?("NODE_CALL"), error.message
    error = entity_test_error { orb.deserialize_state("{:a=>1, :b=>") }
    assert.true! error.message.start_with?("Failed to eval: {:a=>1, :b=>. ")
  end
end

def test_round_trip_of_entities args, assert
  return unless entity_test_codegen?
  orb = args.orb
  ORB::Entity.strict_entities.clear
  saved_tick = Kernel.tick_count
  state = ORB::OpenEntity.new
  state.tick_count = 77
  state.player.name = "Ann \"the\" \#{brave}"
  state.player.hp = -3
  state.player.pos = { x: -1.5, y: 0.1 }
  shared = [1, [2, 3]]
  state.player.bag = shared
  state.player.backpack = shared
  state.enemies = [state.new_entity(:enemy, hp: -1), state.new_entity(:enemy, hp: 2)]
  goblin = state.new_entity_strict(:goblin_in_tests, hp: 4, loot: nil, also: nil)
  goblin.loot = [:gold]
  goblin.also = goblin.loot
  state.goblin = goblin
  text = orb.serialize_state(state)

  ORB::Entity.strict_entities.clear
  ORB::Entity.__reset_id__!
  Kernel.tick_count = 0
  back = orb.deserialize_state(text)
  assert.equal! Kernel.tick_count, 77, "tick_count restored"
  assert.true! back.is_a?(ORB::OpenEntity)
  assert.equal! back.entity_id, state.entity_id
  assert.equal! back.player.name, "Ann \"the\" \#{brave}"
  assert.equal! back.player.hp, -3
  assert.equal! back.player.pos, { x: -1.5, y: 0.1 }
  assert.equal! back.player.entity_name, :player
  assert.equal! back.player.bag, [1, [2, 3]]
  assert.true! back.player.bag.equal?(back.player.backpack), "shared Array of an open entity"
  assert.equal! back.enemies.map { |e| [e.class, e.entity_type, e.hp] },
                [[ORB::OpenEntity, :enemy, -1], [ORB::OpenEntity, :enemy, 2]]
  g = back.goblin
  assert.true! g.is_a?(ORB::StrictEntity)
  assert.true! g.is_a?(:goblin_in_tests)
  assert.equal! [g.hp, g.loot, g.entity_id], [4, [:gold], goblin.entity_id]
  assert.true! g.loot.equal?(g.also), "shared Array of a strict entity"
  assert.true! entity_test_error { g.unknown_property }.message.include?("doesn't have the property unknown_property.")
  assert.equal! orb.serialize_state(back), text, "saving the loaded state gives the same text"
  assert.true! ORB::OpenEntity.new.entity_id > goblin.entity_id, "new ids do not repeat loaded ones"
ensure
  Kernel.tick_count = saved_tick
  ORB::Entity.strict_entities.clear
end

def test_load_failures args, assert
  return unless entity_test_codegen?
  error = entity_test_error { args.orb.deserialize_state("{:entity_id=>3, :entity_strict=>true, :entity_name=>5}") }
  assert.true! error.message.start_with?("* ERROR:\nFailed to load entity data from:\n#+begin_src\n"), error.message
  assert.true! error.message.include?("The save data looks to be corrupt.\n** INNER EXCEPTION:\n")
  nested = "{:entity_id=>1, :child=>{:entity_id=>2, :entity_strict=>true, :entity_name=>nil}}"
  error = entity_test_error { args.orb.deserialize_state(nested) }
  assert.equal! error.message.split("Failed to load entity data").length, 2, "reported once, not per level"
ensure
  ORB::Entity.strict_entities.clear
end

def test_plain_hash_state_round_trip args, assert
  return unless entity_test_codegen?
  state = { score: -10, nested: { entity: args.state.new_entity(:thing, v: 1) } }
  back = args.orb.deserialize_state(args.orb.serialize_state(state))
  assert.true! back.is_a?(Hash)
  assert.equal! back[:score], -10
  assert.true! back[:nested][:entity].is_a?(ORB::OpenEntity), "entities inside plain Hashes load as entities"
  assert.equal! back[:nested][:entity].v, 1
end

def test_serialize_mixin args, assert
  klass = Class.new do
    include ORB::Serialize
    def initialize
      @a = 1
      @b = nil
      @c = false
      @d = (1..3)
      @e = "s"
    end
  end
  assert.equal! klass.new.serialize, { a: 1, d: [1, 2, 3], e: "s" }
  object = klass.new
  assert.equal! object.inspect, object.serialize.to_s
end
