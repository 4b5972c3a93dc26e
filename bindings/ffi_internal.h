// Registration entry points of the binding modules, called by ffi_init in
// order, and helpers the modules share.
#pragma once

#include <mruby.h>

void ffi_file_register(mrb_state *mrb, struct RClass *ffi);
void ffi_misc_register(mrb_state *mrb, struct RClass *ffi);
void ffi_mrb_register(mrb_state *mrb, struct RClass *ffi);

// The String as NUL-terminated text for use as a path, or null when it holds
// a NUL byte (such a path would silently name a different file).
const char *ffi_path_cstr(mrb_state *mrb, mrb_value str);
