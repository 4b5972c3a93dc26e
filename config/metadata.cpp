// Game metadata: the 28 locked game_metadata.* cvars, the reader of
// "metadata/game_metadata.txt" that fills them, and the orientation values
// derived from them. Depends on cvars, the utilities and the log.
#include "config/metadata.h"

#include <stdlib.h>

#include "config/cvar.h"
#include "engine/util.h"
#include "log/log.h"

char *cvar_game_metadata_devid;
char *cvar_game_metadata_devtitle;
char *cvar_game_metadata_gameid;
char *cvar_game_metadata_gametitle;
char *cvar_game_metadata_version;
char *cvar_game_metadata_icon;
char *cvar_game_metadata_readme;
Sint32 cvar_game_metadata_deployment;
Sint32 cvar_game_metadata_compile_ruby;
char *cvar_game_metadata_packageid;
Sint32 cvar_game_metadata_vrmode;
Sint32 cvar_game_metadata_hd;
Sint32 cvar_game_metadata_allscreen;
Sint32 cvar_game_metadata_hd_letterbox;
Sint32 cvar_game_metadata_hd_max_scale;
Sint32 cvar_game_metadata_allscreen_max_scale;
Sint32 cvar_game_metadata_scale_quality;
Sint32 cvar_game_metadata_highdpi;
char *cvar_game_metadata_orientation;
char *cvar_game_metadata_sprites_directory;
Sint32 cvar_game_metadata_remote_hotload;
char *cvar_game_metadata_ignore_directories;
Sint32 cvar_game_metadata_ignore_directories_recursively;
char *cvar_game_metadata_orientation_android;
char *cvar_game_metadata_orientation_ios;
Sint32 cvar_game_metadata_orientation_both;
char *cvar_game_metadata_orientation_on_startup;
char *cvar_game_metadata_orientation_current;

struct metadata_field {
    const char *name;
    unsigned type;
    const char *default_text;
    const char *file_key;  // null: not settable from the file
    int required;
    void *storage;
    const char *description;
};

#define S CVAR_TYPE_STRING
#define B CVAR_TYPE_BOOL
#define I CVAR_TYPE_INT

static const metadata_field metadata_fields[] = {
    {"game_metadata.devid", S, "moonforge", "devid", 1, &cvar_game_metadata_devid,
     "Developer ID (simple identifier)"},
    {"game_metadata.devtitle", S, "Moonforge LLC", "devtitle", 1, &cvar_game_metadata_devtitle,
     "Actual developer name"},
    {"game_metadata.gameid", S, "hello-SDL", "gameid", 1, &cvar_game_metadata_gameid,
     "Game ID (simple identifier)"},
    {"game_metadata.gametitle", S, "Update metadata/game_metadata.txt in your mygame directory to change this title.",
     "gametitle", 1, &cvar_game_metadata_gametitle, "Actual game name"},
    {"game_metadata.version", S, "1.0", "version", 1, &cvar_game_metadata_version,
     "Game's version number"},
    {"game_metadata.icon", S, "metadata/icon.png", "icon", 0, &cvar_game_metadata_icon,
     "Game's icon filename"},
    {"game_metadata.readme", S, "", "readme", 0, &cvar_game_metadata_readme,
     "Game's README filename"},
    {"game_metadata.deployment", B, "false", NULL, 0, &cvar_game_metadata_deployment,
     "True if this is a production build"},
    {"game_metadata.compile_ruby", B, "false", "compile_ruby", 0, &cvar_game_metadata_compile_ruby,
     "True if production builds cook Ruby source code"},
    {"game_metadata.packageid", S, "", "packageid", 0, &cvar_game_metadata_packageid,
     "Package ID in reverse-domain format"},
    {"game_metadata.vrmode", I, "0", "vrmode", 0, &cvar_game_metadata_vrmode,
     "VR mode"},
    {"game_metadata.hd", B, "false", "hd", 0, &cvar_game_metadata_hd,
     "True if hd rendering should be used."},
    {"game_metadata.allscreen", B, "false", "allscreen", 0, &cvar_game_metadata_allscreen,
     "True if letter boxing should be removed (allowing rendering outside of the 16:9 safe area). "
     "hd=true must be set for allscreen to be respected."},
    {"game_metadata.hd_letterbox", B, "true", "hd_letterbox", 0, &cvar_game_metadata_hd_letterbox,
     "0 = Removes letterbox allowing you to see things rendered outside of the screen. 1 = Renders letterbox."},
    {"game_metadata.hd_max_scale", I, "0", "hd_max_scale", 0, &cvar_game_metadata_hd_max_scale,
     "Provides the maximum scale allowed 16:9 safe area for game."},
    {"game_metadata.allscreen_max_scale", I, "100", "allscreen_max_scale", 0, &cvar_game_metadata_allscreen_max_scale,
     "Provides the maximum scale allowed 16:9 safe area for game."},
    {"game_metadata.scale_quality", I, "0", "scale_quality", 0, &cvar_game_metadata_scale_quality,
     "Defines the render scale quality for sprites. scale_quality=0 (default) is nearest neighbor, "
     "scalequality=1 is linear, scalequality=2 is antialiased."},
    {"game_metadata.highdpi", B, "false", "highdpi", 0, &cvar_game_metadata_highdpi,
     "If set to true, game will be rendered with High DPI."},
    {"game_metadata.orientation", S, "landscape", "orientation", 0, &cvar_game_metadata_orientation,
     "Valid values are landscape, or portrait. You can provide both values seperated by a comma if you "
     "want to support both orientations. The value first in the list will be the starting/default orientation."},
    {"game_metadata.sprites_directory", S, "sprites", "sprites_directory", 0, &cvar_game_metadata_sprites_directory,
     "The directory that will recursively searched for texture atlases."},
    {"game_metadata.remote_hotload", B, "false", NULL, 0, &cvar_game_metadata_remote_hotload,
     "True if remote hotloading should be enabled in build."},
    {"game_metadata.ignore_directories", S, "", "ignore_directories", 0, &cvar_game_metadata_ignore_directories,
     "A comma delimited list of directories that should be ignored during the publishing process "
     "(eg: ignore_directories=tmp,saves,dev,assets). IMPORTANT: Any directory that matches the ignore "
     "list will be ignored REGARDLESS OF HIERARCHY."},
    {"game_metadata.ignore_directories_recursively", B, "false", "ignore_directories_recursively", 0,
     &cvar_game_metadata_ignore_directories_recursively,
     "True if the list of ignored directories should be applied recursively to child directories "
     "(default value is false)."},
    {"game_metadata.orientation_android", S, "", "orientation_android", 0, &cvar_game_metadata_orientation_android,
     "Override for orientation of game for Android. If provided, this value will be used for the "
     "orientation on Android (overrides the value provided in orientation=VALUE)."},
    {"game_metadata.orientation_ios", S, "", "orientation_ios", 0, &cvar_game_metadata_orientation_ios,
     "Override for orientation of game for iOS. If provided, this value will be used for the "
     "orientation on Android (overrides the value provided in orientation=VALUE)."},
    {"game_metadata.orientation_both", B, "false", NULL, 0, &cvar_game_metadata_orientation_both,
     "Internal flag denoting whether or not both landscape and portrait is supported."},
    {"game_metadata.orientation_on_startup", S, "landscape", NULL, 0, &cvar_game_metadata_orientation_on_startup,
     "The orientation of the game when it start up. If orientation is set to \"landspape,portrait\", "
     "then the value will be \"landscape\"."},
    {"game_metadata.orientation_current", S, "landscape", NULL, 0, &cvar_game_metadata_orientation_current,
     "Used to store the current game orientation. This value can change dynamically if the value of is "
     "orientation=landscape,portrait|landscape,portrait, or if $orb.toggle_orientation is explicitly invoked."},
};

#undef S
#undef B
#undef I

#define METADATA_FIELD_COUNT (sizeof(metadata_fields) / sizeof(metadata_fields[0]))
static_assert(METADATA_FIELD_COUNT == 28, "game_metadata has 28 cvars");

int register_metadata_cvars(void)
{
    for (size_t i = 0; i < METADATA_FIELD_COUNT; i++) {
        const metadata_field *f = &metadata_fields[i];
        if (!cvar_register(f->name, f->type, f->description, f->storage, f->default_text)) {
            return 0;
        }
        cvar_lock(f->name);
    }
    return 1;
}

[[noreturn]] static void metadata_refuse_store_details(const char *store, const char *file, unsigned line)
{
    log_error("Engine", "%s publishing details in game_metadata.txt line %d!", store, (int)line);
    log_error("Engine", "This info must be in %s or they will be published with your game!", file);
    log_error("Engine", "Quitting now so you know to FIX THIS RIGHT NOW.");
    log_emergency_quit();
    exit(1);
}

int load_metadata(const char *path)
{
    unsigned count = 0;
    char **lines = split_textfile_into_lines(path, &count);
    if (!lines) {
        return 0;
    }

    for (size_t i = 0; i < METADATA_FIELD_COUNT; i++) {
        cvar_unlock(metadata_fields[i].name);
        cvar_set(metadata_fields[i].name, metadata_fields[i].default_text);
    }

    int result = 1;
    int seen[METADATA_FIELD_COUNT] = {0};
    for (unsigned n = 0; n < count; n++) {
        const unsigned lineno = n + 1;
        char *key;
        char *value;
        if (!split_key_value_string(lines[n], &key, &value)) {
            log_warn("Engine", "Invalid metadata on line %u, ignored", lineno);
            continue;
        }
        if (!key) {
            continue;
        }
        if (SDL_strncasecmp(key, "steam.", 6) == 0) {
            free_split_textfile(lines);
            metadata_refuse_store_details("Steam", "steam_metadata.txt", lineno);
        }
        if (SDL_strncasecmp(key, "itchio.", 7) == 0) {
            free_split_textfile(lines);
            metadata_refuse_store_details("itch.io", "itchio_metadata.txt", lineno);
        }
        size_t i = 0;
        while (i < METADATA_FIELD_COUNT &&
               !(metadata_fields[i].file_key && SDL_strcasecmp(metadata_fields[i].file_key, key) == 0)) {
            i++;
        }
        if (i == METADATA_FIELD_COUNT) {
            log_warn("Engine", "Unknown game metadata key '%s', ignoring", key);
            continue;
        }
        cvar_set(metadata_fields[i].name, value);
        seen[i] = 1;
    }
    free_split_textfile(lines);

    for (size_t i = 0; i < METADATA_FIELD_COUNT; i++) {
        if (metadata_fields[i].required && !seen[i]) {
            log_error("Engine", "Metadata file does not have all required fields!");
            result = 0;
            break;
        }
    }

    char *packageid = cvar_string_dup(&cvar_game_metadata_packageid);
    if (!packageid || !*packageid) {
        char *devid = cvar_string_dup(&cvar_game_metadata_devid);
        char *gameid = cvar_string_dup(&cvar_game_metadata_gameid);
        char *derived = (devid && gameid) ? sprintf_alloc("org.%s.%s", devid, gameid) : NULL;
        if (!derived || !cvar_set("game_metadata.packageid", derived)) {
            result = 0;
        }
        SDL_free(derived);
        SDL_free(devid);
        SDL_free(gameid);
    }
    SDL_free(packageid);

    for (size_t i = 0; i < METADATA_FIELD_COUNT; i++) {
        cvar_lock(metadata_fields[i].name);
    }
    return result;
}

void metadata_derive_orientation(void)
{
    char *orientation = cvar_string_dup(&cvar_game_metadata_orientation);
    const char *v = orientation ? orientation : "landscape";
    const char *current = v;
    const char *both = "false";
    if (SDL_strcmp(v, "portrait,landscape") == 0) {
        current = "portrait";
        both = "true";
    } else if (SDL_strcmp(v, "landscape,portrait") == 0) {
        current = "landscape";
        both = "true";
    }
    cvar_force_set("game_metadata.orientation_current", current);
    cvar_force_set("game_metadata.orientation_both", both);
    cvar_force_set("game_metadata.orientation_on_startup", current);
    SDL_free(orientation);
}
