// The interpreter's Time and Random classes seen from the engine side: the
// Random streams against the C++ library's own MT19937, the draw order of
// shuffle and sample (replays depend on it), clock seeding, and Time's
// formats under several time zones given as POSIX TZ strings (no tzdata).
#include <gtest/gtest.h>

#include <mruby.h>
#include <mruby/array.h>
#include <mruby/compile.h>
#include <mruby/string.h>

#include <stdlib.h>
#include <time.h>

#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

class Script : public ::testing::Test {
protected:
    mrb_state *mrb = nullptr;

    void SetUp() override
    {
        mrb = mrb_open();
        ASSERT_NE(mrb, nullptr);
    }

    void TearDown() override { mrb_close(mrb); }

    // Runs code; a raised exception fails the test with its text.
    mrb_value run(const std::string &code)
    {
        mrb_value v = mrb_load_string(mrb, code.c_str());
        if (mrb->exc) {
            mrb_value exc = mrb_obj_value(mrb->exc);
            mrb->exc = nullptr;
            mrb_value text = mrb_inspect(mrb, exc);
            ADD_FAILURE() << code << "\n raised " << std::string(RSTRING_PTR(text), RSTRING_LEN(text));
            return mrb_nil_value();
        }
        return v;
    }

    std::vector<int64_t> ints(const std::string &code)
    {
        std::vector<int64_t> out;
        mrb_value a = run(code);
        if (!mrb_array_p(a)) {
            ADD_FAILURE() << code << " gave no Array";
            return out;
        }
        for (mrb_int i = 0; i < RARRAY_LEN(a); i++) {
            mrb_value v = mrb_ary_ref(mrb, a, i);
            EXPECT_TRUE(mrb_integer_p(v)) << code << " [" << i << "]";
            out.push_back(mrb_integer_p(v) ? mrb_integer(v) : -1);
        }
        return out;
    }

    std::vector<double> reals(const std::string &code)
    {
        std::vector<double> out;
        mrb_value a = run(code);
        if (!mrb_array_p(a)) {
            ADD_FAILURE() << code << " gave no Array";
            return out;
        }
        for (mrb_int i = 0; i < RARRAY_LEN(a); i++) {
            mrb_value v = mrb_ary_ref(mrb, a, i);
            EXPECT_TRUE(mrb_float_p(v)) << code << " [" << i << "]";
            out.push_back(mrb_float_p(v) ? mrb_float(v) : -1.0);
        }
        return out;
    }

    std::string text(const std::string &code)
    {
        mrb_value v = run(code);
        if (!mrb_string_p(v)) {
            ADD_FAILURE() << code << " gave no String";
            return "";
        }
        return std::string(RSTRING_PTR(v), RSTRING_LEN(v));
    }
};

// Ruby seed literal and the 32-bit value that must seed the state.
const std::pair<const char *, uint32_t> seed_cases[] = {
    {"0", 0}, {"1", 1}, {"42", 42}, {"-42", 42}, {"1.9", 1}, {"2**32 + 5", 5},
};

// More than two regenerations of the 624-word state.
const int stream_length = 1300;

TEST_F(Script, RandomIntegerStreamsEqualStdMt19937)
{
    for (const auto &[literal, state] : seed_cases) {
        std::mt19937 ref(state);
        const std::vector<int64_t> got = ints("g = Random.new(" + std::string(literal) + "); Array.new(" +
                                              std::to_string(stream_length) + ") { g.rand(2**32) }");
        ASSERT_EQ(got.size(), (size_t)stream_length) << literal;
        for (int i = 0; i < stream_length; i++) ASSERT_EQ(got[i], (int64_t)ref()) << literal << " draw " << i;
    }
}

TEST_F(Script, RandomRealStreamsAreOutputTimesInverseOfTwoTo32MinusOne)
{
    for (const auto &[literal, state] : seed_cases) {
        std::mt19937 ref(state);
        const std::vector<double> got = reals("g = Random.new(" + std::string(literal) + "); Array.new(" +
                                              std::to_string(stream_length) + ") { g.rand }");
        ASSERT_EQ(got.size(), (size_t)stream_length) << literal;
        for (int i = 0; i < stream_length; i++) {
            const double want = ref() * (1.0 / 4294967295.0);
            // Script Floats drop their two lowest mantissa bits; a rule
            // dividing by 2^32 instead would be off by up to 2.3e-10.
            ASSERT_NEAR(got[i], want, 1e-15) << literal << " draw " << i;
            ASSERT_GE(got[i], 0.0);
            ASSERT_LE(got[i], 1.0);
        }
    }
}

TEST_F(Script, RandomBoundsFollowTheModuloRule)
{
    // Each bound with the integer it must behave as (nil, 0 and |x| < 1: a real).
    const std::pair<const char *, int64_t> bounds[] = {
        {"6", 6},  {"-6", 6}, {"1000", 1000}, {"5.9", 5},         {"-5.9", 5},
        {"1", 1},  {"nil", 0}, {"0", 0},       {"0.7", 0},         {"2**31 + 1", 2147483649LL},
    };
    std::string list;
    for (const auto &b : bounds) list += std::string(list.empty() ? "" : ", ") + b.first;
    mrb_value got = run("g = Random.new(2024); [" + list + "].map { |n| g.rand(n) }");
    ASSERT_TRUE(mrb_array_p(got));
    std::mt19937 ref(2024);
    for (size_t i = 0; i < sizeof(bounds) / sizeof(bounds[0]); i++) {
        const uint32_t out = ref();
        mrb_value v = mrb_ary_ref(mrb, got, (mrb_int)i);
        if (bounds[i].second == 0) {
            ASSERT_TRUE(mrb_float_p(v)) << bounds[i].first;
            EXPECT_NEAR(mrb_float(v), out * (1.0 / 4294967295.0), 1e-15) << bounds[i].first;
        } else {
            ASSERT_TRUE(mrb_integer_p(v)) << bounds[i].first;
            EXPECT_EQ(mrb_integer(v), (int64_t)(out % (uint64_t)bounds[i].second)) << bounds[i].first;
        }
    }
}

TEST_F(Script, KernelRandReturnsRealsInTheUnitIntervalWithoutABound)
{
    const std::vector<double> got = reals("srand(3); a = []; 200.times { a << rand; a << rand(0); a << rand(nil) }; a");
    ASSERT_EQ(got.size(), 600u);
    for (double x : got) {
        ASSERT_GE(x, 0.0);
        ASSERT_LE(x, 1.0);
    }
}

TEST_F(Script, SeedsFromTheClockAddTheGeneratorsNextOutput)
{
    const int64_t fresh_output = std::mt19937(5489)();
    const int64_t before = (int64_t)time(nullptr);
    const std::vector<int64_t> got = ints("a = Random.new; b = Random.new(3); b.srand; "
                                          "[a.seed, b.seed, srand(11), srand(12), Random::DEFAULT.seed]");
    const int64_t after = (int64_t)time(nullptr);
    ASSERT_EQ(got.size(), 5u);
    EXPECT_GE(got[0] - fresh_output, before);
    EXPECT_LE(got[0] - fresh_output, after);
    const int64_t next_of_3 = std::mt19937(3)();
    EXPECT_GE(got[1] - next_of_3, before);
    EXPECT_LE(got[1] - next_of_3, after);
    // srand answers the seed it replaces; DEFAULT itself started from the clock.
    EXPECT_GE(got[2] - fresh_output, before - 60);
    EXPECT_EQ(got[3], 11);
    EXPECT_EQ(got[4], 12);

    // The stored seed regenerates the same stream.
    EXPECT_EQ(ints("a = Random.new; s = Random.new(a.seed); Array.new(8) { a.rand(2**32) - s.rand(2**32) }"),
              std::vector<int64_t>(8, 0));
}

TEST_F(Script, ShuffleAndSampleDrawInFisherYatesOrderAndRepeatAfterSrand)
{
    const int n = 50, k = 10;
    std::vector<int64_t> shuffled(n), sampled(n);
    for (int i = 0; i < n; i++) shuffled[i] = sampled[i] = i + 1;
    std::mt19937 ref(99);
    for (int i = n - 1; i > 0; i--) std::swap(shuffled[i], shuffled[ref() % (uint32_t)(i + 1)]);
    for (int i = 0; i < k; i++) std::swap(sampled[i], sampled[i + ref() % (uint32_t)(n - i)]);
    sampled.resize(k);
    const int64_t single = (int64_t)(ref() % (uint32_t)n) + 1;
    std::vector<int64_t> want = shuffled;
    want.insert(want.end(), sampled.begin(), sampled.end());
    want.push_back(single);

    const std::string body = "a = (1..50).to_a; x = a.shuffle; y = a.sample(10); x + y + [a.sample]";
    EXPECT_EQ(ints("srand(99); " + body), want);
    EXPECT_EQ(ints("srand(99); " + body), want);
    EXPECT_EQ(ints("g = Random.new(99); a = (1..50).to_a; b = a.dup; b.shuffle!(g); "
                   "b + a.sample(10, g) + [a.sample(g)]"),
              want);
    EXPECT_EQ(ints("g = Random.new(99); a = (1..50).to_a; "
                   "a.shuffle(random: g) + a.sample(10, random: g) + [a.sample(random: g)]"),
              want);
}

class ZoneScript : public Script {
protected:
    std::string saved_tz;
    bool had_tz = false;

    void SetUp() override
    {
        const char *tz = getenv("TZ");
        had_tz = tz != nullptr;
        if (had_tz) saved_tz = tz;
        Script::SetUp();
    }

    void TearDown() override
    {
        Script::TearDown();
        if (had_tz) setenv("TZ", saved_tz.c_str(), 1);
        else unsetenv("TZ");
        tzset();
    }

    static void use_zone(const char *tz)
    {
        setenv("TZ", tz, 1);
        tzset();
    }
};

// 1700000000 is 2023-11-14 22:13:20 UTC (winter in New York), 1689000000
// is 2023-07-10 14:40:00 UTC (summer).
struct ZoneCase {
    const char *tz;
    int64_t at;
    const char *local;
    const char *asctime;
    const char *zone;
    bool dst;
};

const ZoneCase zone_cases[] = {
    {"UTC0", 1700000000, "2023-11-14 22:13:20 +0000", "Tue Nov 14 22:13:20 2023", "UTC", false},
    {"EST5EDT,M3.2.0,M11.1.0", 1700000000, "2023-11-14 17:13:20 -0500", "Tue Nov 14 17:13:20 2023", "EST", false},
    {"EST5EDT,M3.2.0,M11.1.0", 1689000000, "2023-07-10 10:40:00 -0400", "Mon Jul 10 10:40:00 2023", "EDT", true},
    {"IST-5:30", 1700000000, "2023-11-15 03:43:20 +0530", "Wed Nov 15 03:43:20 2023", "IST", false},
};

TEST_F(ZoneScript, TimeFormatsFollowTheLocalZone)
{
    for (const ZoneCase &c : zone_cases) {
        use_zone(c.tz);
        const std::string t = "Time.at(" + std::to_string(c.at) + ")";
        EXPECT_EQ(text(t + ".to_s"), c.local) << c.tz;
        EXPECT_EQ(text(t + ".inspect"), c.local) << c.tz;
        EXPECT_EQ(text(t + ".asctime"), c.asctime) << c.tz;
        EXPECT_EQ(text(t + ".zone"), c.zone) << c.tz;
        EXPECT_EQ(mrb_test(run(t + ".dst?")), c.dst) << c.tz;

        // The same instant in UTC, whatever the zone.
        const std::string utc = c.at == 1700000000 ? "2023-11-14 22:13:20 UTC" : "2023-07-10 14:40:00 UTC";
        EXPECT_EQ(text(t + ".utc.to_s"), utc) << c.tz;
        EXPECT_EQ(text(t + ".getutc.inspect"), utc) << c.tz;
        EXPECT_EQ(text(t + ".utc.localtime.to_s"), c.local) << c.tz;

        // Calendar fields read back in the zone give the instant again.
        const std::string back = "t = " + t + "; Time.local(t.year, t.mon, t.day, t.hour, t.min, t.sec).to_i";
        mrb_value v = run(back);
        ASSERT_TRUE(mrb_integer_p(v)) << c.tz;
        EXPECT_EQ(mrb_integer(v), c.at) << c.tz;
    }
}

// A script may change TZ through the environment alone; Time follows it.
TEST_F(ZoneScript, TimeFollowsTzChangedWithoutTzset)
{
    use_zone("UTC0");
    EXPECT_EQ(text("Time.at(1700000000).to_s"), "2023-11-14 22:13:20 +0000");
    setenv("TZ", "IST-5:30", 1);
    EXPECT_EQ(text("Time.at(1700000000).to_s"), "2023-11-15 03:43:20 +0530");
    EXPECT_EQ(text("Time.at(1700000000).utc.localtime.zone"), "IST");
}

TEST_F(ZoneScript, TimeNowPrintsTheClockInTheLocalZone)
{
    use_zone("IST-5:30");
    const int64_t before = (int64_t)time(nullptr);
    mrb_value got = run("t = Time.now; [t.to_i, t.usec, t.to_s, t.utc.to_s]");
    const int64_t after = (int64_t)time(nullptr);
    ASSERT_TRUE(mrb_array_p(got));
    const int64_t sec = mrb_integer(mrb_ary_ref(mrb, got, 0));
    const int64_t usec = mrb_integer(mrb_ary_ref(mrb, got, 1));
    EXPECT_GE(sec, before);
    EXPECT_LE(sec, after);
    EXPECT_GE(usec, 0);
    EXPECT_LT(usec, 1000000);

    const time_t s = (time_t)sec;
    struct tm tm;
    char want_local[64], want_utc[64];
    localtime_r(&s, &tm);
    strftime(want_local, sizeof(want_local), "%Y-%m-%d %H:%M:%S %z", &tm);
    gmtime_r(&s, &tm);
    strftime(want_utc, sizeof(want_utc), "%Y-%m-%d %H:%M:%S UTC", &tm);
    mrb_value local = mrb_ary_ref(mrb, got, 2), utc = mrb_ary_ref(mrb, got, 3);
    EXPECT_EQ(std::string(RSTRING_PTR(local), RSTRING_LEN(local)), want_local);
    EXPECT_EQ(std::string(RSTRING_PTR(utc), RSTRING_LEN(utc)), want_utc);
    EXPECT_EQ(std::string(want_local).substr(20), "+0530");
}

} // namespace
