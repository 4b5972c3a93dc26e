// Logging: writers on any thread append entries (one heap block each) to a
// pending list under a recursive SDL mutex; the simulation thread takes the
// list and a janitor job publishes it to standard output and the log file.
// Before log_ready every entry is kept; log_ready registers the log.*
// cvars, opens the file and filters the kept entries retroactively.
// Depends on cvars (options), metadata (game id for the file name), the
// utilities (clock, formatting), PhysFS and SDL.
#include "log/log.h"

#include <stdarg.h>
#include <stdio.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

#include <physfs.h>

#include "config/cvar.h"
#include "engine/util.h"
#include "engine/version.h"

char *cvar_log_filename;
char *cvar_log_level;
char *cvar_log_filter_subsystems;
Sint32 cvar_log_stdout;
Sint32 cvar_log_timing;
Sint32 cvar_log_level_char;
Sint32 cvar_log_subsystem;
Sint32 cvar_log_stdout_color;

#define LOG_DEFAULT_GAMEID "hello-SDL"
#define LOG_TOO_MANY "(Too many logs entries like this, not logging it again.)"

static std::atomic<int> log_initialised{0};
static std::atomic<int> log_is_ready{0};
static std::atomic<Uint32> log_filter_level{LOG_LEVEL_DEBUG};

static SDL_mutex *log_entry_mutex;
static log_entry *log_head;
static log_entry *log_tail;

// Written by log_ready before the ready flag is published, then read-only.
static char **log_filtered;
static int log_filtered_count;

// Serialises publishing (janitor job and synchronous publish) and guards
// the log file.
static std::mutex log_publish_mutex;
static PHYSFS_File *log_file;

static int log_subsystem_filtered(const char *subsystem)
{
    for (int i = 0; i < log_filtered_count; i++) {
        if (SDL_strcasecmp(log_filtered[i], subsystem) == 0) {
            return 1;
        }
    }
    return 0;
}

// 1 when an entry written now would be dropped.
static int log_drops(const char *subsystem, Uint32 level)
{
    if (!log_initialised.load(std::memory_order_acquire)) {
        return 1;
    }
    if (!log_is_ready.load(std::memory_order_acquire)) {
        return 0;
    }
    return level < log_filter_level.load(std::memory_order_relaxed) || log_subsystem_filtered(subsystem);
}

int log_should_be_filtered(const char *subsystem, Uint32 level)
{
    if (!log_initialised.load(std::memory_order_acquire)) {
        return 1;
    }
    if (!log_is_ready.load(std::memory_order_acquire)) {
        return 0;
    }
    if (level < log_filter_level.load(std::memory_order_relaxed)) {
        return 1;
    }
    if (!subsystem) {
        return 0;
    }
    return log_subsystem_filtered(subsystem);
}

// One block: the header, the subsystem text, then room for msglen bytes
// of message plus its NUL.
static log_entry *log_alloc_entry(const char *subsystem, Uint32 level, size_t msglen)
{
    const size_t sublen = SDL_strlen(subsystem);
    log_entry *e = (log_entry *)SDL_malloc(sizeof(log_entry) + sublen + 1 + msglen + 1);
    if (!e) {
        return NULL;
    }
    char *sub = (char *)(e + 1);
    SDL_memcpy(sub, subsystem, sublen + 1);
    e->level = level;
    e->timestamp = SDL_GetTicks();
    e->subsystem = sub;
    e->message = sub + sublen + 1;
    e->next = NULL;
    return e;
}

static void log_append(log_entry *e)
{
    SDL_LockMutex(log_entry_mutex);
    if (log_tail) {
        log_tail->next = e;
    } else {
        log_head = e;
    }
    log_tail = e;
    SDL_UnlockMutex(log_entry_mutex);
}

static void log_write_len(const char *subsystem, Uint32 level, const char *message, size_t len)
{
    if (!subsystem) {
        subsystem = "???";
    }
    if (log_drops(subsystem, level)) {
        return;
    }
    log_entry *e = log_alloc_entry(subsystem, level, len);
    if (!e) {
        return;
    }
    char *msg = (char *)e->message;
    SDL_memcpy(msg, message, len);
    msg[len] = '\0';
    log_append(e);
}

void mnf_log_write(const char *subsystem, Uint32 level, const char *message)
{
    if (!message) {
        message = "(null)";
    }
    log_write_len(subsystem, level, message, SDL_strlen(message));
}

// Formats straight into the entry block: one allocation per message.
static void log_write_v(const char *subsystem, Uint32 level, const char *fmt, va_list ap)
{
    if (!subsystem) {
        subsystem = "???";
    }
    if (log_drops(subsystem, level)) {
        return;
    }
    va_list measure;
    va_copy(measure, ap);
    const int len = SDL_vsnprintf(NULL, 0, fmt, measure);
    va_end(measure);
    if (len < 0) {
        return;
    }
    log_entry *e = log_alloc_entry(subsystem, level, (size_t)len);
    if (!e) {
        return;
    }
    if (SDL_vsnprintf((char *)e->message, (size_t)len + 1, fmt, ap) != len) {
        SDL_free(e);
        return;
    }
    log_append(e);
}

static int log_level_passes(Uint32 level)
{
    return log_initialised.load(std::memory_order_acquire) &&
           level >= log_filter_level.load(std::memory_order_relaxed);
}

#define LOG_DEFINE_WRITER(fn, lvl)                                  \
    void fn(const char *subsystem, const char *fmt, ...)            \
    {                                                               \
        if (!log_level_passes(lvl)) {                               \
            return;                                                 \
        }                                                           \
        va_list ap;                                                 \
        va_start(ap, fmt);                                          \
        log_write_v(subsystem, lvl, fmt, ap);                       \
        va_end(ap);                                                 \
    }

LOG_DEFINE_WRITER(log_spam, LOG_LEVEL_SPAM)
LOG_DEFINE_WRITER(log_debug, LOG_LEVEL_DEBUG)
LOG_DEFINE_WRITER(log_info, LOG_LEVEL_INFO)
LOG_DEFINE_WRITER(log_warn, LOG_LEVEL_WARN)
LOG_DEFINE_WRITER(log_error, LOG_LEVEL_ERROR)
LOG_DEFINE_WRITER(log_unfiltered, LOG_LEVEL_UNFILTERED)

#undef LOG_DEFINE_WRITER

static void log_write_with_reason(const char *subsystem, Uint32 level, const char *reason, const char *fmt, va_list ap)
{
    char *msg = vsprintf_alloc(fmt, ap);
    if (!msg) {
        return;
    }
    char *full = sprintf_alloc("%s (%s)", msg, reason);
    SDL_free(msg);
    if (full) {
        mnf_log_write(subsystem, level, full);
        SDL_free(full);
    }
}

void log_sdl_error(const char *subsystem, Uint32 level, const char *fmt, ...)
{
    if (!log_level_passes(level)) {
        return;
    }
    // Copied first: formatting below may replace SDL's error text.
    char reason[1024];
    const char *err = SDL_GetError();
    SDL_strlcpy(reason, (err && *err) ? err : "no error", sizeof(reason));
    va_list ap;
    va_start(ap, fmt);
    log_write_with_reason(subsystem, level, reason, fmt, ap);
    va_end(ap);
}

void log_physfs_error(const char *subsystem, Uint32 level, const char *fmt, ...)
{
    const char *err = PHYSFS_getErrorByCode(PHYSFS_getLastErrorCode());
    if (!log_level_passes(level)) {
        return;
    }
    va_list ap;
    va_start(ap, fmt);
    log_write_with_reason(subsystem, level, err ? err : "unknown error", fmt, ap);
    va_end(ap);
}

void log_multiline(const char *subsystem, Uint32 level, const char *text)
{
    if (!text) {
        return;
    }
    if (!*text) {
        log_write_len(subsystem, level, "", 0);
        return;
    }
    const char *p = text;
    while (*p) {
        const char *nl = SDL_strchr(p, '\n');
        const size_t len = nl ? (size_t)(nl - p) : SDL_strlen(p);
        log_write_len(subsystem, level, p, len);
        if (!nl) {
            break;
        }
        p = nl + 1;
    }
}

void log_limited(SDL_atomic_t *counter, const char *subsystem, Uint32 level, const char *fmt, ...)
{
    if (__atomic_load_n(&counter->value, __ATOMIC_ACQUIRE) >= LOG_LIMIT_COUNT) {
        return;
    }
    const int n = __atomic_add_fetch(&counter->value, 1, __ATOMIC_ACQ_REL);
    if (n > LOG_LIMIT_COUNT) {
        return;
    }
    const int last = n == LOG_LIMIT_COUNT;
    // The last message and the notice stay adjacent in the list.
    SDL_mutex *held = (last && log_initialised.load(std::memory_order_acquire)) ? log_entry_mutex : NULL;
    if (held) {
        SDL_LockMutex(held);
    }
    if (log_level_passes(level)) {
        va_list ap;
        va_start(ap, fmt);
        log_write_v(subsystem, level, fmt, ap);
        va_end(ap);
    }
    if (last) {
        mnf_log_write(subsystem, level, LOG_TOO_MANY);
    }
    if (held) {
        SDL_UnlockMutex(held);
    }
}

log_entry *log_get_entries(void)
{
    if (!log_entry_mutex) {
        return NULL;
    }
    SDL_LockMutex(log_entry_mutex);
    log_entry *list = log_head;
    log_head = NULL;
    log_tail = NULL;
    SDL_UnlockMutex(log_entry_mutex);
    return list;
}

void log_free_entries(log_entry *entries)
{
    while (entries) {
        log_entry *next = entries->next;
        SDL_free(entries);
        entries = next;
    }
}

static char log_level_char(Uint32 level)
{
    switch (level) {
    case LOG_LEVEL_SPAM: return '.';
    case LOG_LEVEL_DEBUG: return '?';
    case LOG_LEVEL_INFO: return '-';
    case LOG_LEVEL_WARN: return '#';
    case LOG_LEVEL_ERROR: return '!';
    case LOG_LEVEL_UNFILTERED: return '*';
    default: return '?';
    }
}

// ANSI colour code for standard output, 0 for none.
static int log_level_colour(Uint32 level)
{
    switch (level) {
    case LOG_LEVEL_SPAM: return 30;
    case LOG_LEVEL_DEBUG: return 32;
    case LOG_LEVEL_INFO: return 37;
    case LOG_LEVEL_WARN: return 33;
    case LOG_LEVEL_ERROR: return 31;
    case LOG_LEVEL_UNFILTERED: return 36;
    default: return 0;
    }
}

static int log_flag(const Sint32 *flag)
{
    return __atomic_load_n(flag, __ATOMIC_RELAXED) != 0;
}

// Called with the publish mutex held. The file is forgotten before the
// failure is logged so the report cannot recurse into the broken file.
static void log_give_up_file(void)
{
    PHYSFS_File *f = log_file;
    log_file = NULL;
    log_physfs_error("Engine", LOG_LEVEL_ERROR, "Failed to write log file! Giving up on further logging to this file.");
    PHYSFS_close(f);
}

struct log_piece {
    const char *data;
    size_t len;
};

void log_publish(log_entry *entries)
{
    std::lock_guard<std::mutex> guard(log_publish_mutex);
    const int use_level_char = log_flag(&cvar_log_level_char);
    const int use_timing = log_flag(&cvar_log_timing);
    const int use_subsystem = log_flag(&cvar_log_subsystem);
    const int use_stdout = log_flag(&cvar_log_stdout);
    const int use_colour = log_flag(&cvar_log_stdout_color);

    for (const log_entry *e = entries; e; e = e->next) {
        char levelbuf[4];
        char timebuf[16];
        log_piece pieces[6];
        int n = 0;
        if (use_level_char) {
            levelbuf[0] = log_level_char(e->level);
            levelbuf[1] = ' ';
            pieces[n++] = {levelbuf, 2};
        }
        if (use_timing) {
            const int len = SDL_snprintf(timebuf, sizeof(timebuf), "%.6u ", (unsigned)(e->timestamp / 1000));
            pieces[n++] = {timebuf, (size_t)len};
        }
        if (use_subsystem) {
            pieces[n++] = {"[", 1};
            pieces[n++] = {e->subsystem, SDL_strlen(e->subsystem)};
            pieces[n++] = {"] ", 2};
        }
        pieces[n++] = {e->message, SDL_strlen(e->message)};

        if (log_file) {
            int ok = 1;
            for (int i = 0; ok && i < n; i++) {
                ok = PHYSFS_writeBytes(log_file, pieces[i].data, pieces[i].len) == (PHYSFS_sint64)pieces[i].len;
            }
            if (ok) {
                ok = PHYSFS_writeBytes(log_file, "\n", 1) == 1;
            }
            if (!ok) {
                log_give_up_file();
            }
        }

        if (use_stdout) {
            const int colour = use_colour ? log_level_colour(e->level) : 0;
            if (colour) {
                fprintf(stdout, "\x1b[%dm", colour);
            }
            for (int i = 0; i < n; i++) {
                fwrite(pieces[i].data, 1, pieces[i].len, stdout);
            }
            fputs(colour ? "\x1b[m\n" : "\n", stdout);
            fflush(stdout);
        }
    }

    // The file is buffered; one flush per batch keeps it current.
    if (log_file && !PHYSFS_flush(log_file)) {
        log_give_up_file();
    }
}

void log_publish_job(void *entries)
{
    log_publish((log_entry *)entries);
    log_free_entries((log_entry *)entries);
}

int log_init(void)
{
    if (log_initialised.load()) {
        return 1;
    }
    log_entry_mutex = SDL_CreateMutex();
    if (!log_entry_mutex) {
        return 0;
    }
    log_filter_level.store(LOG_LEVEL_DEBUG);
    log_is_ready.store(0);
    log_initialised.store(1, std::memory_order_release);

    int year, month, day, hour, minute, second;
    current_datetime(&year, &month, &day, &hour, &minute, &second);
    log_unfiltered("Engine", "Log started at %d/%d/%d %d:%d:%d", year, month, day, hour, minute, second);
    log_unfiltered("Engine", "Moonforge Orbkit");
    log_unfiltered("Engine", "  Version: %s", engine_version);
    log_unfiltered("Engine", "  GIT Hash: %s", engine_git_hash);
    log_unfiltered("Engine", "  Build Date: %s %s", engine_build_date, engine_build_time);
    log_unfiltered("Engine", "Platform: %s", SDL_GetPlatform());
    log_unfiltered("Engine", "%s", "");
    return 1;
}

static Uint32 log_parse_level(const char *text, int *known)
{
    static const struct {
        const char *name;
        Uint32 level;
    } levels[] = {
        {"spam", LOG_LEVEL_SPAM},   {"debug", LOG_LEVEL_DEBUG},
        {"info", LOG_LEVEL_INFO},   {"warn", LOG_LEVEL_WARN},
        {"error", LOG_LEVEL_ERROR}, {"unfiltered", LOG_LEVEL_UNFILTERED},
        {"nothing", LOG_LEVEL_NOTHING},
    };
    *known = 1;
    for (size_t i = 0; i < SDL_arraysize(levels); i++) {
        if (text && SDL_strcmp(text, levels[i].name) == 0) {
            return levels[i].level;
        }
    }
    *known = 0;
    return 0;
}

static void log_free_filtered(void)
{
    for (int i = 0; i < log_filtered_count; i++) {
        SDL_free(log_filtered[i]);
    }
    SDL_free(log_filtered);
    log_filtered = NULL;
    log_filtered_count = 0;
}

// Fills the filtered-subsystem list from "a, b,c": pieces trimmed of
// spaces, empty pieces and duplicates (ignoring case) skipped.
static int log_parse_filter_list(const char *text)
{
    log_free_filtered();
    if (!text || !*text) {
        return 1;
    }
    char *copy = SDL_strdup(text);
    if (!copy) {
        SDL_OutOfMemory();
        return 0;
    }
    int cap = 0;
    char *p = copy;
    while (p) {
        char *comma = SDL_strchr(p, ',');
        if (comma) {
            *comma = '\0';
        }
        while (*p == ' ') {
            p++;
        }
        char *end = p + SDL_strlen(p);
        while (end > p && end[-1] == ' ') {
            end--;
        }
        *end = '\0';
        if (*p && !log_subsystem_filtered(p)) {
            if (log_filtered_count == cap) {
                const int newcap = cap ? cap * 2 : 4;
                char **grown = (char **)SDL_realloc(log_filtered, (size_t)newcap * sizeof(char *));
                if (!grown) {
                    SDL_free(copy);
                    SDL_OutOfMemory();
                    return 0;
                }
                log_filtered = grown;
                cap = newcap;
            }
            char *name = SDL_strdup(p);
            if (!name) {
                SDL_free(copy);
                SDL_OutOfMemory();
                return 0;
            }
            log_filtered[log_filtered_count++] = name;
        }
        p = comma ? comma + 1 : NULL;
    }
    SDL_free(copy);
    return 1;
}

static void log_open_file(void)
{
    char *name = cvar_string_dup(&cvar_log_filename);
    if (!name || !*name || !PHYSFS_isInit()) {
        SDL_free(name);
        return;
    }
    char *path = SDL_strchr(name, '/') ? SDL_strdup(name) : sprintf_alloc("logs/%s", name);
    SDL_free(name);
    if (!path) {
        return;
    }
    PHYSFS_File *f = PHYSFS_openWrite(path);
    if (!f) {
        log_physfs_error("Engine", LOG_LEVEL_ERROR, "Failed to open logfile '%s'", path);
        log_error("Engine", "Continuing on without log file, hoping this log info is going elsewhere, too.");
    } else {
        PHYSFS_setBuffer(f, 16 * 1024);
    }
    SDL_free(path);

    std::lock_guard<std::mutex> guard(log_publish_mutex);
    if (log_file) {
        PHYSFS_close(log_file);
    }
    log_file = f;
}

int log_ready(void)
{
    char **gameid_storage = cvar_get_string("game_metadata.gameid");
    char *gameid = gameid_storage ? cvar_string_dup(gameid_storage) : NULL;
    const Sint32 *deployment = cvar_get_bool("game_metadata.deployment");
    const int production = deployment ? log_flag(deployment) : 0;
    char *filename = sprintf_alloc("%s.log", gameid ? gameid : LOG_DEFAULT_GAMEID);
    SDL_free(gameid);
    if (!filename) {
        return 0;
    }
    const char *default_level = production ? "info" : "debug";

    int ok = cvar_register_string("log.filename", "filename to write log data to", &cvar_log_filename, filename);
    SDL_free(filename);
    ok = ok && cvar_register_string("log.level",
                                    "One of [spam, debug, info, warn, error, unfiltered, nothing]. "
                                    "Filter out everything less than.",
                                    &cvar_log_level, default_level);
    ok = ok && cvar_register_string("log.filter_subsystems", "Comma-separated list of subsystems to ignore logging for",
                                    &cvar_log_filter_subsystems, "");
    ok = ok && cvar_register_bool("log.stdout", "True if we should write logs to stdout", &cvar_log_stdout, !production);
    ok = ok && cvar_register_bool("log.timing", "True if we should include the timing in the log output",
                                  &cvar_log_timing, 0);
    ok = ok && cvar_register_bool("log.level_char",
                                  "True if we should include the logging level character in the log output",
                                  &cvar_log_level_char, 1);
    ok = ok && cvar_register_bool("log.subsystem", "True if we should include the subsystem name in the log output",
                                  &cvar_log_subsystem, 1);
    ok = ok && cvar_register_bool("log.stdout_color", "True if we should colorize logs sent to stdout",
                                  &cvar_log_stdout_color, isatty(1));
    if (!ok) {
        return 0;
    }
    cvar_lock("log.filename");
    cvar_lock("log.level");
    cvar_lock("log.filter_subsystems");

    char *level_text = cvar_string_dup(&cvar_log_level);
    int known;
    Uint32 level = log_parse_level(level_text, &known);
    if (!known) {
        log_error("Engine", "Cvar log.level value '%s' is unknown. Defaulting to '%s'.",
                  level_text ? level_text : "", default_level);
        level = production ? LOG_LEVEL_INFO : LOG_LEVEL_DEBUG;
    }
    SDL_free(level_text);

    char *filter_text = cvar_string_dup(&cvar_log_filter_subsystems);
    ok = log_parse_filter_list(filter_text);
    SDL_free(filter_text);
    if (!ok) {
        return 0;
    }

    log_open_file();

    SDL_LockMutex(log_entry_mutex);
    log_filter_level.store(level, std::memory_order_relaxed);
    log_is_ready.store(1, std::memory_order_release);
    log_entry *prev = NULL;
    log_entry *e = log_head;
    while (e) {
        log_entry *next = e->next;
        if (e->level < level || log_subsystem_filtered(e->subsystem)) {
            if (prev) {
                prev->next = next;
            } else {
                log_head = next;
            }
            SDL_free(e);
        } else {
            prev = e;
        }
        e = next;
    }
    log_tail = prev;
    SDL_UnlockMutex(log_entry_mutex);
    return 1;
}

void log_quit(void)
{
    if (!log_initialised.load(std::memory_order_acquire)) {
        return;
    }
    log_unfiltered("Engine", "Logging shutting down");
    log_entry *entries = log_get_entries();

    SDL_LockMutex(log_entry_mutex);
    log_initialised.store(0, std::memory_order_release);
    log_is_ready.store(0, std::memory_order_release);
    log_entry *late = log_head;  // written between the take and the flag
    log_head = NULL;
    log_tail = NULL;
    SDL_UnlockMutex(log_entry_mutex);

    log_publish(entries);
    log_free_entries(entries);
    log_publish(late);
    log_free_entries(late);

    {
        std::lock_guard<std::mutex> guard(log_publish_mutex);
        if (log_file) {
            PHYSFS_close(log_file);
            log_file = NULL;
        }
    }
    SDL_DestroyMutex(log_entry_mutex);
    log_entry_mutex = NULL;
    log_free_filtered();
    log_filter_level.store(LOG_LEVEL_DEBUG);
}

void log_emergency_quit(void)
{
    if (!log_initialised.load(std::memory_order_acquire)) {
        return;
    }
    if (!log_is_ready.load(std::memory_order_acquire)) {
        log_ready();
    }
    log_quit();
}
