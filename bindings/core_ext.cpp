// Native versions of idioms that game code uses on every tick: attribute-style
// Hash access (with methods defined lazily on first use), class-level
// iteration helpers on Array, Hash, Enumerable and Fn, a byte-wise
// String.split, and the push logic of the runtime's ORB::OutputsArray.
// Depends on mruby (classes, procs with environments, arrays, hashes).
#include <string.h>

#include <mruby.h>
#include <mruby/array.h>
#include <mruby/class.h>
#include <mruby/hash.h>
#include <mruby/proc.h>
#include <mruby/string.h>
#include <mruby/variable.h>

#include <SDL.h>

#include "bindings/ffi_internal.h"

// Classes and symbols looked up once per interpreter at registration.
struct core_ext_state {
    mrb_state *mrb;
    struct RClass *enumerable;
    struct RClass *struct_class;   // null without the struct gem
    struct RClass *open_entity;    // null before the runtime library defines it
    struct RClass *value_type;
    mrb_sym original_method_missing;
    mrb_sym original_split;
    mrb_sym to_enum;
    mrb_sym to_a;
    mrb_sym call;
    mrb_sym draw_override;
    mrb_sym primitive_marker;
    mrb_sym pending;
    mrb_sym text;
    mrb_sym path;
    mrb_sym x;
    mrb_sym array_primitive_p;
    mrb_sym mark_and_id_bang;
};

static core_ext_state core_ext;

// Nesting of Arrays that add_dwim expands; beyond it the input is treated as
// runaway (deep nesting would exhaust the native stack).
#define CORE_EXT_DWIM_MAX_DEPTH 256

static void core_ext_raise_no_block(mrb_state *mrb)
{
    mrb_raise(mrb, E_ARGUMENT_ERROR, "no block given");
}

static mrb_value core_ext_call_block(mrb_state *mrb, mrb_value blk, mrb_int argc, const mrb_value *argv)
{
    if (mrb_proc_p(blk)) {
        return mrb_yield_argv(mrb, blk, argc, argv);
    }
    return mrb_funcall_argv(mrb, blk, core_ext.call, argc, argv);
}

// Hash properties

static mrb_value hash_property_get(mrb_state *mrb, mrb_value self)
{
    const mrb_int argc = mrb_get_argc(mrb);
    if (argc != 0) {
        mrb_argnum_error(mrb, argc, 0, 0);
    }
    return mrb_hash_get(mrb, self, mrb_proc_cfunc_env_get(mrb, 0));
}

static mrb_value hash_property_set(mrb_state *mrb, mrb_value self)
{
    mrb_value value = mrb_get_arg1(mrb);
    mrb_hash_set(mrb, self, mrb_proc_cfunc_env_get(mrb, 0), value);
    return value;
}

static void hash_define_property(mrb_state *mrb, mrb_sym name, mrb_sym key, mrb_bool setter)
{
    mrb_value env = mrb_symbol_value(key);
    struct RProc *proc =
        mrb_proc_new_cfunc_with_env(mrb, setter ? hash_property_set : hash_property_get, 1, &env);
    mrb_method_t m;
    MRB_METHOD_FROM_PROC(m, proc);
    mrb_define_method_raw(mrb, mrb->hash_class, name, m);
}

static const char *hash_symbol_name(mrb_state *mrb, mrb_sym name, mrb_int *len)
{
    const char *s = mrb_sym_name_len(mrb, name, len);
    if (!s) {
        mrb_raisef(mrb, E_TYPE_ERROR, "%Y cannot be converted to String", mrb_symbol_value(name));
    }
    return s;
}

// Defines the getter `name` (key: the name, or the name without a trailing
// underscore, so `class_` reads :class) and answers its value for self.
static mrb_value hash_lazy_get(mrb_state *mrb, mrb_value self, mrb_sym name)
{
    mrb_int len;
    const char *s = hash_symbol_name(mrb, name, &len);
    mrb_sym key = name;
    if (len > 1 && s[len - 1] == '_') {
        key = mrb_intern(mrb, s, (size_t)len - 1);
    }
    hash_define_property(mrb, name, key, FALSE);
    return mrb_hash_get(mrb, self, mrb_symbol_value(key));
}

// Defines the setter `name` (ending in "=") and stores value under its key.
static mrb_value hash_lazy_set(mrb_state *mrb, mrb_value self, mrb_sym name, mrb_value value)
{
    mrb_int len;
    const char *s = hash_symbol_name(mrb, name, &len);
    mrb_sym key = mrb_intern(mrb, s, (size_t)len - 1);
    hash_define_property(mrb, name, key, TRUE);
    mrb_hash_set(mrb, self, mrb_symbol_value(key), value);
    return value;
}

static mrb_value hash_method_missing(mrb_state *mrb, mrb_value self)
{
    mrb_sym name;
    const mrb_value *argv;
    mrb_int argc;
    mrb_value blk;
    mrb_get_args(mrb, "n*&", &name, &argv, &argc, &blk);

    mrb_int len;
    const char *s = hash_symbol_name(mrb, name, &len);
    const char last = len > 0 ? s[len - 1] : '\0';
    if (mrb_nil_p(blk) && last != '?' && last != '!') {
        if (argc == 1 && last == '=' && len > 1) {
            return hash_lazy_set(mrb, self, name, argv[0]);
        }
        if (argc == 0) {
            return hash_lazy_get(mrb, self, name);
        }
    }

    // Everything else gets the interpreter's own missing-method error.
    mrb_value args = mrb_ary_new_capa(mrb, argc + 1);
    mrb_ary_push(mrb, args, mrb_symbol_value(name));
    for (mrb_int i = 0; i < argc; i++) {
        mrb_ary_push(mrb, args, argv[i]);
    }
    return mrb_funcall_with_block(mrb, self, core_ext.original_method_missing, argc + 1, RARRAY_PTR(args), blk);
}

static mrb_value hash_get_hash_property(mrb_state *mrb, mrb_value self)
{
    mrb_sym name;
    mrb_get_args(mrb, "n", &name);
    return hash_lazy_get(mrb, self, name);
}

static mrb_value hash_set_hash_property(mrb_state *mrb, mrb_value self)
{
    mrb_sym name;
    mrb_value value;
    mrb_get_args(mrb, "no", &name, &value);
    mrb_int len;
    const char *s = hash_symbol_name(mrb, name, &len);
    if (len < 2 || s[len - 1] != '=') {
        mrb_raisef(mrb, E_ARGUMENT_ERROR, "~Hash#__set_hash_property__~ expects a setter name ending in =, but received %n.",
                   name);
    }
    return hash_lazy_set(mrb, self, name, value);
}

// Property names with the key each reads and writes (null: the name itself).
static const char *const hash_property_table[][2] = {
    {"x", NULL},
    {"x1", "x"},
    {"y", NULL},
    {"y1", "y"},
    {"dx", NULL},
    {"dy", NULL},
    {"x2", NULL},
    {"y2", NULL},
    {"x3", NULL},
    {"y3", NULL},
    {"w", NULL},
    {"h", NULL},
    {"text", NULL},
    {"size_enum", NULL},
    {"size_px", NULL},
    {"alignment_enum", NULL},
    {"vertical_alignment_enum", NULL},
    {"pos", NULL},
    {"z", NULL},
    {"r", NULL},
    {"g", NULL},
    {"b", NULL},
    {"a", NULL},
    {"font", NULL},
    {"tile_x", NULL},
    {"tile_y", NULL},
    {"tile_w", NULL},
    {"tile_h", NULL},
    {"source_x", NULL},
    {"source_y", NULL},
    {"source_w", NULL},
    {"source_h", NULL},
    {"flip_horizontally", NULL},
    {"flip_vertically", NULL},
    {"angle_anchor_x", NULL},
    {"angle_anchor_y", NULL},
    {"angle", NULL},
    {"angle_x", NULL},
    {"angle_y", NULL},
    {"blendmode_enum", NULL},
    {"at", NULL},
    {"path", NULL},
    {"anchor_x", NULL},
    {"anchor_y", NULL},
    {"s", NULL},
    {"id", NULL},
    {"area", NULL},
    {"hypotenuse", NULL},
    {"tick", "s"},
};

// Hash class methods

// Merges other into target; with a block, keys present in both get
// block(key, current, other's).
static void hash_merge_into(mrb_state *mrb, mrb_value target, mrb_value other, mrb_value blk)
{
    if (mrb_nil_p(blk)) {
        mrb_hash_merge(mrb, target, other);
        return;
    }
    mrb_value keys = mrb_hash_keys(mrb, other);
    const int ai = mrb_gc_arena_save(mrb);
    for (mrb_int i = 0; i < RARRAY_LEN(keys); i++) {
        mrb_value key = mrb_ary_ref(mrb, keys, i);
        if (!mrb_hash_key_p(mrb, other, key)) {
            continue;   // removed by an earlier block call
        }
        mrb_value value = mrb_hash_get(mrb, other, key);
        if (mrb_hash_key_p(mrb, target, key)) {
            mrb_value args[3] = {key, mrb_hash_get(mrb, target, key), value};
            value = core_ext_call_block(mrb, blk, 3, args);
        }
        mrb_hash_set(mrb, target, key, value);
        mrb_gc_arena_restore(mrb, ai);
    }
}

static mrb_value hash_class_merge(mrb_state *mrb, mrb_value self)
{
    mrb_value hash, other, blk;
    mrb_get_args(mrb, "HH&", &hash, &other, &blk);
    mrb_value result = mrb_hash_dup(mrb, hash);
    hash_merge_into(mrb, result, other, blk);
    return result;
}

static mrb_value hash_class_merge_bang(mrb_state *mrb, mrb_value self)
{
    mrb_value hash, other, blk;
    mrb_get_args(mrb, "HH&", &hash, &other, &blk);
    hash_merge_into(mrb, hash, other, blk);
    return hash;
}

static mrb_value hash_class_select(mrb_state *mrb, mrb_value self)
{
    mrb_value hash, blk;
    mrb_get_args(mrb, "H&", &hash, &blk);
    if (mrb_nil_p(blk)) {
        return mrb_funcall_argv(mrb, hash, core_ext.to_enum, 0, NULL);
    }
    mrb_value keys = mrb_hash_keys(mrb, hash);
    mrb_value result = mrb_ary_new(mrb);
    const int ai = mrb_gc_arena_save(mrb);
    for (mrb_int i = 0; i < RARRAY_LEN(keys); i++) {
        mrb_value key = mrb_ary_ref(mrb, keys, i);
        if (!mrb_hash_key_p(mrb, hash, key)) {
            continue;
        }
        mrb_value pair[2] = {key, mrb_hash_get(mrb, hash, key)};
        if (mrb_test(core_ext_call_block(mrb, blk, 2, pair))) {
            mrb_ary_push(mrb, result, mrb_assoc_new(mrb, pair[0], pair[1]));
        }
        mrb_gc_arena_restore(mrb, ai);
    }
    return result;
}

// Array class methods. Every loop re-reads the length, so a block that
// shrinks the Array ends the walk instead of reading past its end.

static mrb_value array_args(mrb_state *mrb, const char *method, mrb_bool need_block, mrb_value *blk)
{
    mrb_value ary;
    mrb_get_args(mrb, "o&", &ary, blk);
    if (!mrb_array_p(ary)) {
        mrb_raisef(mrb, E_TYPE_ERROR, "~Array::%s~ expects an array, but received %v.", method, ary);
    }
    if (need_block && mrb_nil_p(*blk)) {
        core_ext_raise_no_block(mrb);
    }
    return ary;
}

enum array_walk_kind {
    ARRAY_WALK_MAP,
    ARRAY_WALK_MAP_WITH_INDEX,
    ARRAY_WALK_EACH,
    ARRAY_WALK_EACH_WITH_INDEX,
    ARRAY_WALK_SELECT,
    ARRAY_WALK_REJECT,
    ARRAY_WALK_FILTER_MAP,
    ARRAY_WALK_FLAT_MAP,
};

static mrb_value array_walk(mrb_state *mrb, const char *method, array_walk_kind kind)
{
    mrb_value blk;
    mrb_value ary = array_args(mrb, method, TRUE, &blk);
    const mrb_bool with_index = kind == ARRAY_WALK_MAP_WITH_INDEX || kind == ARRAY_WALK_EACH_WITH_INDEX;
    const mrb_bool collects = kind != ARRAY_WALK_EACH && kind != ARRAY_WALK_EACH_WITH_INDEX;
    mrb_value result = collects ? mrb_ary_new_capa(mrb, RARRAY_LEN(ary)) : mrb_nil_value();
    const int ai = mrb_gc_arena_save(mrb);
    for (mrb_int i = 0; i < RARRAY_LEN(ary); i++) {
        mrb_value args[2] = {RARRAY_PTR(ary)[i], mrb_fixnum_value(i)};
        mrb_gc_protect(mrb, args[0]);
        mrb_value v = mrb_yield_argv(mrb, blk, with_index ? 2 : 1, args);
        switch (kind) {
        case ARRAY_WALK_MAP:
        case ARRAY_WALK_MAP_WITH_INDEX:
            mrb_ary_push(mrb, result, v);
            break;
        case ARRAY_WALK_SELECT:
            if (mrb_test(v)) {
                mrb_ary_push(mrb, result, args[0]);
            }
            break;
        case ARRAY_WALK_REJECT:
            if (!mrb_test(v)) {
                mrb_ary_push(mrb, result, args[0]);
            }
            break;
        case ARRAY_WALK_FILTER_MAP:
            if (mrb_test(v)) {
                mrb_ary_push(mrb, result, v);
            }
            break;
        case ARRAY_WALK_FLAT_MAP:
            if (!mrb_array_p(v)) {
                mrb_raisef(mrb, E_TYPE_ERROR, "~Array::flat_map~ expects a block that returns an array, but received %v.",
                           v);
            }
            mrb_ary_concat(mrb, result, v);
            break;
        default:
            break;
        }
        mrb_gc_arena_restore(mrb, ai);
    }
    return result;
}

static mrb_value array_class_map(mrb_state *mrb, mrb_value self) { return array_walk(mrb, "map", ARRAY_WALK_MAP); }

static mrb_value array_class_map_with_index(mrb_state *mrb, mrb_value self)
{
    return array_walk(mrb, "map_with_index", ARRAY_WALK_MAP_WITH_INDEX);
}

static mrb_value array_class_each(mrb_state *mrb, mrb_value self) { return array_walk(mrb, "each", ARRAY_WALK_EACH); }

static mrb_value array_class_each_with_index(mrb_state *mrb, mrb_value self)
{
    return array_walk(mrb, "each", ARRAY_WALK_EACH_WITH_INDEX);
}

static mrb_value array_class_select(mrb_state *mrb, mrb_value self)
{
    return array_walk(mrb, "select", ARRAY_WALK_SELECT);
}

static mrb_value array_class_reject(mrb_state *mrb, mrb_value self)
{
    return array_walk(mrb, "reject", ARRAY_WALK_REJECT);
}

static mrb_value array_class_filter_map(mrb_state *mrb, mrb_value self)
{
    return array_walk(mrb, "filter_map", ARRAY_WALK_FILTER_MAP);
}

static mrb_value array_class_flat_map(mrb_state *mrb, mrb_value self)
{
    return array_walk(mrb, "flat_map", ARRAY_WALK_FLAT_MAP);
}

static mrb_value array_class_map_bang(mrb_state *mrb, mrb_value self)
{
    mrb_value blk;
    mrb_value ary = array_args(mrb, "map!", TRUE, &blk);
    const int ai = mrb_gc_arena_save(mrb);
    for (mrb_int i = 0; i < RARRAY_LEN(ary); i++) {
        mrb_value v = mrb_yield(mrb, blk, RARRAY_PTR(ary)[i]);
        if (i < RARRAY_LEN(ary)) {
            mrb_ary_set(mrb, ary, i, v);
        }
        mrb_gc_arena_restore(mrb, ai);
    }
    return ary;
}

// Compacts ary in place to the elements the block keeps (keep_truthy: those
// it answers true for), in the order they were visited. Kept elements move
// down to index `kept`, which never passes the walk index; when the block
// has shortened the Array below it, the element goes at the new end, so no
// nil holes appear.
static mrb_value array_compact_in_place(mrb_state *mrb, const char *method, mrb_bool keep_truthy)
{
    mrb_value blk;
    mrb_value ary = array_args(mrb, method, TRUE, &blk);
    mrb_int kept = 0;
    const int ai = mrb_gc_arena_save(mrb);
    for (mrb_int i = 0; i < RARRAY_LEN(ary); i++) {
        mrb_value e = RARRAY_PTR(ary)[i];
        mrb_gc_protect(mrb, e);
        const mrb_bool truthy = mrb_test(mrb_yield(mrb, blk, e));
        if (truthy == keep_truthy) {
            if (kept > RARRAY_LEN(ary)) {
                kept = RARRAY_LEN(ary);
            }
            mrb_ary_set(mrb, ary, kept++, e);
        }
        mrb_gc_arena_restore(mrb, ai);
    }
    if (kept < RARRAY_LEN(ary)) {
        mrb_ary_resize(mrb, ary, kept);
    }
    return ary;
}

static mrb_value array_class_select_bang(mrb_state *mrb, mrb_value self)
{
    return array_compact_in_place(mrb, "select!", TRUE);
}

static mrb_value array_class_reject_bang(mrb_state *mrb, mrb_value self)
{
    return array_compact_in_place(mrb, "reject!", FALSE);
}

static mrb_value array_class_compact(mrb_state *mrb, mrb_value self)
{
    mrb_value blk;
    mrb_value ary = array_args(mrb, "compact", FALSE, &blk);
    const mrb_int n = RARRAY_LEN(ary);
    mrb_value result = mrb_ary_new_capa(mrb, n);
    for (mrb_int i = 0; i < n; i++) {
        if (!mrb_nil_p(RARRAY_PTR(ary)[i])) {
            mrb_ary_push(mrb, result, RARRAY_PTR(ary)[i]);
        }
    }
    return result;
}

static mrb_value array_class_compact_bang(mrb_state *mrb, mrb_value self)
{
    mrb_value blk;
    mrb_value ary = array_args(mrb, "compact!", FALSE, &blk);
    const mrb_int n = RARRAY_LEN(ary);
    mrb_int kept = 0;
    for (mrb_int i = 0; i < n; i++) {
        if (!mrb_nil_p(RARRAY_PTR(ary)[i])) {
            if (kept != i) {
                mrb_ary_set(mrb, ary, kept, RARRAY_PTR(ary)[i]);
            }
            kept++;
        }
    }
    if (kept < n) {
        mrb_ary_resize(mrb, ary, kept);
    }
    return ary;
}

// Enumerable class methods

static mrb_value enumerable_class_select(mrb_state *mrb, mrb_value self)
{
    mrb_value obj, blk;
    mrb_get_args(mrb, "o&", &obj, &blk);
    if (mrb_nil_p(blk)) {
        return mrb_funcall_argv(mrb, obj, core_ext.to_enum, 0, NULL);
    }
    mrb_value ary = obj;
    if (!mrb_array_p(ary)) {
        if (mrb_respond_to(mrb, obj, core_ext.to_a)) {
            ary = mrb_funcall_argv(mrb, obj, core_ext.to_a, 0, NULL);
        }
        if (!mrb_array_p(ary)) {
            mrb_raisef(mrb, E_TYPE_ERROR, "~Enumerable::select~ expects an enumerable, but received %v.", obj);
        }
    }
    mrb_value result = mrb_ary_new(mrb);
    const int ai = mrb_gc_arena_save(mrb);
    for (mrb_int i = 0; i < RARRAY_LEN(ary); i++) {
        mrb_value e = RARRAY_PTR(ary)[i];
        mrb_gc_protect(mrb, e);
        if (mrb_test(core_ext_call_block(mrb, blk, 1, &e))) {
            mrb_ary_push(mrb, result, e);
        }
        mrb_gc_arena_restore(mrb, ai);
    }
    return result;
}

// Fn class methods

// The array argument of the Fn helpers: nil walks nothing, anything but an
// Array is refused.
static mrb_bool fn_array(mrb_state *mrb, const char *method, mrb_value ary)
{
    if (mrb_nil_p(ary)) {
        return FALSE;
    }
    if (!mrb_array_p(ary)) {
        mrb_raisef(mrb, E_TYPE_ERROR, "~Fn::%s~ expects an array, but received %v.", method, ary);
    }
    return TRUE;
}

static mrb_value fn_send(mrb_state *mrb, const char *method, mrb_bool with_index)
{
    mrb_value ary, receiver;
    mrb_sym mid;
    mrb_get_args(mrb, "oon", &ary, &receiver, &mid);
    if (!fn_array(mrb, method, ary)) {
        return mrb_nil_value();
    }
    const int ai = mrb_gc_arena_save(mrb);
    for (mrb_int i = 0; i < RARRAY_LEN(ary); i++) {
        mrb_value args[2] = {RARRAY_PTR(ary)[i], mrb_fixnum_value(i)};
        mrb_funcall_argv(mrb, receiver, mid, with_index ? 2 : 1, args);
        mrb_gc_arena_restore(mrb, ai);
    }
    return mrb_nil_value();
}

static mrb_value fn_class_each_send(mrb_state *mrb, mrb_value self) { return fn_send(mrb, "each_send", FALSE); }

static mrb_value fn_class_each_with_index_send(mrb_state *mrb, mrb_value self)
{
    return fn_send(mrb, "each_with_index_send", TRUE);
}

// The callable of Fn.each, Fn.each_with_index and Fn.map: the second
// argument, or the block when there is none.
static mrb_value fn_walk(mrb_state *mrb, const char *method, mrb_bool with_index, mrb_bool collect)
{
    mrb_value ary, fn = mrb_nil_value(), blk;
    mrb_get_args(mrb, "o|o&", &ary, &fn, &blk);
    if (mrb_nil_p(fn)) {
        fn = blk;
    }
    if (mrb_nil_p(fn)) {
        core_ext_raise_no_block(mrb);
    }
    mrb_value result = collect ? mrb_ary_new(mrb) : mrb_nil_value();
    if (!fn_array(mrb, method, ary)) {
        return result;
    }
    const int ai = mrb_gc_arena_save(mrb);
    for (mrb_int i = 0; i < RARRAY_LEN(ary); i++) {
        mrb_value args[2] = {RARRAY_PTR(ary)[i], mrb_fixnum_value(i)};
        mrb_value v = core_ext_call_block(mrb, fn, with_index ? 2 : 1, args);
        if (collect) {
            mrb_ary_push(mrb, result, v);
        }
        mrb_gc_arena_restore(mrb, ai);
    }
    return result;
}

static mrb_value fn_class_each(mrb_state *mrb, mrb_value self) { return fn_walk(mrb, "each", FALSE, FALSE); }

static mrb_value fn_class_each_with_index(mrb_state *mrb, mrb_value self)
{
    return fn_walk(mrb, "each_with_index", TRUE, FALSE);
}

static mrb_value fn_class_map(mrb_state *mrb, mrb_value self) { return fn_walk(mrb, "map", FALSE, TRUE); }

// String.split

static void split_push(mrb_state *mrb, mrb_value result, const char *p, mrb_int len)
{
    const int ai = mrb_gc_arena_save(mrb);
    mrb_ary_push(mrb, result, mrb_str_new(mrb, p, (size_t)len));
    mrb_gc_arena_restore(mrb, ai);
}

// Fields of s split on the byte c. With limit >= 1 at most limit fields, the
// last holding the rest of the string, and empty fields are kept; otherwise
// every field, with trailing empty fields dropped.
static mrb_value split_on_byte(mrb_state *mrb, const char *s, mrb_int len, char c, mrb_int limit)
{
    mrb_value result = mrb_ary_new(mrb);
    mrb_int start = 0;
    mrb_int fields = 0;
    mrb_int pending_empty = 0;   // empty fields held back until a non-empty one follows
    for (mrb_int i = 0; i < len; i++) {
        if (s[i] != c) {
            continue;
        }
        if (limit >= 1 && fields + 1 >= limit) {
            break;
        }
        if (i == start && limit < 1) {
            pending_empty++;
        } else {
            for (; pending_empty > 0; pending_empty--) {
                split_push(mrb, result, s, 0);
            }
            split_push(mrb, result, s + start, i - start);
        }
        fields++;
        start = i + 1;
    }
    if (start < len || limit >= 1) {
        for (; pending_empty > 0; pending_empty--) {
            split_push(mrb, result, s, 0);
        }
        split_push(mrb, result, s + start, len - start);
    }
    return result;
}

static mrb_value split_bytes(mrb_state *mrb, const char *s, mrb_int len, mrb_int limit)
{
    mrb_value result = mrb_ary_new_capa(mrb, len);
    for (mrb_int i = 0; i < len; i++) {
        if (limit >= 1 && i + 1 >= limit) {
            split_push(mrb, result, s + i, len - i);
            break;
        }
        split_push(mrb, result, s + i, 1);
    }
    // A limit beyond the length leaves an empty last field, as a separator
    // at the very end does.
    if (limit > len) {
        split_push(mrb, result, s, 0);
    }
    return result;
}

static mrb_value string_class_split(mrb_state *mrb, mrb_value self)
{
    mrb_value str, sep = mrb_nil_value(), limit_v = mrb_nil_value();
    mrb_int argc = mrb_get_args(mrb, "o|oo", &str, &sep, &limit_v);
    if (!mrb_string_p(str)) {
        mrb_raisef(mrb, E_TYPE_ERROR, "~String::split~ expects a string, but received %v.", str);
    }
    if (!mrb_nil_p(sep) && !mrb_string_p(sep)) {
        mrb_raisef(mrb, E_TYPE_ERROR, "~String::split~ expects a string separator, but received %v.", sep);
    }
    if (!mrb_nil_p(limit_v) && !mrb_integer_p(limit_v)) {
        mrb_raisef(mrb, E_TYPE_ERROR, "~String::split~ expects an integer limit, but received %v.", limit_v);
    }
    const mrb_int limit = mrb_integer_p(limit_v) ? mrb_integer(limit_v) : 0;

    if (mrb_string_p(sep) && RSTRING_LEN(sep) > 1) {
        mrb_value args[2] = {sep, limit_v};
        const mrb_int n = argc >= 3 && !mrb_nil_p(limit_v) ? 2 : 1;
        mrb_sym mid = mrb_respond_to(mrb, str, core_ext.original_split) ? core_ext.original_split : mrb_intern_lit(mrb, "split");
        return mrb_funcall_argv(mrb, str, mid, n, args);
    }

    const char *s = RSTRING_PTR(str);
    const mrb_int len = RSTRING_LEN(str);
    if (len == 0) {
        return mrb_ary_new(mrb);
    }
    if (mrb_string_p(sep) && RSTRING_LEN(sep) == 0) {
        return split_bytes(mrb, s, len, limit);
    }
    const char c = mrb_string_p(sep) ? RSTRING_PTR(sep)[0] : ' ';
    return split_on_byte(mrb, s, len, c, limit);
}

// ORB::OutputsArray

static mrb_bool outputs_resolved(mrb_state *mrb, mrb_value obj)
{
    if (mrb_hash_p(obj)) {
        return TRUE;
    }
    if (mrb_immediate_p(obj)) {
        return FALSE;
    }
    if ((core_ext.open_entity && mrb_obj_is_kind_of(mrb, obj, core_ext.open_entity)) ||
        (core_ext.struct_class && mrb_obj_is_kind_of(mrb, obj, core_ext.struct_class))) {
        return TRUE;
    }
    if (mrb_respond_to(mrb, obj, core_ext.draw_override)) {
        return TRUE;
    }
    if (!mrb_respond_to(mrb, obj, core_ext.primitive_marker)) {
        return FALSE;
    }
    mrb_value marker = mrb_funcall_argv(mrb, obj, core_ext.primitive_marker, 0, NULL);
    return !mrb_nil_p(marker) && !(mrb_symbol_p(marker) && mrb_symbol(marker) == core_ext.pending);
}

static mrb_value outputs_resolved_p(mrb_state *mrb, mrb_value self)
{
    mrb_value obj;
    mrb_get_args(mrb, "o", &obj);
    return mrb_bool_value(outputs_resolved(mrb, obj));
}

// The Arrays add_dwim is expanding, innermost first.
struct dwim_frame {
    const struct dwim_frame *outer;
    struct RBasic *array;
    int depth;
};

static void outputs_add(mrb_state *mrb, mrb_value self, mrb_value obj, const dwim_frame *outer)
{
    if (mrb_nil_p(obj)) {
        return;
    }
    mrb_value candidate = obj;
    if (mrb_hash_p(obj) || (core_ext.struct_class && mrb_obj_is_kind_of(mrb, obj, core_ext.struct_class))) {
        mrb_ary_push(mrb, self, obj);
        return;
    }
    if (core_ext.value_type && mrb_obj_is_kind_of(mrb, obj, core_ext.value_type)) {
        return;
    }
    if (mrb_array_p(obj)) {
        if (RARRAY_LEN(obj) == 0) {
            return;
        }
    } else if (!mrb_immediate_p(obj) && mrb_obj_is_kind_of(mrb, obj, core_ext.enumerable)) {
        candidate = mrb_funcall_argv(mrb, obj, core_ext.to_a, 0, NULL);
        if (mrb_array_p(candidate) && RARRAY_LEN(candidate) == 0) {
            return;
        }
    }

    if (outputs_resolved(mrb, candidate)) {
        mrb_ary_push(mrb, self, obj);
        return;
    }

    if (!mrb_array_p(candidate)) {
        mrb_bool primitive = FALSE;
        if (mrb_respond_to(mrb, candidate, core_ext.primitive_marker)) {
            primitive = !mrb_nil_p(mrb_funcall_argv(mrb, candidate, core_ext.primitive_marker, 0, NULL));
        }
        if (primitive || mrb_respond_to(mrb, candidate, core_ext.draw_override) ||
            mrb_respond_to(mrb, candidate, core_ext.text) || mrb_respond_to(mrb, candidate, core_ext.path) ||
            mrb_respond_to(mrb, candidate, core_ext.x)) {
            mrb_ary_push(mrb, self, candidate);
            return;
        }
        mrb_raisef(mrb, E_TYPE_ERROR,
                   "~%C~ does not look like a rendering primitive.\n\n"
                   "The object must adhere to AT LEAST ONE of the following be considered a primitive:\n"
                   "- Object must respond to ~primitive_marker~ returning either ~:solid~, ~:label~, ~:sprite~, "
                   "~:line~, or ~:border~.\n"
                   "- Object must respond to ~:x~, ~:y~, ~:w~, ~:h~, and ~:path~.\n"
                   "- Object must respond to ~:x~, ~:y~, and ~:text~.\n"
                   "- Object must implement ~draw_override~.\n",
                   mrb_obj_class(mrb, candidate));
    }

    mrb_bool all_resolved = TRUE;
    for (mrb_int i = 0; i < RARRAY_LEN(candidate) && all_resolved; i++) {
        all_resolved = outputs_resolved(mrb, RARRAY_PTR(candidate)[i]);
    }
    if (all_resolved) {
        mrb_value copy = mrb_ary_new_from_values(mrb, RARRAY_LEN(candidate), RARRAY_PTR(candidate));
        mrb_ary_concat(mrb, self, copy);
        return;
    }
    if (mrb_test(mrb_funcall_argv(mrb, self, core_ext.array_primitive_p, 1, &candidate))) {
        mrb_funcall_argv(mrb, self, core_ext.mark_and_id_bang, 1, &candidate);
        mrb_ary_push(mrb, self, candidate);
        return;
    }

    // An Array that holds itself (directly or deeper) would expand forever.
    struct RBasic *array = mrb_basic_ptr(candidate);
    const int depth = outer ? outer->depth + 1 : 1;
    for (const dwim_frame *f = outer; f; f = f->outer) {
        if (f->array == array) {
            mrb_raise(mrb, E_ARGUMENT_ERROR, "~add_dwim~ received an Array that contains itself.");
        }
    }
    if (depth > CORE_EXT_DWIM_MAX_DEPTH) {
        mrb_raise(mrb, E_ARGUMENT_ERROR, "~add_dwim~ received Arrays nested too deeply.");
    }
    const dwim_frame frame = {outer, array, depth};
    const int ai = mrb_gc_arena_save(mrb);
    for (mrb_int i = 0; i < RARRAY_LEN(candidate); i++) {
        outputs_add(mrb, self, RARRAY_PTR(candidate)[i], &frame);
        mrb_gc_arena_restore(mrb, ai);
    }
}

static mrb_value outputs_add_dwim(mrb_state *mrb, mrb_value self)
{
    mrb_value obj;
    mrb_get_args(mrb, "o", &obj);
    outputs_add(mrb, self, obj, NULL);
    return self;
}

// Registration

static struct RClass *core_ext_lookup(mrb_state *mrb, struct RClass *outer, const char *name)
{
    mrb_sym sym = mrb_intern_cstr(mrb, name);
    if (!mrb_const_defined(mrb, mrb_obj_value(outer), sym)) {
        return NULL;
    }
    mrb_value v = mrb_const_get(mrb, mrb_obj_value(outer), sym);
    const enum mrb_vtype t = mrb_type(v);
    return t == MRB_TT_CLASS || t == MRB_TT_MODULE ? mrb_class_ptr(v) : NULL;
}

static void core_ext_init_state(mrb_state *mrb)
{
    core_ext.mrb = mrb;
    core_ext.enumerable = mrb_module_get(mrb, "Enumerable");
    core_ext.struct_class = core_ext_lookup(mrb, mrb->object_class, "Struct");
    struct RClass *orb = core_ext_lookup(mrb, mrb->object_class, "ORB");
    core_ext.open_entity = orb ? core_ext_lookup(mrb, orb, "OpenEntity") : NULL;
    core_ext.value_type = orb ? core_ext_lookup(mrb, orb, "ValueType") : NULL;
    if (!core_ext.value_type) {
        core_ext.value_type = core_ext_lookup(mrb, mrb->object_class, "ValueType");
    }
    core_ext.original_method_missing = mrb_intern_lit(mrb, "__original_method_missing__");
    core_ext.original_split = mrb_intern_lit(mrb, "__original_split__");
    core_ext.to_enum = mrb_intern_lit(mrb, "to_enum");
    core_ext.to_a = mrb_intern_lit(mrb, "to_a");
    core_ext.call = mrb_intern_lit(mrb, "call");
    core_ext.draw_override = mrb_intern_lit(mrb, "draw_override");
    core_ext.primitive_marker = mrb_intern_lit(mrb, "primitive_marker");
    core_ext.pending = mrb_intern_lit(mrb, "pending");
    core_ext.text = mrb_intern_lit(mrb, "text");
    core_ext.path = mrb_intern_lit(mrb, "path");
    core_ext.x = mrb_intern_lit(mrb, "x");
    core_ext.array_primitive_p = mrb_intern_lit(mrb, "array_primitive?");
    core_ext.mark_and_id_bang = mrb_intern_lit(mrb, "mark_and_id!");
}

static void fn_define(mrb_state *mrb, struct RClass *fn)
{
    mrb_define_class_method(mrb, fn, "each_send", fn_class_each_send, MRB_ARGS_REQ(3));
    mrb_define_class_method(mrb, fn, "each_with_index_send", fn_class_each_with_index_send, MRB_ARGS_REQ(3));
    mrb_define_class_method(mrb, fn, "each", fn_class_each, MRB_ARGS_ARG(1, 1) | MRB_ARGS_BLOCK());
    mrb_define_class_method(mrb, fn, "each_with_index", fn_class_each_with_index, MRB_ARGS_ARG(1, 1) | MRB_ARGS_BLOCK());
    mrb_define_class_method(mrb, fn, "map", fn_class_map, MRB_ARGS_ARG(1, 1) | MRB_ARGS_BLOCK());
}

void ffi_fn_register(mrb_state *mrb)
{
    core_ext_init_state(mrb);
    fn_define(mrb, mrb_define_class(mrb, "Fn", mrb->object_class));
    // The runtime library's ORB::Fn (reached as args.fn) gets the same helpers.
    struct RClass *orb = core_ext_lookup(mrb, mrb->object_class, "ORB");
    struct RClass *orb_fn = orb ? core_ext_lookup(mrb, orb, "Fn") : NULL;
    if (orb_fn && orb_fn->tt == MRB_TT_CLASS) {
        fn_define(mrb, orb_fn);
    }
}

void ffi_outputs_array_register(mrb_state *mrb)
{
    core_ext_init_state(mrb);
    struct RClass *orb = core_ext_lookup(mrb, mrb->object_class, "ORB");
    struct RClass *outputs = orb ? core_ext_lookup(mrb, orb, "OutputsArray") : NULL;
    if (!outputs || outputs->tt != MRB_TT_CLASS) {
        return;   // no runtime library in this interpreter
    }
    mrb_define_method(mrb, outputs, "resolved?", outputs_resolved_p, MRB_ARGS_REQ(1));
    mrb_define_method(mrb, outputs, "add_dwim", outputs_add_dwim, MRB_ARGS_REQ(1));
}

void ffi_array_ext_register(mrb_state *mrb)
{
    core_ext_init_state(mrb);
    struct RClass *a = mrb->array_class;
    mrb_define_class_method(mrb, a, "map", array_class_map, MRB_ARGS_REQ(1) | MRB_ARGS_BLOCK());
    mrb_define_class_method(mrb, a, "map!", array_class_map_bang, MRB_ARGS_REQ(1) | MRB_ARGS_BLOCK());
    mrb_define_class_method(mrb, a, "map_with_index", array_class_map_with_index, MRB_ARGS_REQ(1) | MRB_ARGS_BLOCK());
    mrb_define_class_method(mrb, a, "each", array_class_each, MRB_ARGS_REQ(1) | MRB_ARGS_BLOCK());
    mrb_define_class_method(mrb, a, "each_with_index", array_class_each_with_index, MRB_ARGS_REQ(1) | MRB_ARGS_BLOCK());
    mrb_define_class_method(mrb, a, "reject", array_class_reject, MRB_ARGS_REQ(1) | MRB_ARGS_BLOCK());
    mrb_define_class_method(mrb, a, "reject!", array_class_reject_bang, MRB_ARGS_REQ(1) | MRB_ARGS_BLOCK());
    mrb_define_class_method(mrb, a, "find_all", array_class_select, MRB_ARGS_REQ(1) | MRB_ARGS_BLOCK());
    mrb_define_class_method(mrb, a, "select", array_class_select, MRB_ARGS_REQ(1) | MRB_ARGS_BLOCK());
    mrb_define_class_method(mrb, a, "select!", array_class_select_bang, MRB_ARGS_REQ(1) | MRB_ARGS_BLOCK());
    mrb_define_class_method(mrb, a, "compact", array_class_compact, MRB_ARGS_REQ(1));
    mrb_define_class_method(mrb, a, "compact!", array_class_compact_bang, MRB_ARGS_REQ(1));
    mrb_define_class_method(mrb, a, "filter_map", array_class_filter_map, MRB_ARGS_REQ(1) | MRB_ARGS_BLOCK());
    mrb_define_class_method(mrb, a, "flat_map", array_class_flat_map, MRB_ARGS_REQ(1) | MRB_ARGS_BLOCK());
}

void ffi_string_split_register(mrb_state *mrb)
{
    core_ext_init_state(mrb);
    mrb_define_class_method(mrb, mrb->string_class, "split", string_class_split, MRB_ARGS_ARG(1, 2));
}

void ffi_hash_ext_register(mrb_state *mrb)
{
    core_ext_init_state(mrb);
    struct RClass *h = mrb->hash_class;
    const int ai = mrb_gc_arena_save(mrb);
    for (size_t i = 0; i < SDL_arraysize(hash_property_table); i++) {
        const char *name = hash_property_table[i][0];
        const char *key = hash_property_table[i][1] ? hash_property_table[i][1] : name;
        char setter[64];
        SDL_snprintf(setter, sizeof(setter), "%s=", name);
        hash_define_property(mrb, mrb_intern_cstr(mrb, name), mrb_intern_cstr(mrb, key), FALSE);
        hash_define_property(mrb, mrb_intern_cstr(mrb, setter), mrb_intern_cstr(mrb, key), TRUE);
        mrb_gc_arena_restore(mrb, ai);
    }
    // Registering twice must not alias the replacement onto itself.
    if (!mrb_obj_respond_to(mrb, h, core_ext.original_method_missing)) {
        mrb_define_alias_id(mrb, h, core_ext.original_method_missing, mrb_intern_lit(mrb, "method_missing"));
    }
    mrb_define_method(mrb, h, "method_missing", hash_method_missing, MRB_ARGS_ANY() | MRB_ARGS_BLOCK());
    mrb_define_method(mrb, h, "__get_hash_property__", hash_get_hash_property, MRB_ARGS_REQ(1));
    mrb_define_method(mrb, h, "__set_hash_property__", hash_set_hash_property, MRB_ARGS_REQ(2));

    mrb_define_class_method(mrb, h, "merge", hash_class_merge, MRB_ARGS_REQ(2) | MRB_ARGS_BLOCK());
    mrb_define_class_method(mrb, h, "merge!", hash_class_merge_bang, MRB_ARGS_REQ(2) | MRB_ARGS_BLOCK());
    mrb_define_class_method(mrb, h, "find_all", hash_class_select, MRB_ARGS_REQ(1) | MRB_ARGS_BLOCK());
    mrb_define_class_method(mrb, h, "select", hash_class_select, MRB_ARGS_REQ(1) | MRB_ARGS_BLOCK());

    struct RClass *e = core_ext.enumerable;
    mrb_define_class_method(mrb, e, "find_all", enumerable_class_select, MRB_ARGS_REQ(1) | MRB_ARGS_BLOCK());
    mrb_define_class_method(mrb, e, "select", enumerable_class_select, MRB_ARGS_REQ(1) | MRB_ARGS_BLOCK());
}
