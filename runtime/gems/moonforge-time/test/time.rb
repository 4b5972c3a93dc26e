# Time: construction forms, calendar fields, arithmetic, zones, formats and
# error texts. Local-zone checks hold in any zone the tests run under.

def two_digits(n)
  n < 10 ? "0#{n}" : n.to_s
end

# "+hhmm" / "-hhmm" for an offset in seconds.
def offset_text(seconds)
  a = seconds.abs
  "#{seconds < 0 ? '-' : '+'}#{two_digits(a.div(3600))}#{two_digits((a % 3600).div(60))}"
end

assert('Time.gm and Time.utc: calendar fields to epoch seconds') do
  t = Time.gm(2000, 1, 2, 3, 4, 5)
  assert_equal 946782245, t.to_i
  assert_equal [2000, 1, 2, 3, 4, 5, 0, 2, 0], [t.year, t.mon, t.day, t.hour, t.min, t.sec, t.wday, t.yday, t.usec]
  assert_equal [1, 2], [t.month, t.mday]
  assert_true t.utc?
  assert_true t.gmt?
  assert_false t.dst?
  assert_equal 'UTC', t.zone
  assert_equal t, Time.utc(2000, 1, 2, 3, 4, 5)

  assert_equal 951782400, Time.gm(2000, 2, 29).to_i
  assert_equal 0, Time.gm(1970).to_i
  assert_equal(-1, Time.gm(1969, 12, 31, 23, 59, 59).to_i)
  assert_equal 366, Time.gm(2000, 12, 31).yday
  assert_equal 86400, Time.gm(1970, 1, 1, 24).to_i
  assert_equal 7, Time.gm(2000, 1, 1, 0, 0, 0, 7).usec
  t = Time.gm(2000, 1, 1, 0, 0, 1.5)
  assert_equal [1, 500000], [t.sec, t.usec]
end

assert('Time.gm month names and string fields') do
  [['jan', 1], ['Feb', 2], ['MAR', 3], ['dec', 12], ['7', 7], [7.9, 7]].each do |given, mon|
    assert_equal mon, Time.gm(2001, given, 1).mon, given.inspect
  end
  assert_equal Time.gm(2001, 3, 4), Time.gm('2001', '3', '4')
  assert_equal Time.gm(2001), Time.gm(2001, nil, nil, nil)
end

assert('Time.local and Time.mktime: calendar fields in the local zone') do
  t = Time.local(2000, 6, 15, 12, 30, 45)
  assert_equal [2000, 6, 15, 12, 30, 45], [t.year, t.mon, t.day, t.hour, t.min, t.sec]
  assert_false t.utc?
  assert_equal Time.gm(2000, 6, 15, 12, 30, 45).to_i - t.utc_offset, t.to_i
  assert_equal t, Time.mktime(2000, 'jun', 15, 12, 30, 45)
  assert_equal t, Time.new(2000, 6, 15, 12, 30, 45)
  assert_equal "2000-06-15 12:30:45 #{offset_text(t.utc_offset)}", t.to_s
end

assert('Time.at: Integers, Floats, microseconds and Time values') do
  [
    [Time.at(1.5), 1, 500000],
    [Time.at(-1.5), -2, 500000],
    [Time.at(0.3), 0, 300000],
    # Nearest microsecond: these Floats lie just below the decimal value.
    [Time.at(1.9), 1, 900000],
    [Time.at(1.1), 1, 100000],
    [Time.at(0) + 0.7, 0, 700000],
    [Time.gm(1970, 1, 1, 0, 0, 2.3), 2, 300000],
    [Time.at(0, 1500000), 1, 500000],
    [Time.at(0, -1), -1, 999999],
    [Time.at(10, 2.7), 10, 2],
    [Time.at(2**40), 2**40, 0],
  ].each do |t, sec, usec|
    assert_equal [sec, usec], [t.to_i, t.usec]
  end
  assert_false Time.at(0).utc?
  u = Time.at(5).utc
  assert_true Time.at(u).utc?
  assert_equal u, Time.at(u)
  assert_float 1.5, Time.at(1.5).to_f
end

assert('Time arithmetic with Numeric and Time') do
  t = Time.gm(2000, 1, 1)
  assert_equal Time.gm(2000, 1, 2), t + 86400
  assert_equal Time.gm(1999, 12, 31, 23, 59, 59), t - 1
  s = t + 1.25
  assert_equal [946684801, 250000], [s.to_i, s.usec]
  s = t - 0.25
  assert_equal [946684799, 750000], [s.to_i, s.usec]
  assert_true((t + 1).utc?)
  assert_false((Time.at(0) + 1).utc?)

  d = Time.gm(2000, 1, 2) - t
  assert_kind_of Float, d
  assert_equal 86400.0, d
  assert_float(-0.75, Time.at(1, 250000) - Time.at(2))
  assert_raise_with_message(TypeError, 'time + time?') { t + t }
  assert_raise(TypeError) { t + 'x' }
  assert_raise(TypeError) { t - nil }
end

assert('Time comparisons') do
  a = Time.at(100)
  b = Time.at(100, 1)
  assert_true a < b
  assert_true b > a
  assert_true a.between?(Time.at(99), b)
  assert_equal(-1, a <=> b)
  assert_equal 0, a <=> Time.at(100).utc
  assert_nil a <=> 100
  assert_true a == Time.at(100).utc
  assert_false a == 100
  assert_equal [a, b], [b, a].sort
  h = { Time.at(5) => :five }
  assert_equal :five, h[Time.at(5)]
  assert_true Time.at(5).eql?(Time.at(5))
end

assert('Time zone switches: utc, gmtime, localtime, getutc, getgm, getlocal') do
  t = Time.at(1000)
  u = t.getutc
  assert_true u.utc?
  assert_false t.utc?
  assert_equal t, u
  assert_true t.getgm.utc?
  l = u.getlocal
  assert_false l.utc?
  assert_true u.utc?
  assert_same t, t.utc
  assert_true t.utc?
  assert_same t, t.localtime
  assert_false t.utc?
  assert_same t, t.gmtime
  assert_true t.utc?
  assert_equal 1000, t.to_i
  assert_raise(FrozenError) { Time.at(0).freeze.utc }
  assert_nothing_raised { Time.at(0).utc.freeze.utc }
end

assert('Time#to_s, #inspect, #asctime and #ctime') do
  t = Time.gm(2000, 1, 2, 3, 4, 5)
  assert_equal '2000-01-02 03:04:05 UTC', t.to_s
  assert_equal '2000-01-02 03:04:05 UTC', t.inspect
  assert_equal 'Sun Jan  2 03:04:05 2000', t.asctime
  assert_equal 'Sun Jan  2 03:04:05 2000', t.ctime
  assert_equal 'Thu Dec 31 23:59:59 1970', Time.gm(1970, 12, 31, 23, 59, 59).asctime
  assert_equal 'Sat Oct 10 10:10:10 0099', Time.gm(99, 10, 10, 10, 10, 10).asctime
  l = Time.at(946782245)
  assert_equal "#{l.year}-#{two_digits(l.mon)}-#{two_digits(l.day)} #{two_digits(l.hour)}:" \
               "#{two_digits(l.min)}:#{two_digits(l.sec)} #{offset_text(l.utc_offset)}", l.to_s
  assert_equal l.to_s, l.inspect
end

assert('Time.now and Time.new read the clock') do
  a = Time.now
  b = Time.new
  assert_kind_of Time, a
  assert_false a.utc?
  assert_true a.to_i > 1_700_000_000
  assert_true a.usec >= 0 && a.usec < 1000000
  d = b - a
  assert_true d >= 0.0 && d < 5.0, "#{d}"
  assert_equal ' UTC', a.utc.to_s[-4, 4]
  sub = Class.new(Time)
  assert_kind_of sub, sub.now
  assert_kind_of sub, sub.at(0) + 1
end

assert('Time copies') do
  t = Time.at(7, 8)
  c = t.dup
  assert_equal t, c
  c.utc
  assert_false t.utc?
  assert_raise_with_message(TypeError, 'wrong argument class') { Time.at(0).initialize_copy(5) }
end

assert('Time range and argument errors') do
  assert_raise_with_message(ArgumentError, 'NaN out of Time range') { Time.at(0.0 / 0.0) }
  assert_raise_with_message(ArgumentError, 'Infinity out of Time range') { Time.at(1.0 / 0.0) }
  assert_raise_with_message(ArgumentError, '1.0e+300 out of Time range') { Time.at(1.0e300) }
  assert_raise_with_message(ArgumentError, "#{2**62} out of Time range") { Time.at(2**62) }
  assert_raise_with_message(ArgumentError, '1.0e+300 out of Time range') { Time.at(0) + 1.0e300 }
  assert_raise_with_message(ArgumentError, "#{2**62} out of Time range") { Time.at(0) - 2**62 }
  assert_raise_with_message(ArgumentError, "#{2**40} out of Time range") { Time.gm(2**40) }
  [[2000, 13], [2000, 0], [2000, 'foo'], [2000, 1, 32], [2000, 1, 1, 25], [2000, 1, 1, 24, 1],
   [2000, 1, 1, 0, 60], [2000, 1, 1, 0, 0, 61], [2000, 1, 1, 0, 0, -1], [2000, 1, 1, 0, 0, 0, 1000000]].each do |args|
    assert_raise(ArgumentError, args.inspect) { Time.gm(*args) }
  end
  assert_raise_with_message(ArgumentError, 'argument out of range') { Time.local(2000, 2, 0) }
  assert_raise(ArgumentError) { Time.gm }
  assert_raise(ArgumentError) { Time.gm(1, 2, 3, 4, 5, 6, 7, 8) }
  assert_raise(TypeError) { Time.gm(nil) }
  assert_raise(TypeError) { Time.gm(2000, :jan) }
  assert_raise(TypeError) { Time.at('1') }
  assert_raise(TypeError) { Time.at(1, nil) }
end

assert('Time without initialised data') do
  assert_raise_with_message(TypeError, 'uninitialized time') { Time.allocate.year }
  lazy = Class.new(Time) { def initialize; end }
  assert_raise_with_message(TypeError, 'uninitialized time') { lazy.new.to_s }
  assert_false Time.at(0) == lazy.new
end
