// Script-value packers: pack one interpreter value (an Integer, a Float, a
// String or anything else) as one stream item, and the lenient number
// conversions behind them that the primitive packers share. Numbers that
// cannot be represented are sanitised: NaN and infinities take the
// default, finite values beyond the target range saturate.
#pragma once

#include <SDL.h>

#include <mruby.h>

#include "stream/threadstream.h"

// Integer (immediate or boxed) and Float count as numbers; nil, false,
// true, undefined and every other object give the default.
Sint32 ruby_value_to_int(mrb_value v, Sint32 def);
float ruby_value_to_float(mrb_value v, float def);
// 1 when v is an Integer or a Float.
int ruby_value_is_number(mrb_value v);
// The bytes of a String or the name of a Symbol; 0 for anything else and
// for a text too long for a stream string.
int ruby_value_text(mrb_state *mrb, mrb_value v, const char **bytes, Sint32 *len);

int threadstream_pack_ruby_int(threadstream *s, mrb_value v);
int threadstream_pack_ruby_int_or_default(threadstream *s, mrb_value v, Sint32 def);
int threadstream_pack_ruby_float(threadstream *s, mrb_value v);
int threadstream_pack_ruby_float_or_default(threadstream *s, mrb_value v, float def);
// A String packs its bytes; anything else packs the absent string.
int threadstream_pack_ruby_string(threadstream *s, mrb_value v);
// As above, but a value that is not a String packs def (absent when none).
int threadstream_pack_ruby_string_or_default(threadstream *s, mrb_value v, const char *def);
