// Runs Ruby snippets in a test's interpreter and answers what they gave.
#pragma once

#include <gtest/gtest.h>

#include <mruby.h>
#include <mruby/compile.h>
#include <mruby/string.h>

#include <string>

// The inspected result, or "Class: message" for what the code raised.
inline std::string mruby_run(mrb_state *mrb, const std::string &code)
{
    const int ai = mrb_gc_arena_save(mrb);
    mrb_value v = mrb_load_nstring(mrb, code.data(), code.size());
    std::string out;
    if (mrb->exc) {
        mrb_value e = mrb_obj_value(mrb->exc);
        mrb->exc = nullptr;
        mrb_value msg = mrb_funcall(mrb, e, "message", 0);
        out = std::string(mrb_obj_classname(mrb, e)) + ": " + std::string(RSTRING_PTR(msg), RSTRING_LEN(msg));
    } else {
        mrb_value s = mrb_inspect(mrb, v);
        out.assign(RSTRING_PTR(s), RSTRING_LEN(s));
    }
    mrb_gc_arena_restore(mrb, ai);
    return out;
}

// The bytes of the String the code answers, or "<not a String>".
inline std::string mruby_run_bytes(mrb_state *mrb, const std::string &code)
{
    const int ai = mrb_gc_arena_save(mrb);
    mrb_value v = mrb_load_nstring(mrb, code.data(), code.size());
    EXPECT_EQ(mrb->exc, nullptr) << code;
    mrb->exc = nullptr;
    std::string out = mrb_string_p(v) ? std::string(RSTRING_PTR(v), RSTRING_LEN(v)) : "<not a String>";
    mrb_gc_arena_restore(mrb, ai);
    return out;
}
