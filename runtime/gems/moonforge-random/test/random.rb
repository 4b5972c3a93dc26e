# Random: the MT19937 stream, seeding rules, draw rules, Kernel#rand/srand
# on Random::DEFAULT, and Array#shuffle/shuffle!/sample.

MT_FIRST_OUTPUTS = {
  0 => [2357136044, 2546248239, 3071714933, 3626093760, 2588848963, 3684848379],
  1 => [1791095845, 4282876139, 3093770124, 4005303368, 491263, 550290313],
  42 => [1608637542, 3421126067, 4083286876, 787846414, 3143890026, 3348747335],
  5 => [953453411, 236996814, 3739766767, 3570525885, 887852006, 1562238070],
}
# First output of a generator seeded with 5489 (what an unseeded one draws).
MT_5489_FIRST = 3499211612
# Any seed taken from the clock is at least the time this test was written.
CLOCK_FLOOR = 1_700_000_000

def draws(gen, n, max = 2**32)
  Array.new(n) { gen.rand(max) }
end

assert('Random integer draws follow MT19937 for explicit seeds') do
  MT_FIRST_OUTPUTS.each do |seed, want|
    assert_equal want, draws(Random.new(seed), 6), "seed #{seed}"
  end
end

assert('Random seeds: negative by absolute value, Floats truncated, low 32 bits') do
  [[-42, 42, 42], [1.9, 1, 1], [-1.9, 1, 1], [2**32 + 5, 5, 2**32 + 5], [-(2**32) - 5, 5, 2**32 + 5]].each do |given, state, stored|
    gen = Random.new(given)
    assert_equal MT_FIRST_OUTPUTS[state], draws(gen, 6), "seed #{given}"
    assert_equal stored, gen.seed, "stored seed of #{given}"
  end
end

assert('Random real draws: output * (1 / 4294967295.0), inside [0, 1]') do
  a = Random.new(42)
  b = Random.new(42)
  MT_FIRST_OUTPUTS[42].each do |out|
    x = a.rand
    assert_kind_of Float, x
    want = out * (1.0 / 4294967295.0)
    assert_true (x - want).abs <= 1.0e-15, "#{x} for output #{out}, want #{want}"
    assert_equal x, b.rand
  end
  gen = Random.new(1)
  [nil, 0, 0.5, -0.5].each do |bound|
    x = gen.rand(bound)
    assert_kind_of Float, x, "rand(#{bound.inspect})"
    assert_true x >= 0.0 && x <= 1.0, "rand(#{bound.inspect}) = #{x}"
  end
end

assert('Random integer draws: output % n, negative bounds by absolute value') do
  assert_equal MT_FIRST_OUTPUTS[0].map { |o| o % 6 }, draws(Random.new(0), 6, 6)
  assert_equal draws(Random.new(7), 20, 10), draws(Random.new(7), 20, -10)
  assert_equal draws(Random.new(7), 20, 10), draws(Random.new(7), 20, 10.9)
  assert_equal [0] * 5, draws(Random.new(3), 5, 1)
  # Bounds beyond 32 bits never truncate the output.
  assert_equal MT_FIRST_OUTPUTS[1], draws(Random.new(1), 6, 2**40)
end

assert('Random without a seed: clock plus the next output of the generator itself') do
  gen = Random.new
  assert_true gen.seed - MT_5489_FIRST >= CLOCK_FLOOR, "seed #{gen.seed}"
  assert_equal draws(Random.new(gen.seed), 6), draws(gen, 6)

  gen = Random.new(3)
  prev = gen.srand
  assert_equal 3, prev
  assert_true gen.seed - 2365658986 >= CLOCK_FLOOR, "reseed #{gen.seed}"
  assert_equal draws(Random.new(gen.seed), 4), draws(gen, 4)
end

assert('Random#srand reseeds and answers the previous seed') do
  gen = Random.new(5)
  gen.rand
  assert_equal 5, gen.srand(42)
  assert_equal 42, gen.seed
  assert_equal MT_FIRST_OUTPUTS[42], draws(gen, 6)
  assert_equal 42, gen.srand(-1)
  assert_equal 1, gen.seed
end

assert('Kernel#rand and #srand use Random::DEFAULT') do
  assert_kind_of Random, Random::DEFAULT
  srand(42)
  assert_equal 42, srand(0)
  assert_equal MT_FIRST_OUTPUTS[0], Array.new(6) { rand(2**32) }
  assert_equal 0, Random::DEFAULT.seed
  Random::DEFAULT.srand(42)
  assert_equal MT_FIRST_OUTPUTS[42][0], rand(2**32)
  assert_equal 42, Random.srand(1)
  assert_equal MT_FIRST_OUTPUTS[1][0], Random.rand(2**32)
  assert_kind_of Float, rand
  assert_kind_of Float, rand(0)
end

assert('Random#dup continues the same stream independently') do
  a = Random.new(42)
  a.rand
  b = a.dup
  assert_equal draws(a, 5), draws(b, 5)
  assert_equal 42, b.seed
end

assert('Random argument errors') do
  assert_raise_with_message(TypeError, "can't convert String to Integer") { Random.new('1') }
  assert_raise_with_message(TypeError, "can't convert Symbol to Integer") { Random.new(1).rand(:a) }
  assert_raise_with_message(TypeError, "can't convert true to Integer") { srand(true) }
  assert_raise_with_message(TypeError, "can't convert Array to Integer") { rand([]) }
  assert_raise(FloatDomainError) { Random.new(0.0 / 0.0) }
  assert_raise(RangeError) { rand(1.0e30) }
  assert_raise_with_message(TypeError, 'uninitialized Random') { Random.allocate.rand }
end

assert('Array#shuffle and #shuffle! permute repeatably from the given generator') do
  a = (1..20).to_a
  s1 = a.shuffle(Random.new(9))
  assert_equal a, s1.sort
  assert_equal (1..20).to_a, a
  assert_equal s1, a.shuffle(Random.new(9))
  assert_equal s1, a.shuffle(random: Random.new(9))
  assert_not_equal s1, a.shuffle(Random.new(10))

  b = a.dup
  assert_same b, b.shuffle!(Random.new(9))
  assert_equal s1, b

  srand(9)
  assert_equal s1, a.shuffle
  srand(9)
  c = a.dup
  c.shuffle!
  assert_equal s1, c

  assert_equal [], [].shuffle(Random.new(1))
  assert_equal [1], [1].shuffle!(Random.new(1))
  assert_raise(FrozenError) { [1, 2].freeze.shuffle! }
  assert_raise(TypeError) { [1, 2].shuffle(5) }
end

assert('Array#shuffle! draws one integer per position, from the last down') do
  # Fisher-Yates with j = output % (i + 1) for i = 2, 1.
  outs = MT_FIRST_OUTPUTS[42]
  want = [:a, :b, :c]
  j = outs[0] % 3
  want[2], want[j] = want[j], want[2]
  j = outs[1] % 2
  want[1], want[j] = want[j], want[1]
  assert_equal want, [:a, :b, :c].shuffle(Random.new(42))
end

assert('Array#sample picks elements repeatably from the given generator') do
  a = (1..10).to_a
  assert_equal a[MT_FIRST_OUTPUTS[42][0] % 10], a.sample(Random.new(42))
  assert_equal a.sample(Random.new(4)), a.sample(random: Random.new(4))
  assert_nil [].sample(Random.new(1))
  assert_equal [], [].sample(3, Random.new(1))
  assert_equal [], a.sample(0)

  picked = a.sample(4, Random.new(8))
  assert_equal 4, picked.size
  distinct = {}
  picked.each { |x| distinct[x] = true }
  assert_equal 4, distinct.size
  picked.each { |x| assert_include a, x }
  assert_equal picked, a.sample(4, Random.new(8))
  assert_equal picked, a.sample(4, random: Random.new(8))
  assert_equal 2, a.sample(2.9, Random.new(8)).size

  all = a.sample(25, Random.new(8))
  assert_equal a, all.sort

  srand(8)
  assert_equal picked, a.sample(4)
  srand(8)
  assert_equal picked[0], a.sample
end

assert('Array#sample argument errors') do
  assert_raise_with_message(ArgumentError, 'negative sample number') { [1, 2].sample(-1) }
  assert_raise_with_message(TypeError, "can't convert String to Integer") { [1, 2].sample('2') }
  assert_raise(TypeError) { [1, 2].sample(1, 2) }
end
