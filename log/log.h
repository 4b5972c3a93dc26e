// Logging: levelled, per-subsystem entries appended by any thread to one
// pending list; the simulation thread hands them to the scripts and a
// janitor job formats and writes them to standard output and the log file.
// Entries written before the log is ready are kept and filtered when it
// becomes ready.
#pragma once

#include <SDL.h>

enum log_level : Uint32 {
    LOG_LEVEL_SPAM = 0,
    LOG_LEVEL_DEBUG = 1,
    LOG_LEVEL_INFO = 2,
    LOG_LEVEL_WARN = 3,
    LOG_LEVEL_ERROR = 4,
    LOG_LEVEL_UNFILTERED = 0x7FFFFFFE,
    LOG_LEVEL_NOTHING = 0x7FFFFFFF,
};

#define LOG_LIMIT_COUNT 30

struct log_entry {
    Uint32 level;
    Uint32 timestamp;   // SDL_GetTicks() when written
    const char *subsystem;
    const char *message;
    log_entry *next;
};

// Native variables of the log.* cvars (registered by log_ready).
extern char *cvar_log_filename;
extern char *cvar_log_level;
extern char *cvar_log_filter_subsystems;
extern Sint32 cvar_log_stdout;
extern Sint32 cvar_log_timing;
extern Sint32 cvar_log_level_char;
extern Sint32 cvar_log_subsystem;
extern Sint32 cvar_log_stdout_color;

int log_init(void);
int log_ready(void);
void mnf_log_write(const char *subsystem, Uint32 level, const char *message);
void log_spam(const char *subsystem, const char *fmt, ...) SDL_PRINTF_VARARG_FUNC(2);
void log_debug(const char *subsystem, const char *fmt, ...) SDL_PRINTF_VARARG_FUNC(2);
void log_info(const char *subsystem, const char *fmt, ...) SDL_PRINTF_VARARG_FUNC(2);
void log_warn(const char *subsystem, const char *fmt, ...) SDL_PRINTF_VARARG_FUNC(2);
void log_error(const char *subsystem, const char *fmt, ...) SDL_PRINTF_VARARG_FUNC(2);
void log_unfiltered(const char *subsystem, const char *fmt, ...) SDL_PRINTF_VARARG_FUNC(2);
void log_sdl_error(const char *subsystem, Uint32 level, const char *fmt, ...) SDL_PRINTF_VARARG_FUNC(3);
void log_physfs_error(const char *subsystem, Uint32 level, const char *fmt, ...) SDL_PRINTF_VARARG_FUNC(3);
void log_multiline(const char *subsystem, Uint32 level, const char *text);
// Rate-limited: at most LOG_LIMIT_COUNT messages per counter, then one notice.
void log_limited(SDL_atomic_t *counter, const char *subsystem, Uint32 level, const char *fmt, ...) SDL_PRINTF_VARARG_FUNC(4);
int log_should_be_filtered(const char *subsystem, Uint32 level);

log_entry *log_get_entries(void);
void log_publish(log_entry *entries);
void log_free_entries(log_entry *entries);
// Janitor job body: publishes and frees an entry list.
void log_publish_job(void *entries);

void log_quit(void);
void log_emergency_quit(void);
