// Game metadata: the key/value file "metadata/game_metadata.txt" that names
// the game and its developer and chooses display options, exposed as 28
// locked cvars in the namespace game_metadata.
#pragma once

#include <SDL.h>

extern char *cvar_game_metadata_devid;
extern char *cvar_game_metadata_devtitle;
extern char *cvar_game_metadata_gameid;
extern char *cvar_game_metadata_gametitle;
extern char *cvar_game_metadata_version;
extern char *cvar_game_metadata_icon;
extern char *cvar_game_metadata_readme;
extern Sint32 cvar_game_metadata_deployment;
extern Sint32 cvar_game_metadata_compile_ruby;
extern char *cvar_game_metadata_packageid;
extern Sint32 cvar_game_metadata_vrmode;
extern Sint32 cvar_game_metadata_hd;
extern Sint32 cvar_game_metadata_allscreen;
extern Sint32 cvar_game_metadata_hd_letterbox;
extern Sint32 cvar_game_metadata_hd_max_scale;
extern Sint32 cvar_game_metadata_allscreen_max_scale;
extern Sint32 cvar_game_metadata_scale_quality;
extern Sint32 cvar_game_metadata_highdpi;
extern char *cvar_game_metadata_orientation;
extern char *cvar_game_metadata_sprites_directory;
extern Sint32 cvar_game_metadata_remote_hotload;
extern char *cvar_game_metadata_ignore_directories;
extern Sint32 cvar_game_metadata_ignore_directories_recursively;
extern char *cvar_game_metadata_orientation_android;
extern char *cvar_game_metadata_orientation_ios;
extern Sint32 cvar_game_metadata_orientation_both;
extern char *cvar_game_metadata_orientation_on_startup;
extern char *cvar_game_metadata_orientation_current;

// Registers the 28 cvars with their defaults, each locked at once.
int register_metadata_cvars(void);
// Reads the metadata file; 1 when it was complete and the package id set.
// Store-publishing keys ("steam.", "itchio.") end the process with status 1.
int load_metadata(const char *path);
// Derives orientation_current, orientation_both and orientation_on_startup
// from game_metadata.orientation.
void metadata_derive_orientation(void);
