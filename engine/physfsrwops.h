// SDL_RWops over PhysFS files, so SDL loaders (controller mappings, WAV,
// images) read through the game's virtual file system.
#pragma once

#include <SDL.h>

// Opens a file of the virtual file system for reading; null (with the
// reason in SDL's error text) when it cannot be opened.
SDL_RWops *physfsrwops_open_read(const char *path);
SDL_RWops *physfsrwops_open_write(const char *path);
SDL_RWops *physfsrwops_open_append(const char *path);
