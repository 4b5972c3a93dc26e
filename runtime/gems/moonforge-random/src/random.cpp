// Random class for scripts: a 32-bit Mersenne Twister (MT19937) per object,
// deterministic for a given seed so that recorded input replays the same
// game. Also Random::DEFAULT with Kernel#rand/srand on it, and
// Array#shuffle, #shuffle! and #sample drawing from a generator.
// Depends on mruby's C API and time() for unseeded generators.
#include <mruby.h>
#include <mruby/array.h>
#include <mruby/class.h>
#include <mruby/data.h>
#include <mruby/numeric.h>
#include <mruby/presym.h>
#include <mruby/variable.h>

#include <stdint.h>
#include <time.h>

enum {
    MT_WORDS = 624,
    MT_MIDDLE = 397,
    MT_INDEX_NEVER_SEEDED = MT_WORDS + 1,
};

static const uint32_t MT_MATRIX = 0x9908b0dfu;
static const uint32_t MT_UPPER_MASK = 0x80000000u;
static const uint32_t MT_LOWER_MASK = 0x7fffffffu;
static const uint32_t MT_DEFAULT_SEED = 5489u;

struct RandomData {
    uint32_t words[MT_WORDS];
    int index;   // next word; MT_WORDS: regenerate first; MT_INDEX_NEVER_SEEDED
    mrb_int seed;
    mrb_bool seeded;
};

static const mrb_data_type random_type = {"Random", mrb_free};

static void random_seed_words(RandomData *r, uint32_t s)
{
    r->words[0] = s;
    for (uint32_t i = 1; i < MT_WORDS; i++) {
        const uint32_t prev = r->words[i - 1];
        r->words[i] = 1812433253u * (prev ^ (prev >> 30)) + i;
    }
    r->index = MT_WORDS;
}

static void random_regenerate(RandomData *r)
{
    uint32_t *w = r->words;
    for (int i = 0; i < MT_WORDS; i++) {
        const uint32_t y = (w[i] & MT_UPPER_MASK) | (w[(i + 1) % MT_WORDS] & MT_LOWER_MASK);
        w[i] = w[(i + MT_MIDDLE) % MT_WORDS] ^ (y >> 1) ^ ((y & 1u) ? MT_MATRIX : 0u);
    }
    r->index = 0;
}

static uint32_t random_next(RandomData *r)
{
    if (r->index >= MT_WORDS) {
        if (r->index == MT_INDEX_NEVER_SEEDED) random_seed_words(r, MT_DEFAULT_SEED);
        random_regenerate(r);
    }
    uint32_t y = r->words[r->index++];
    y ^= y >> 11;
    y ^= (y << 7) & 0x9d2c5680u;
    y ^= (y << 15) & 0xefc60000u;
    y ^= y >> 18;
    return y;
}

// A real number in [0, 1], both ends included.
static double random_real(RandomData *r)
{
    return random_next(r) * (1.0 / 4294967295.0);
}

static mrb_int random_below(RandomData *r, uint64_t n)
{
    return (mrb_int)(random_next(r) % n);
}

// Integer arguments: Integers, and Floats truncated toward zero.
static mrb_int random_arg_int(mrb_state *mrb, mrb_value v)
{
    if (mrb_integer_p(v)) return mrb_integer(v);
    if (mrb_float_p(v)) return mrb_integer(mrb_float_to_integer(mrb, v));
    mrb_raisef(mrb, E_TYPE_ERROR, "can't convert %Y to Integer", v);
}

static uint64_t random_magnitude(mrb_int v)
{
    return v < 0 ? 0 - (uint64_t)v : (uint64_t)v;
}

// Seeds r with seed, or without one (nil) with the current Unix time plus
// the generator's own next output. Negative seeds count by their absolute
// value; the low 32 bits seed the state and the whole value is kept.
static void random_apply_seed(mrb_state *mrb, RandomData *r, mrb_value seed)
{
    uint64_t s;
    if (mrb_nil_p(seed)) s = (uint64_t)(int64_t)time(NULL) + random_next(r);
    else s = random_magnitude(random_arg_int(mrb, seed));
    r->seed = (mrb_int)s;
    r->seeded = TRUE;
    random_seed_words(r, (uint32_t)s);
}

static RandomData *random_get(mrb_state *mrb, mrb_value self)
{
    if (mrb_data_p(self) && (DATA_TYPE(self) == NULL || DATA_PTR(self) == NULL))
        mrb_raise(mrb, E_TYPE_ERROR, "uninitialized Random");
    return (RandomData *)mrb_data_get_ptr(mrb, self, &random_type);
}

static mrb_value random_default_value(mrb_state *mrb)
{
    struct RClass *rc = mrb_class_get_id(mrb, MRB_SYM(Random));
    return mrb_const_get(mrb, mrb_obj_value(rc), MRB_SYM(DEFAULT));
}

// The generator given by an optional argument; Random::DEFAULT when absent.
static RandomData *random_from_arg(mrb_state *mrb, mrb_value v)
{
    return random_get(mrb, mrb_undef_p(v) || mrb_nil_p(v) ? random_default_value(mrb) : v);
}

// rand(max): a real for no bound, nil or 0, else an integer below |max|.
static mrb_value random_draw(mrb_state *mrb, RandomData *r, mrb_value max)
{
    if (!mrb_nil_p(max)) {
        const uint64_t n = random_magnitude(random_arg_int(mrb, max));
        if (n != 0) return mrb_int_value(mrb, random_below(r, n));
    }
    return mrb_float_value(mrb, random_real(r));
}

// Reseeds r and answers the seed it had before (nil when it had none).
static mrb_value random_reseed(mrb_state *mrb, RandomData *r, mrb_value seed)
{
    const mrb_value previous = r->seeded ? mrb_int_value(mrb, r->seed) : mrb_nil_value();
    random_apply_seed(mrb, r, seed);
    return previous;
}

static mrb_value random_initialize(mrb_state *mrb, mrb_value self)
{
    mrb_value seed = mrb_nil_value();
    mrb_get_args(mrb, "|o", &seed);
    mrb_check_frozen(mrb, mrb_obj_ptr(self));
    RandomData fresh;
    fresh.index = MT_INDEX_NEVER_SEEDED;
    fresh.seed = 0;
    fresh.seeded = FALSE;
    random_apply_seed(mrb, &fresh, seed);
    RandomData *r = (RandomData *)(DATA_TYPE(self) == &random_type ? DATA_PTR(self) : NULL);
    if (!r) {
        r = (RandomData *)mrb_malloc(mrb, sizeof(RandomData));
        mrb_data_init(self, r, &random_type);
    }
    *r = fresh;
    return self;
}

static mrb_value random_initialize_copy(mrb_state *mrb, mrb_value self)
{
    const mrb_value src = mrb_get_arg1(mrb);
    if (mrb_obj_equal(mrb, self, src)) return self;
    if (!mrb_data_p(src) || DATA_TYPE(src) != &random_type) mrb_raise(mrb, E_TYPE_ERROR, "wrong argument class");
    const RandomData *from = random_get(mrb, src);
    mrb_check_frozen(mrb, mrb_obj_ptr(self));
    RandomData *r = (RandomData *)(DATA_TYPE(self) == &random_type ? DATA_PTR(self) : NULL);
    if (!r) {
        r = (RandomData *)mrb_malloc(mrb, sizeof(RandomData));
        mrb_data_init(self, r, &random_type);
    }
    *r = *from;
    return self;
}

static mrb_value random_rand(mrb_state *mrb, mrb_value self)
{
    mrb_value max = mrb_nil_value();
    mrb_get_args(mrb, "|o", &max);
    return random_draw(mrb, random_get(mrb, self), max);
}

static mrb_value random_srand(mrb_state *mrb, mrb_value self)
{
    mrb_value seed = mrb_nil_value();
    mrb_get_args(mrb, "|o", &seed);
    return random_reseed(mrb, random_get(mrb, self), seed);
}

static mrb_value random_seed(mrb_state *mrb, mrb_value self)
{
    const RandomData *r = random_get(mrb, self);
    return r->seeded ? mrb_int_value(mrb, r->seed) : mrb_nil_value();
}

// Kernel#rand, Kernel#srand, Random.rand and Random.srand: on Random::DEFAULT.
static mrb_value random_default_rand(mrb_state *mrb, mrb_value self)
{
    (void)self;
    mrb_value max = mrb_nil_value();
    mrb_get_args(mrb, "|o", &max);
    return random_draw(mrb, random_get(mrb, random_default_value(mrb)), max);
}

static mrb_value random_default_srand(mrb_state *mrb, mrb_value self)
{
    (void)self;
    mrb_value seed = mrb_nil_value();
    mrb_get_args(mrb, "|o", &seed);
    return random_reseed(mrb, random_get(mrb, random_default_value(mrb)), seed);
}

// Reads the optional generator of shuffle/shuffle!: a positional argument or
// the keyword random:.
static RandomData *random_shuffle_args(mrb_state *mrb)
{
    mrb_value positional = mrb_undef_value();
    mrb_value keyword = mrb_undef_value();
    const mrb_sym names[] = {MRB_SYM(random)};
    const mrb_kwargs kw = {1, 0, names, &keyword, NULL};
    mrb_get_args(mrb, "|o:", &positional, &kw);
    return random_from_arg(mrb, mrb_undef_p(keyword) ? positional : keyword);
}

// Fisher-Yates from the last element down, one integer draw per position.
static void random_shuffle_values(RandomData *r, mrb_value *v, mrb_int len)
{
    for (mrb_int i = len - 1; i > 0; i--) {
        const mrb_int j = random_below(r, (uint64_t)i + 1);
        const mrb_value tmp = v[i];
        v[i] = v[j];
        v[j] = tmp;
    }
}

static mrb_value array_shuffle_bang(mrb_state *mrb, mrb_value self)
{
    RandomData *r = random_shuffle_args(mrb);
    struct RArray *a = mrb_ary_ptr(self);
    mrb_ary_modify(mrb, a);
    random_shuffle_values(r, ARY_PTR(a), ARY_LEN(a));
    return self;
}

static mrb_value array_shuffle(mrb_state *mrb, mrb_value self)
{
    RandomData *r = random_shuffle_args(mrb);
    const mrb_value copy = mrb_ary_new_from_values(mrb, RARRAY_LEN(self), RARRAY_PTR(self));
    struct RArray *a = mrb_ary_ptr(copy);
    random_shuffle_values(r, ARY_PTR(a), ARY_LEN(a));
    return copy;
}

// sample: one element (nil from an empty array), or with a count up to that
// many distinct positions, picked by a partial Fisher-Yates over a copy.
static mrb_value array_sample(mrb_state *mrb, mrb_value self)
{
    mrb_value count = mrb_undef_value();
    mrb_value generator = mrb_undef_value();
    mrb_value keyword = mrb_undef_value();
    const mrb_sym names[] = {MRB_SYM(random)};
    const mrb_kwargs kw = {1, 0, names, &keyword, NULL};
    const mrb_int argc = mrb_get_args(mrb, "|oo:", &count, &generator, &kw);
    // sample(generator) names the generator alone.
    if (argc == 1 && mrb_data_p(count) && DATA_TYPE(count) == &random_type) {
        generator = count;
        count = mrb_undef_value();
    }
    RandomData *r = random_from_arg(mrb, mrb_undef_p(keyword) ? generator : keyword);

    const mrb_int len = RARRAY_LEN(self);
    if (mrb_undef_p(count) || mrb_nil_p(count)) {
        if (len == 0) return mrb_nil_value();
        return RARRAY_PTR(self)[random_below(r, (uint64_t)len)];
    }
    mrb_int k = random_arg_int(mrb, count);
    if (k < 0) mrb_raise(mrb, E_ARGUMENT_ERROR, "negative sample number");
    if (k > len) k = len;
    const mrb_value copy = mrb_ary_new_from_values(mrb, len, RARRAY_PTR(self));
    mrb_value *v = RARRAY_PTR(copy);
    for (mrb_int i = 0; i < k; i++) {
        const mrb_int j = i + random_below(r, (uint64_t)(len - i));
        const mrb_value tmp = v[i];
        v[i] = v[j];
        v[j] = tmp;
    }
    return mrb_ary_resize(mrb, copy, k);
}

extern "C" void mrb_moonforge_random_gem_init(mrb_state *mrb)
{
    struct RClass *rc = mrb_define_class(mrb, "Random", mrb->object_class);
    MRB_SET_INSTANCE_TT(rc, MRB_TT_DATA);
    mrb_define_method(mrb, rc, "initialize", random_initialize, MRB_ARGS_OPT(1));
    mrb_define_method(mrb, rc, "initialize_copy", random_initialize_copy, MRB_ARGS_REQ(1));
    mrb_define_method(mrb, rc, "rand", random_rand, MRB_ARGS_OPT(1));
    mrb_define_method(mrb, rc, "srand", random_srand, MRB_ARGS_OPT(1));
    mrb_define_method(mrb, rc, "seed", random_seed, MRB_ARGS_NONE());
    mrb_define_class_method(mrb, rc, "rand", random_default_rand, MRB_ARGS_OPT(1));
    mrb_define_class_method(mrb, rc, "srand", random_default_srand, MRB_ARGS_OPT(1));

    mrb_define_module_function(mrb, mrb->kernel_module, "rand", random_default_rand, MRB_ARGS_OPT(1));
    mrb_define_module_function(mrb, mrb->kernel_module, "srand", random_default_srand, MRB_ARGS_OPT(1));

    struct RClass *ac = mrb->array_class;
    mrb_define_method(mrb, ac, "shuffle", array_shuffle, MRB_ARGS_OPT(1) | MRB_ARGS_KEY(1, 0));
    mrb_define_method(mrb, ac, "shuffle!", array_shuffle_bang, MRB_ARGS_OPT(1) | MRB_ARGS_KEY(1, 0));
    mrb_define_method(mrb, ac, "sample", array_sample, MRB_ARGS_OPT(2) | MRB_ARGS_KEY(1, 0));

    mrb_define_const(mrb, rc, "DEFAULT", mrb_obj_new(mrb, rc, 0, NULL));
}

extern "C" void mrb_moonforge_random_gem_final(mrb_state *mrb)
{
    (void)mrb;
}
