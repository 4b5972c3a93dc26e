// File and text utilities shared by the whole engine: allocating printf,
// whole-file reads and writes through the virtual file system (PhysFS),
// direct writes outside it, the line and key/value splitters behind the
// cvar and metadata files, wall-clock helpers, a UTF-8 decoder and the
// frame-rate counter. Returned buffers come from SDL_malloc and are freed
// with SDL_free by the caller. Failures are reported by the return value,
// with the reason left in SDL's or PhysFS's error state; nothing here logs.
#pragma once

#include <SDL.h>
#include <stddef.h>
#include <stdint.h>
#include <time.h>

#define UTF8_INVALID 0xFFFFFFFFu

// Frame-rate counter: the average over the last eight samples of at least
// 125 ms each, plus the current partial sample. Zero-initialise before use.
struct fps_counter {
    Uint32 total_ms;
    Uint32 total_frames;
    Uint32 last_sample_time;
    Uint32 frames_since_sample;
    Uint32 ring_ms[8];
    Uint32 ring_frames[8];
    Uint32 ring_index;
};

// printf into a fresh buffer; none when allocation fails.
char *sprintf_alloc(const char *fmt, ...) SDL_PRINTF_VARARG_FUNC(1);
char *vsprintf_alloc(const char *fmt, va_list ap);

// Reads a whole file through PhysFS into a NUL-terminated buffer.
// none (and *len = 0) when the file is missing, its size unknown, or the
// read is short.
void *loadfile(const char *path, size_t *len);

// Write or append through PhysFS, relative to the write directory; missing
// directories of the path are created. 1 only when every byte was written
// and the file closed cleanly.
int storefile(const char *path, const void *data, size_t len);
int appendfile(const char *path, const void *data, size_t len);

// The same on the real file system: directory + "/" + name.
int storefile_write_override(const char *dir, const char *name, const void *data, size_t len);
int appendfile_write_override(const char *dir, const char *name, const void *data, size_t len);
// Replaces directory + "/" + name as a whole: the data goes to a temporary
// file in the same directory, which is then renamed over the target, so a
// failed write leaves the previous file untouched. Missing directories are
// created as by storefile_write_override; a symlinked target is replaced
// where the link points. The reason for a failure is left in SDL_GetError
// and as a PhysFS error code.
int storefile_write_override_atomic(const char *dir, const char *name, const void *data, size_t len);

// PhysFS modification time, or -1 when the path cannot be stat'ed.
Sint64 lastmodtime(const char *path);
int path_exists(const char *path);

// Loads a file and cuts it into lines at "\n", "\r" and "\r\n". The array
// ends with a null entry; its first entry is also the one text buffer.
// Free with free_split_textfile.
char **split_textfile_into_lines(const char *path, unsigned *count);
void free_split_textfile(char **lines);

// Splits "key = value" in place. Blank and comment lines ("#", ";")
// succeed with *key = none. 0 when there is no "=" or it comes first.
int split_key_value_string(char *line, char **key, char **value);

time_t current_timestamp(void);
// Local time; any output may be null. A leap second 60 is reported as 59.
void current_datetime(int *year, int *month, int *day, int *hour, int *minute, int *second);

// Decodes one code point and advances *str past it. 0 at the terminating
// NUL (pointer unchanged); UTF8_INVALID for malformed, overlong, surrogate
// or out-of-range sequences.
Uint32 utf8codepoint(const char **str);

// Counts one frame at SDL_GetTicks() and returns the current rate.
unsigned fps_iteration(fps_counter *counter);
// The same with an explicit clock, for callers and tests that own the time.
unsigned fps_iteration_at(fps_counter *counter, Uint32 now);

void ignore_sigpipe(void);
char *generate_unique_emscripten_folder_name(const char *a, const char *b);
