// Cvars: named, typed, lockable engine settings bound to native variables,
// so hot paths read a plain variable and never look anything up. Values
// arrive as text (command line, cvar files, scripts); a value set before its
// cvar exists waits as "pending" and is applied at registration.
#pragma once

#include <SDL.h>

enum cvar_type {
    CVAR_TYPE_STRING = 1,
    CVAR_TYPE_INT = 2,
    CVAR_TYPE_UINT = 3,
    CVAR_TYPE_FLOAT = 4,
    CVAR_TYPE_BOOL = 5,
};

// Called for every registered cvar (at install time for the existing ones).
typedef void (*cvar_register_callback)(void *context, const char *name, const char *description, unsigned type);

int cvar_init(void);
// storage may be null: the value then lives inside the cvar itself. For a
// string cvar the storage is a char* the cvar owns; read it with
// cvar_string_read so a concurrent rewrite cannot free it under the reader.
int cvar_register(const char *name, unsigned type, const char *description, void *storage, const char *default_text);
int cvar_register_string(const char *name, const char *description, char **storage, const char *default_text);
int cvar_register_int(const char *name, const char *description, Sint32 *storage, Sint32 default_value);
int cvar_register_uint(const char *name, const char *description, Uint32 *storage, Uint32 default_value);
int cvar_register_float(const char *name, const char *description, float *storage, float default_value);
int cvar_register_bool(const char *name, const char *description, Sint32 *storage, int default_value);

void *cvar_get(const char *name, unsigned *type, const char **description);
char **cvar_get_string(const char *name);
Sint32 *cvar_get_int(const char *name);
Uint32 *cvar_get_uint(const char *name);
float *cvar_get_float(const char *name);
Sint32 *cvar_get_bool(const char *name);

int cvar_set(const char *name, const char *text);
int cvar_lock(const char *name);
int cvar_unlock(const char *name);
int cvar_islocked(const char *name);
// Unlock, set and lock again: for the engine's own derived values.
int cvar_force_set(const char *name, const char *text);

void cvar_set_register_callback(cvar_register_callback callback, void *context);
void load_cvars_from_file(const char *path);

// Copies a string cvar's current value into buf (always NUL-terminated,
// cut at bufsize - 1) under the cvar lock; returns buf. "" when storage or
// its value is null.
char *cvar_string_read(char *const *storage, char *buf, size_t bufsize);
// An owned copy (SDL_free it) of a string cvar's value, or null.
char *cvar_string_dup(char *const *storage);

// Text name of a type code ("string", "int", ...), or null.
const char *cvar_type_name(unsigned type);

void cvar_quit(void);
