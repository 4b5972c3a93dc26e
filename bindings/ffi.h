// Native script bindings: ffi_init registers the FFI module and its classes
// (FFI::File, FFI::Misc, MRB reached as FFI::MRB, FFI::CPtr) and the core
// class extensions in a fresh interpreter. The mnf_* and ffi_cptr_* support
// functions are shared by the bindings and handed to native extensions.
// Everything here runs on the thread that owns the interpreter.
#pragma once

#include <SDL.h>

#include <mruby.h>
#include <mruby/data.h>

struct render_context;

// Record released by mnf_free_foreign_object. Native extensions make these
// with the system allocator (malloc).
#define MNF_FOREIGN_POINTER 1
struct mnf_foreign_object {
    Sint32 kind;           // MNF_FOREIGN_POINTER: pointer is meaningful
    void *pointer;
    Sint32 owns_pointer;   // non-zero: pointer is freed with free()
};

// Symbols interned once per ffi_init for the bindings that need them.
struct ffi_symbols {
    mrb_sym strip_bang;             // strip!
    mrb_sym empty_p;                // empty?
    mrb_sym http_response_header;
    mrb_sym http_response_data;
    mrb_sym http_done;
};
extern ffi_symbols ffi_syms;

// Registers every binding in mrb. Keeps copies of both directories and the
// render context pointer for the bindings. 1 on success; 0 with the reason
// in SDL_GetError, and when the interpreter raised (FFI frozen, out of
// memory) the exception is left in mrb->exc for the caller to report.
int ffi_init(const char *game_dir, const char *base_dir, mrb_state *mrb, render_context *rc);

// SDL ticks when ffi_init last ran. Asynchronous results that carry an
// older start time belong to a previous interpreter and are dropped.
Uint32 ffi_bindings_start_time(void);
render_context *ffi_render_context(void);
const char *ffi_game_dir(void);
const char *ffi_base_dir(void);

// Type checks; each raises TypeError when the value does not fit.
void mnf_typecheck_float(mrb_state *mrb, mrb_value value);
void mnf_typecheck_int(mrb_state *mrb, mrb_value value);
// true, false and nil pass.
void mnf_typecheck_bool(mrb_state *mrb, mrb_value value);
// A data object whose data type has the same name as expected_type passes
// (names compared as text, so equal types from different extensions match).
void mnf_typecheck_aggregate(mrb_state *mrb, mrb_value value, struct RClass *expected_class,
                             const mrb_data_type *expected_type);

mrb_value mnf_float_value(mrb_state *mrb, double value);

// RuntimeError and ArgumentError as currently bound in Object (Exception
// when the constant names a class outside the Exception tree).
struct RClass *mnf_getruntime_error(mrb_state *mrb);
struct RClass *mnf_getargument_error(mrb_state *mrb);

// dfree-compatible release of an mnf_foreign_object.
void mnf_free_foreign_object(mrb_state *mrb, void *object);

// FFI::CPtr: a data object holding one raw pointer it never frees.
mrb_value ffi_cptr_new(mrb_state *mrb, void *pointer);
// Stores pointer into an FFI::CPtr; other values are left alone.
void ffi_cptr_set(mrb_value object, void *pointer);
