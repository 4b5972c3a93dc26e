// Registration of the native script bindings (ffi_init) and the support
// library shared by the bindings and native extensions: type checks, error
// classes, boxed floats, foreign-object release, FFI::CPtr and Array#value.
// Depends on mruby and SDL; the classes themselves live in file.cpp,
// misc.cpp and mrb.cpp.
#include "bindings/ffi.h"

#include <stdlib.h>
#include <string.h>

#include <atomic>

#include <mruby/array.h>
#include <mruby/class.h>
#include <mruby/error.h>
#include <mruby/string.h>

#include "bindings/ffi_internal.h"

ffi_symbols ffi_syms;

static std::atomic<Uint32> ffi_start_time;
static render_context *ffi_rc;
static char *ffi_game_directory;
static char *ffi_base_directory;

Uint32 ffi_bindings_start_time(void)
{
    return ffi_start_time.load(std::memory_order_relaxed);
}

render_context *ffi_render_context(void)
{
    return ffi_rc;
}

const char *ffi_game_dir(void)
{
    return ffi_game_directory ? ffi_game_directory : "";
}

const char *ffi_base_dir(void)
{
    return ffi_base_directory ? ffi_base_directory : "";
}

const char *ffi_path_cstr(mrb_state *mrb, mrb_value str)
{
    if (memchr(RSTRING_PTR(str), '\0', (size_t)RSTRING_LEN(str))) {
        return NULL;
    }
    return mrb_string_cstr(mrb, str);
}

// Type checks

void mnf_typecheck_float(mrb_state *mrb, mrb_value value)
{
    mrb_check_type(mrb, value, MRB_TT_FLOAT);
}

void mnf_typecheck_int(mrb_state *mrb, mrb_value value)
{
    mrb_check_type(mrb, value, MRB_TT_INTEGER);
}

// How a value is named in the type-check messages.
static mrb_value ffi_type_text(mrb_state *mrb, mrb_value value)
{
    if (mrb_nil_p(value)) {
        return mrb_str_new_lit(mrb, "nil");
    }
    if (mrb_integer_p(value)) {
        return mrb_str_new_lit(mrb, "Fixnum");
    }
    if (mrb_symbol_p(value)) {
        return mrb_str_new_lit(mrb, "Symbol");
    }
    if (mrb_immediate_p(value)) {
        return mrb_obj_as_string(mrb, value);
    }
    return mrb_str_new_cstr(mrb, mrb_obj_classname(mrb, value));
}

void mnf_typecheck_bool(mrb_state *mrb, mrb_value value)
{
    if (mrb_nil_p(value) || mrb_true_p(value) || mrb_false_p(value)) {
        return;
    }
    mrb_raisef(mrb, E_TYPE_ERROR, "wrong argument type %S (expected true or false)", ffi_type_text(mrb, value));
}

void mnf_typecheck_aggregate(mrb_state *mrb, mrb_value value, struct RClass *expected_class,
                             const mrb_data_type *expected_type)
{
    if (mrb_data_p(value) && expected_type) {
        const mrb_data_type *actual = DATA_TYPE(value);
        if (actual && (actual == expected_type ||
                       (actual->struct_name && expected_type->struct_name &&
                        strcmp(actual->struct_name, expected_type->struct_name) == 0))) {
            return;
        }
    }
    mrb_value expected = expected_class ? mrb_str_new_cstr(mrb, mrb_class_name(mrb, expected_class))
                                        : mrb_str_new_lit(mrb, "?");
    mrb_raisef(mrb, E_TYPE_ERROR, "wrong argument type %S (expected %S)", ffi_type_text(mrb, value), expected);
}

mrb_value mnf_float_value(mrb_state *mrb, double value)
{
    return mrb_float_value(mrb, (mrb_float)value);
}

// mrb_exc_get_id looks the name up in Object at call time, raises
// "exception corrupted" for a non-class and falls back to Exception.
struct RClass *mnf_getruntime_error(mrb_state *mrb)
{
    return mrb_exc_get_id(mrb, mrb_intern_lit(mrb, "RuntimeError"));
}

struct RClass *mnf_getargument_error(mrb_state *mrb)
{
    return mrb_exc_get_id(mrb, mrb_intern_lit(mrb, "ArgumentError"));
}

void mnf_free_foreign_object(mrb_state *mrb, void *object)
{
    mnf_foreign_object *fo = (mnf_foreign_object *)object;
    if (!fo) {
        return;
    }
    if (fo->kind == MNF_FOREIGN_POINTER && fo->owns_pointer) {
        free(fo->pointer);
    }
    free(fo);
}

// FFI::CPtr

static void ffi_cptr_free(mrb_state *mrb, void *ptr)
{
    // The pointer belongs to whoever handed it over.
}

static const mrb_data_type ffi_cptr_type = {"CPtr", ffi_cptr_free};

static mrb_value ffi_cptr_initialize(mrb_state *mrb, mrb_value self)
{
    mrb_get_args(mrb, "");
    mrb_data_init(self, NULL, &ffi_cptr_type);
    return self;
}

mrb_value ffi_cptr_new(mrb_state *mrb, void *pointer)
{
    struct RClass *ffi = mrb_module_get(mrb, "FFI");
    struct RClass *cls = mrb_class_get_under(mrb, ffi, "CPtr");
    return mrb_obj_value(mrb_data_object_alloc(mrb, cls, pointer, &ffi_cptr_type));
}

void ffi_cptr_set(mrb_value object, void *pointer)
{
    if (mrb_data_p(object) && DATA_TYPE(object) == &ffi_cptr_type) {
        DATA_PTR(object) = pointer;
    }
}

static void ffi_cptr_register(mrb_state *mrb, struct RClass *ffi)
{
    struct RClass *cls = mrb_define_class_under(mrb, ffi, "CPtr", mrb->object_class);
    MRB_SET_INSTANCE_TT(cls, MRB_TT_DATA);
    mrb_define_method(mrb, cls, "initialize", ffi_cptr_initialize, MRB_ARGS_NONE());
}

// Array#value: element access that answers nil instead of raising.
static mrb_value ffi_array_value(mrb_state *mrb, mrb_value self)
{
    mrb_int index;
    mrb_get_args(mrb, "i", &index);
    return mrb_ary_entry(self, index);
}

// Registration

static mrb_value ffi_init_body(mrb_state *mrb, void *userdata)
{
    ffi_syms.strip_bang = mrb_intern_lit(mrb, "strip!");
    ffi_syms.empty_p = mrb_intern_lit(mrb, "empty?");
    ffi_syms.http_response_header = mrb_intern_lit(mrb, "http_response_header");
    ffi_syms.http_response_data = mrb_intern_lit(mrb, "http_response_data");
    ffi_syms.http_done = mrb_intern_lit(mrb, "http_done");

    struct RClass *ffi = mrb_define_module(mrb, "FFI");
    mrb_check_frozen(mrb, ffi);

    ffi_file_register(mrb, ffi);
    ffi_misc_register(mrb, ffi);
    ffi_mrb_register(mrb, ffi);
    ffi_cptr_register(mrb, ffi);

    // The remaining bindings register here, in this order: code generation,
    // Fn, geometry, outputs, matrices, the Array extensions, String.split,
    // the Hash and Enumerable extensions, then Zlib.
    ffi_codegen_register(mrb, ffi);
    ffi_fn_register(mrb);
    ffi_outputs_array_register(mrb);
    ffi_array_ext_register(mrb);
    ffi_string_split_register(mrb);
    ffi_hash_ext_register(mrb);
    ffi_zlib_register(mrb);

    mrb_define_method(mrb, mrb->array_class, "value", ffi_array_value, MRB_ARGS_REQ(1));
    return mrb_nil_value();
}

static int ffi_replace_string(char **slot, const char *value)
{
    char *copy = SDL_strdup(value);
    if (!copy) {
        SDL_OutOfMemory();
        return 0;
    }
    SDL_free(*slot);
    *slot = copy;
    return 1;
}

int ffi_init(const char *game_dir, const char *base_dir, mrb_state *mrb, render_context *rc)
{
    if (!mrb || !game_dir || !base_dir) {
        SDL_InvalidParamError(!mrb ? "mrb" : !game_dir ? "game_dir" : "base_dir");
        return 0;
    }

    ffi_start_time.store(SDL_GetTicks(), std::memory_order_relaxed);
    ffi_rc = rc;
    if (!ffi_replace_string(&ffi_game_directory, game_dir) || !ffi_replace_string(&ffi_base_directory, base_dir)) {
        return 0;
    }

    // Registration can raise (a frozen FFI, memory); outside a Ruby frame an
    // unhandled raise would abort the process, so it runs protected and the
    // exception is handed back through mrb->exc.
    mrb_bool failed = FALSE;
    const int ai = mrb_gc_arena_save(mrb);
    mrb_value result = mrb_protect_error(mrb, ffi_init_body, NULL, &failed);
    if (failed) {
        mrb_value message = mrb_funcall(mrb, result, "message", 0);
        if (mrb->exc || !mrb_string_p(message)) {
            SDL_SetError("Registering the script bindings raised %s", mrb_obj_classname(mrb, result));
        } else {
            SDL_SetError("Registering the script bindings raised %s: %.*s", mrb_obj_classname(mrb, result),
                         (int)RSTRING_LEN(message), RSTRING_PTR(message));
        }
        mrb->exc = mrb_obj_ptr(result);
        mrb_gc_arena_restore(mrb, ai);
        return 0;
    }
    mrb_gc_arena_restore(mrb, ai);
    return 1;
}
