// Registration entry points of the binding modules, called by ffi_init in
// order, and helpers the modules share.
#pragma once

#include <stddef.h>

#include <SDL.h>

#include <mruby.h>

void ffi_file_register(mrb_state *mrb, struct RClass *ffi);
void ffi_misc_register(mrb_state *mrb, struct RClass *ffi);
void ffi_mrb_register(mrb_state *mrb, struct RClass *ffi);
// ORB::Codegen (dump, eval_hash) and FFI::Compiler#dump_codegen.
void ffi_codegen_register(mrb_state *mrb, struct RClass *ffi);
// The core class extensions, each registered in its slot: the top-level
// class Fn (and the same helpers on the runtime's ORB::Fn); resolved? and add_dwim on ORB::OutputsArray (only when the
// runtime library has defined it); the Array class iteration methods;
// String.split; the Hash properties, Hash and Enumerable class methods.
void ffi_fn_register(mrb_state *mrb);
void ffi_outputs_array_register(mrb_state *mrb);
void ffi_array_ext_register(mrb_state *mrb);
void ffi_string_split_register(mrb_state *mrb);
void ffi_hash_ext_register(mrb_state *mrb);
// The top-level class Zlib.
void ffi_zlib_register(mrb_state *mrb);

// zlib streams of byte buffers. Both answer an SDL_malloc'ed buffer and its
// length, or null with the reason in SDL_GetError. Decompression refuses
// invalid and truncated streams and those that expand beyond limit bytes;
// Zlib.uncompress allows ZLIB_UNCOMPRESS_MAX (1 GiB).
#define ZLIB_UNCOMPRESS_MAX ((size_t)1 << 30)
Uint8 *zlib_compress_bytes(const Uint8 *data, size_t len, size_t *out_len);
Uint8 *zlib_uncompress_bytes(const Uint8 *data, size_t len, size_t limit, size_t *out_len);

// The String as NUL-terminated text for use as a path, or null when it holds
// a NUL byte (such a path would silently name a different file).
const char *ffi_path_cstr(mrb_state *mrb, mrb_value str);
