// HD texture atlas map: for an image path, the image to draw at each render
// scale percent (hero.png -> hero@200.png at 200 percent) and that image's
// own scale percent. Built once per script host setup from the runtime's
// discovery answer; read by the packers on the simulation thread.
#pragma once

#include <SDL.h>

#include <mruby.h>

#include "render/scene.h"

#define TEXTURE_ATLAS_LEVELS 8

// The scale percents the map has a variant for, in ascending order.
extern const int texture_atlas_percents[TEXTURE_ATLAS_LEVELS];

// Empties the map.
void texture_atlas_clear(void);

// Replaces the map with the runtime's answer: a Hash (or anything answering
// to_a with [path, info] pairs) whose info Hashes hold "texture_100" ...
// "texture_400" (paths) and "texture_100_scale_enum" ... (percents). A level
// without a usable path keeps the key's own path at 100 percent. Answers
// the number of paths stored; values that are not such pairs are skipped.
// A raise inside to_a is left pending in mrb->exc.
int texture_atlas_load(mrb_state *mrb, mrb_value map);

// Packers lookup: 1 with the variant of path for scale_percent (the
// largest level not above it), 0 when path has no entry.
int texture_atlas_lookup(void *data, const char *path, Sint32 len, int scale_percent, scene_string *out_path,
                         Sint32 *out_scale_percent);

// Number of paths in the map.
int texture_atlas_count(void);
