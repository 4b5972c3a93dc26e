// FFI::File: file access for scripts. Reads, listing, stat and deletion go
// through the virtual file system (PhysFS); writes go to real files under
// the game or base directory, whole-file writes through a temporary file
// renamed over the old one. Write paths must stay inside their directory.
// Depends on mruby, PhysFS and the file utilities.
#include <string.h>

#include <mruby.h>
#include <mruby/array.h>
#include <mruby/hash.h>
#include <mruby/string.h>

#include <physfs.h>

#include "bindings/ffi.h"
#include "bindings/ffi_internal.h"
#include "engine/util.h"

// A relative path that cannot leave its directory: no leading "/", no ".."
// component, no backslash (another system's separator) and no NUL byte.
static const char *file_write_path(mrb_state *mrb, mrb_value str)
{
    const char *path = ffi_path_cstr(mrb, str);
    if (!path || path[0] == '\0' || path[0] == '/' || strchr(path, '\\')) {
        return NULL;
    }
    for (const char *part = path; part; ) {
        const char *end = strchr(part, '/');
        const size_t n = end ? (size_t)(end - part) : strlen(part);
        if (n == 2 && part[0] == '.' && part[1] == '.') {
            return NULL;
        }
        part = end ? end + 1 : NULL;
    }
    return path;
}

// A Ruby raise unwinds through these frames as a C++ exception; these
// release what PhysFS and the loaders handed out on every way out.
struct file_sdl_buffer {
    void *data;
    ~file_sdl_buffer() { SDL_free(data); }
};
struct file_physfs_list {
    char **names;
    ~file_physfs_list() { PHYSFS_freeList(names); }
};

static mrb_value file_write_under(mrb_state *mrb, const char *dir, int append)
{
    mrb_value path_str;
    mrb_value data;
    mrb_get_args(mrb, "SS", &path_str, &data);
    const char *path = file_write_path(mrb, path_str);
    if (!path) {
        return mrb_false_value();
    }
    const void *bytes = RSTRING_PTR(data);
    const size_t len = (size_t)RSTRING_LEN(data);
    const int ok = append ? appendfile_write_override(dir, path, bytes, len)
                          : storefile_write_override_atomic(dir, path, bytes, len);
    return mrb_bool_value(ok);
}

static mrb_value file_write(mrb_state *mrb, mrb_value self)
{
    return file_write_under(mrb, ffi_game_dir(), 0);
}

static mrb_value file_append(mrb_state *mrb, mrb_value self)
{
    return file_write_under(mrb, ffi_game_dir(), 1);
}

static mrb_value file_write_root(mrb_state *mrb, mrb_value self)
{
    return file_write_under(mrb, ffi_base_dir(), 0);
}

static mrb_value file_append_root(mrb_state *mrb, mrb_value self)
{
    return file_write_under(mrb, ffi_base_dir(), 1);
}

static mrb_value file_mtime(mrb_state *mrb, mrb_value self)
{
    mrb_value str;
    mrb_get_args(mrb, "S", &str);
    const char *path = ffi_path_cstr(mrb, str);
    return mrb_int_value(mrb, path ? (mrb_int)lastmodtime(path) : -1);
}

static mrb_value file_path_exists(mrb_state *mrb, mrb_value self)
{
    mrb_value str;
    mrb_get_args(mrb, "S", &str);
    const char *path = ffi_path_cstr(mrb, str);
    return mrb_bool_value(path && path_exists(path));
}

static mrb_value file_read(mrb_state *mrb, mrb_value self)
{
    mrb_value str;
    mrb_get_args(mrb, "S", &str);
    const char *path = ffi_path_cstr(mrb, str);
    if (!path) {
        return mrb_nil_value();
    }
    size_t len = 0;
    const file_sdl_buffer buf = {loadfile(path, &len)};
    if (!buf.data) {
        return mrb_nil_value();
    }
    return mrb_str_new(mrb, (const char *)buf.data, (mrb_int)len);
}

static mrb_value file_get_base_dir(mrb_state *mrb, mrb_value self)
{
    return mrb_str_new_cstr(mrb, ffi_base_dir());
}

static mrb_value file_get_game_dir(mrb_state *mrb, mrb_value self)
{
    return mrb_str_new_cstr(mrb, ffi_game_dir());
}

static mrb_value file_load_image(mrb_state *mrb, mrb_value self)
{
    mrb_value str;
    mrb_get_args(mrb, "S", &str);
    // Image decoding joins here: [pixels, width, height] for a loadable image.
    return mrb_nil_value();
}

static mrb_value file_list(mrb_state *mrb, mrb_value self)
{
    mrb_value str;
    mrb_get_args(mrb, "S", &str);
    const char *dir = ffi_path_cstr(mrb, str);
    mrb_value result = mrb_ary_new(mrb);
    char **names = dir ? PHYSFS_enumerateFiles(dir) : NULL;
    if (!names) {
        return result;
    }
    const file_physfs_list guard = {names};
    const int ai = mrb_gc_arena_save(mrb);
    for (char **n = guard.names; *n; n++) {
        mrb_ary_push(mrb, result, mrb_str_new_cstr(mrb, *n));
        mrb_gc_arena_restore(mrb, ai);
    }
    return result;
}

static const char *const file_physfs_error_names[] = {
    "OTHER_ERROR", "OUT_OF_MEMORY", "NOT_INITIALIZED", "IS_INITIALIZED", "ARGV0_IS_NULL",
    "UNSUPPORTED", "PAST_EOF", "FILES_STILL_OPEN", "INVALID_ARGUMENT", "NOT_MOUNTED",
    "NOT_FOUND", "SYMLINK_FORBIDDEN", "NO_WRITE_DIR", "OPEN_FOR_READING", "OPEN_FOR_WRITING",
    "NOT_A_FILE", "READ_ONLY", "CORRUPT", "SYMLINK_LOOP", "IO",
    "PERMISSION", "NO_SPACE", "BAD_FILENAME", "BUSY", "DIR_NOT_EMPTY",
    "OS_ERROR", "DUPLICATE", "BAD_PASSWORD", "APP_CALLBACK",
};

static mrb_noreturn void file_raise_delete_error(mrb_state *mrb, int code)
{
    const int count = (int)SDL_arraysize(file_physfs_error_names);
    if (code >= 1 && code <= count) {
        mrb_raisef(mrb, mnf_getruntime_error(mrb), "Error occurred in delete_file: PHYSFS_ERR_%s",
                   file_physfs_error_names[code - 1]);
    }
    mrb_raisef(mrb, mnf_getruntime_error(mrb),
               "Unknown error occurred in delete_file. Please report this (error code %d) with the steps "
               "that led to it on the Moonforge community forum.",
               code);
}

static mrb_value file_delete(mrb_state *mrb, mrb_value self)
{
    mrb_value str;
    mrb_get_args(mrb, "S", &str);
    const char *path = ffi_path_cstr(mrb, str);
    if (!path) {
        file_raise_delete_error(mrb, PHYSFS_ERR_BAD_FILENAME);
    }
    if (!PHYSFS_delete(path)) {
        file_raise_delete_error(mrb, (int)PHYSFS_getLastErrorCode());
    }
    return mrb_nil_value();
}

static mrb_value file_stat(mrb_state *mrb, mrb_value self)
{
    mrb_value str;
    mrb_get_args(mrb, "S", &str);
    const char *path = ffi_path_cstr(mrb, str);
    PHYSFS_Stat st;
    if (!path || !PHYSFS_stat(path, &st)) {
        return mrb_nil_value();
    }
    const char *type;
    switch (st.filetype) {
    case PHYSFS_FILETYPE_REGULAR: type = "regular"; break;
    case PHYSFS_FILETYPE_DIRECTORY: type = "directory"; break;
    case PHYSFS_FILETYPE_SYMLINK: type = "symlink"; break;
    default: type = "other"; break;
    }
    mrb_value hash = mrb_hash_new(mrb);
    mrb_hash_set(mrb, hash, mrb_symbol_value(mrb_intern_lit(mrb, "path")), str);
    mrb_hash_set(mrb, hash, mrb_symbol_value(mrb_intern_lit(mrb, "file_size")), mrb_int_value(mrb, st.filesize));
    mrb_hash_set(mrb, hash, mrb_symbol_value(mrb_intern_lit(mrb, "mod_time")), mrb_int_value(mrb, st.modtime));
    mrb_hash_set(mrb, hash, mrb_symbol_value(mrb_intern_lit(mrb, "create_time")), mrb_int_value(mrb, st.createtime));
    mrb_hash_set(mrb, hash, mrb_symbol_value(mrb_intern_lit(mrb, "access_time")), mrb_int_value(mrb, st.accesstime));
    mrb_hash_set(mrb, hash, mrb_symbol_value(mrb_intern_lit(mrb, "readonly")), mrb_bool_value(st.readonly != 0));
    mrb_hash_set(mrb, hash, mrb_symbol_value(mrb_intern_lit(mrb, "file_type")),
                 mrb_symbol_value(mrb_intern_cstr(mrb, type)));
    return hash;
}

static mrb_value file_mount(mrb_state *mrb, mrb_value self)
{
    mrb_value str;
    mrb_get_args(mrb, "S", &str);
    const char *dir = ffi_path_cstr(mrb, str);
    if (dir) {
        // PhysFS leaves an already mounted directory where it is.
        PHYSFS_mount(dir, dir, 0);
    }
    return mrb_nil_value();
}

void ffi_file_register(mrb_state *mrb, struct RClass *ffi)
{
    struct RClass *cls = mrb_define_class_under(mrb, ffi, "File", mrb->object_class);
    mrb_define_method(mrb, cls, "mtime", file_mtime, MRB_ARGS_REQ(1));
    mrb_define_method(mrb, cls, "path_exists", file_path_exists, MRB_ARGS_REQ(1));
    mrb_define_method(mrb, cls, "read", file_read, MRB_ARGS_REQ(1));
    mrb_define_method(mrb, cls, "write", file_write, MRB_ARGS_REQ(2));
    mrb_define_method(mrb, cls, "append", file_append, MRB_ARGS_REQ(2));
    mrb_define_method(mrb, cls, "write_root", file_write_root, MRB_ARGS_REQ(2));
    mrb_define_method(mrb, cls, "append_root", file_append_root, MRB_ARGS_REQ(2));
    mrb_define_method(mrb, cls, "get_base_dir", file_get_base_dir, MRB_ARGS_NONE());
    mrb_define_method(mrb, cls, "get_game_dir", file_get_game_dir, MRB_ARGS_NONE());
    mrb_define_method(mrb, cls, "load_image", file_load_image, MRB_ARGS_REQ(1));
    mrb_define_method(mrb, cls, "list", file_list, MRB_ARGS_REQ(1));
    mrb_define_method(mrb, cls, "delete", file_delete, MRB_ARGS_REQ(1));
    mrb_define_method(mrb, cls, "stat", file_stat, MRB_ARGS_REQ(1));
    mrb_define_method(mrb, cls, "mount", file_mount, MRB_ARGS_REQ(1));
}
