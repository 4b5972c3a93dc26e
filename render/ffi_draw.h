// FFI::Draw: the native draw binding the runtime library calls to write
// primitives and window commands into the current scene stream.
#pragma once

struct mrb_state;

// Defines the class FFI::Draw (the module FFI must exist) with its methods.
void ffi_draw_define(mrb_state *mrb);
