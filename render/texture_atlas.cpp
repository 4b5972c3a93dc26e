// HD texture atlas map: owns copies of every path so it outlives the script
// values it was built from. A path look-up hashes a view of the caller's
// bytes, so drawing a sprite allocates nothing. Depends on the interpreter's
// value API and the standard library's hash map.
#include "render/texture_atlas.h"

#include <mruby/array.h>
#include <mruby/hash.h>
#include <mruby/string.h>

#include <string>
#include <string_view>
#include <unordered_map>

#include "stream/ruby_pack.h"

const int texture_atlas_percents[TEXTURE_ATLAS_LEVELS] = {100, 125, 150, 175, 200, 250, 300, 400};

struct atlas_variant {
    std::string path;
    Sint32 scale_percent;
};

struct atlas_entry {
    atlas_variant levels[TEXTURE_ATLAS_LEVELS];
};

struct atlas_hash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

static std::unordered_map<std::string, atlas_entry, atlas_hash, std::equal_to<>> atlas;

void texture_atlas_clear(void) { atlas.clear(); }

int texture_atlas_count(void) { return (int)atlas.size(); }

static mrb_value info_get(mrb_state *mrb, mrb_value info, const char *key)
{
    mrb_value k = mrb_str_new_cstr(mrb, key);
    mrb_value v = mrb_hash_get(mrb, info, k);
    if (mrb_nil_p(v))
        v = mrb_hash_get(mrb, info, mrb_symbol_value(mrb_intern_cstr(mrb, key)));
    return v;
}

static void store_entry(mrb_state *mrb, mrb_value path, mrb_value info)
{
    const char *bytes;
    Sint32 len;
    if (!mrb_string_p(path) || !mrb_hash_p(info) || !ruby_value_text(mrb, path, &bytes, &len))
        return;
    atlas_entry entry;
    for (int i = 0; i < TEXTURE_ATLAS_LEVELS; i++) {
        char key[40];
        SDL_snprintf(key, sizeof key, "texture_%d", texture_atlas_percents[i]);
        mrb_value variant = info_get(mrb, info, key);
        SDL_snprintf(key, sizeof key, "texture_%d_scale_enum", texture_atlas_percents[i]);
        mrb_value percent = info_get(mrb, info, key);
        const char *vbytes;
        Sint32 vlen;
        if (mrb_string_p(variant) && ruby_value_text(mrb, variant, &vbytes, &vlen) && vlen > 0) {
            entry.levels[i].path.assign(vbytes, (size_t)vlen);
            entry.levels[i].scale_percent = ruby_value_to_int(percent, 100);
        } else {
            // A missing level draws the original image, never a placeholder.
            entry.levels[i].path.assign(bytes, (size_t)len);
            entry.levels[i].scale_percent = 100;
        }
    }
    atlas.insert_or_assign(std::string(bytes, (size_t)len), std::move(entry));
}

int texture_atlas_load(mrb_state *mrb, mrb_value map)
{
    atlas.clear();
    if (mrb_nil_p(map))
        return 0;
    const int ai = mrb_gc_arena_save(mrb);
    mrb_value pairs = mrb_hash_p(map) ? mrb_hash_keys(mrb, map) : mrb_funcall(mrb, map, "to_a", 0);
    if (mrb->exc || !mrb_array_p(pairs)) {
        mrb_gc_arena_restore(mrb, ai);
        return 0;
    }
    for (mrb_int i = 0; i < RARRAY_LEN(pairs); i++) {
        const int ei = mrb_gc_arena_save(mrb);
        mrb_value item = RARRAY_PTR(pairs)[i];
        if (mrb_hash_p(map)) {
            store_entry(mrb, item, mrb_hash_get(mrb, map, item));
        } else if (mrb_array_p(item) && RARRAY_LEN(item) == 2) {
            store_entry(mrb, RARRAY_PTR(item)[0], RARRAY_PTR(item)[1]);
        }
        mrb_gc_arena_restore(mrb, ei);
    }
    mrb_gc_arena_restore(mrb, ai);
    return (int)atlas.size();
}

int texture_atlas_lookup(void *, const char *path, Sint32 len, int scale_percent, scene_string *out_path,
                         Sint32 *out_scale_percent)
{
    if (atlas.empty() || !path || len <= 0)
        return 0;
    auto it = atlas.find(std::string_view(path, (size_t)len));
    if (it == atlas.end())
        return 0;
    int level = 0;
    for (int i = 1; i < TEXTURE_ATLAS_LEVELS; i++)
        if (texture_atlas_percents[i] <= scale_percent)
            level = i;
    const atlas_variant &v = it->second.levels[level];
    out_path->bytes = v.path.c_str();
    out_path->length = (Sint32)v.path.size();
    *out_scale_percent = v.scale_percent;
    return 1;
}
