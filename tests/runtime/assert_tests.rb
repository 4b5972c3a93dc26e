# Tests of ORB::Assert: what each assertion accepts, the text it fails with,
# and that every assertion, passing or failing, counts as performed.

def assert_failure_of
  yield
  nil
rescue RuntimeError => e
  e.message
end

def test_assert_counts_every_assertion args, assert
  checks = [
    ->(a) { a.ok! },
    ->(a) { a.true! true },
    ->(a) { a.true! false },
    ->(a) { a.false! nil },
    ->(a) { a.equal! 1, 2 },
    ->(a) { a.not_equal! 1, 2 },
    ->(a) { a.nil! 3 }
  ]
  checks.each_with_index do |check, i|
    a = ORB::Assert.new
    assert.false! a.assertion_performed, "fresh assert, case #{i}"
    assert_failure_of { check.call a }
    assert.true! a.assertion_performed, "case #{i}"
  end
end

def test_assert_passing_assertions_raise_nothing args, assert
  a = ORB::Assert.new
  passing = [
    -> { a.true! 1 },
    -> { a.true! 0 },
    -> { a.true! "" },
    -> { a.false! nil },
    -> { a.false! false },
    -> { a.equal! 1, 1.0 },
    -> { a.equal! [1, { b: "c" }], [1, { b: "c" }] },
    -> { a.equal! nil, nil },
    -> { a.not_equal! 1, 2 },
    -> { a.not_equal! nil, false },
    -> { a.nil! nil }
  ]
  passing.each_with_index do |check, i|
    assert.nil! assert_failure_of(&check), "case #{i}"
  end
end

def test_assert_failure_texts args, assert
  a = ORB::Assert.new
  cases = [
    [-> { a.true! false }, "false was not truthy.\n"],
    [-> { a.true! nil, "why" }, " was not truthy.\nwhy"],
    [-> { a.false! 5 }, "5 was not falsey.\n"],
    [-> { a.false! "x", "msg" }, "x was not falsey.\nmsg"],
    [-> { a.equal! nil, 1 }, "actual:\n(nil)\n\ndid not equal\n\nexpected:\n1\n"],
    [-> { a.equal! 2, 3, "sum" }, "actual:\n2\n\ndid not equal\n\nexpected:\n3\nsum"],
    [-> { a.equal! [1], [2] }, "actual:\n[1]\n\ndid not equal\n\nexpected:\n[2]\n"],
    [-> { a.equal! "  padded  ", "x" }, "actual:\npadded\n\ndid not equal\n\nexpected:\nx\n"],
    [-> { a.equal! 1, nil }, "actual:\n1\n\ndid not equal\n\nexpected:\n\n"],
    [-> { a.not_equal! 4, 4 }, "actual:\n4\n\nequaled\n\nexpected:\n4\n"],
    [-> { a.not_equal! nil, nil, "both" }, "actual:\n(nil)\n\nequaled\n\nexpected:\n\nboth"],
    [-> { a.nil! 0 }, "0 was supposed to be nil, but wasn't.\n"],
    [-> { a.nil! false, "m" }, "false was supposed to be nil, but wasn't.\nm"]
  ]
  cases.each_with_index do |(check, text), i|
    assert.equal! assert_failure_of(&check), text, "case #{i}"
  end
end

def test_assert_failures_are_runtime_errors args, assert
  a = ORB::Assert.new
  begin
    a.equal! 1, 2
    assert.true! false, "equal! did not raise"
  rescue Exception => e
    assert.equal! e.class, RuntimeError
  end
end

def test_assert_passing_assertions_answer_nil args, assert
  a = ORB::Assert.new
  assert.nil! a.ok!
  assert.nil! a.true!(1)
  assert.nil! a.equal!(1, 1)
end
