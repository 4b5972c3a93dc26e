// Script-value packers and conversions: read Integers, Floats and Strings
// out of interpreter values without calling into the interpreter, clamp
// them to what the stream items hold, and pack them with the plain
// threadstream packers.

#include "stream/ruby_pack.h"

#include <mruby/string.h>

#include <math.h>

// Strings longer than this cannot carry their length in a stream item.
#define RUBY_PACK_MAX_TEXT ((mrb_int)SDL_MAX_SINT32 - 8)

static Sint32 int_from_double(double d, Sint32 def)
{
    if (d != d || d == HUGE_VAL || d == -HUGE_VAL) {
        return def;
    }
    if (d >= 2147483647.0) {
        return SDL_MAX_SINT32;
    }
    if (d <= -2147483648.0) {
        return SDL_MIN_SINT32;
    }
    return (Sint32)d;
}

Sint32 ruby_value_to_int(mrb_value v, Sint32 def)
{
    if (mrb_integer_p(v)) {
        const mrb_int i = mrb_integer(v);
        if (i > SDL_MAX_SINT32) {
            return SDL_MAX_SINT32;
        }
        if (i < SDL_MIN_SINT32) {
            return SDL_MIN_SINT32;
        }
        return (Sint32)i;
    }
    if (mrb_float_p(v)) {
        return int_from_double((double)mrb_float(v), def);
    }
    return def;
}

float ruby_value_to_float(mrb_value v, float def)
{
    if (mrb_integer_p(v)) {
        return (float)mrb_integer(v);
    }
    if (mrb_float_p(v)) {
        const double d = (double)mrb_float(v);
        if (d != d || d == HUGE_VAL || d == -HUGE_VAL) {
            return def;
        }
        if (d > 3.4028234663852886e38) {
            return 3.4028234663852886e38f;
        }
        if (d < -3.4028234663852886e38) {
            return -3.4028234663852886e38f;
        }
        return (float)d;
    }
    return def;
}

int ruby_value_is_number(mrb_value v)
{
    return mrb_integer_p(v) || mrb_float_p(v);
}

int ruby_value_text(mrb_state *mrb, mrb_value v, const char **bytes, Sint32 *len)
{
    if (mrb_string_p(v)) {
        const mrb_int n = RSTRING_LEN(v);
        if (n > RUBY_PACK_MAX_TEXT) {
            return 0;
        }
        *bytes = RSTRING_PTR(v);
        *len = (Sint32)n;
        return 1;
    }
    if (mrb_symbol_p(v)) {
        mrb_int n = 0;
        const char *name = mrb_sym_name_len(mrb, mrb_symbol(v), &n);
        if (!name || n > RUBY_PACK_MAX_TEXT) {
            return 0;
        }
        *bytes = name;
        *len = (Sint32)n;
        return 1;
    }
    return 0;
}

int threadstream_pack_ruby_int(threadstream *s, mrb_value v)
{
    return threadstream_pack_int(s, ruby_value_to_int(v, 0));
}

int threadstream_pack_ruby_int_or_default(threadstream *s, mrb_value v, Sint32 def)
{
    return threadstream_pack_int(s, ruby_value_to_int(v, def));
}

int threadstream_pack_ruby_float(threadstream *s, mrb_value v)
{
    return threadstream_pack_float(s, ruby_value_to_float(v, 0.0f));
}

int threadstream_pack_ruby_float_or_default(threadstream *s, mrb_value v, float def)
{
    return threadstream_pack_float(s, ruby_value_to_float(v, def));
}

int threadstream_pack_ruby_string(threadstream *s, mrb_value v)
{
    if (!mrb_string_p(v)) {
        return threadstream_pack_buffer(s, NULL, 0);
    }
    if (RSTRING_LEN(v) > RUBY_PACK_MAX_TEXT) {
        SDL_SetError("string of %lld bytes is too long for a stream", (long long)RSTRING_LEN(v));
        return 0;
    }
    return threadstream_pack_buffer(s, RSTRING_PTR(v), (size_t)RSTRING_LEN(v));
}

int threadstream_pack_ruby_string_or_default(threadstream *s, mrb_value v, const char *def)
{
    if (!mrb_string_p(v)) {
        return threadstream_pack_string(s, def);
    }
    return threadstream_pack_ruby_string(s, v);
}
