# Tests of ORB::Tests on its own instances. The methods it runs here do not
# start with test_, so the runner that runs this file does not pick them up.

def runner_probe_passing args, assert
  $runner_probe_args = args
  $runner_probe_state_id = args.state.entity_id
  assert.ok!
end

def runner_probe_silent args, assert
end

def runner_probe_failing args, assert
  assert.equal! 1, 2
end

def runner_probe_raising args, assert
  raise ArgumentError, "* ERROR: bad input"
end

def runner_probe_one_param args
end

def test_runner_records_each_outcome args, assert
  t = ORB::Tests.new
  %i[runner_probe_passing runner_probe_silent runner_probe_failing runner_probe_raising].each { |m| t.run_test m }
  assert.equal! t.passed, [{ m: :runner_probe_passing }]
  assert.equal! t.inconclusive, [{ m: :runner_probe_silent }]
  assert.equal! t.failed.map { |h| h[:m] }, [:runner_probe_failing, :runner_probe_raising]
  assert.equal! t.failed[0][:e].class, RuntimeError
  assert.equal! t.failed[1][:e].class, ArgumentError
  assert.equal! t.exit_status, 1
  t.clear_summary
  assert.equal! [t.passed, t.inconclusive, t.failed], [[], [], []]
  assert.equal! t.exit_status, 0
end

def test_runner_exit_status args, assert
  cases = [
    [[], 0],
    [[:runner_probe_passing], 0],
    [[:runner_probe_silent], 0],
    [[:runner_probe_passing, :runner_probe_failing], 1],
    [[:runner_probe_passing, :runner_probe_one_param], 1]
  ]
  cases.each do |names, status|
    t = ORB::Tests.new
    names.each { |m| t.run_test m }
    assert.equal! t.exit_status, status, names.inspect
  end
end

def test_runner_wrong_signature_is_neither_passed_nor_failed args, assert
  t = ORB::Tests.new
  t.run_test :runner_probe_one_param
  assert.equal! [t.passed, t.inconclusive, t.failed], [[], [], []]
  assert.equal! t.invalid.map { |h| h[:m] }, [:runner_probe_one_param]
end

def test_runner_puts_back_args_state_and_entity_ids args, assert
  before = args.state.new_entity(:mine).entity_id
  t = ORB::Tests.new
  t.run_test :runner_probe_passing
  assert.false! $runner_probe_args.equal?(args)
  assert.equal! $runner_probe_state_id, 1
  assert.true! $args.equal?(args)
  assert.true! $orb.args.equal?(args)
  assert.true! $state.equal?(args.state)
  assert.equal! args.state.new_entity(:mine).entity_id, before + 1
end

def test_runner_lists_are_writable args, assert
  t = ORB::Tests.new
  t.passed = [{ m: :a }]
  t.failed = [{ m: :b, e: RuntimeError.new("x") }]
  t.inconclusive = [{ m: :c }]
  assert.equal! t.passed.length + t.failed.length + t.inconclusive.length, 3
  assert.equal! t.exit_status, 1
end

def test_runner_is_running_during_a_run args, assert
  assert.true! $tests.running?
  assert.false! ORB::Tests.new.running?
end

def test_runner_finds_focus_tests_only_when_present args, assert
  names = ORB::Tests.new.test_methods
  assert.true! names.include?(:test_runner_finds_focus_tests_only_when_present)
  assert.false! names.any? { |m| m.to_s.start_with?("runner_probe_") }
end
