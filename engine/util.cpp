// File and text utilities: allocating printf, whole-file reads and writes
// through PhysFS, direct writes to the real file system, the line and
// key/value splitters used by the cvar and metadata files, clock helpers,
// the UTF-8 decoder and the frame-rate counter.
// Depends on SDL (allocator, error text, ticks) and PhysFS only.
#include "engine/util.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>

#include <physfs.h>

char *vsprintf_alloc(const char *fmt, va_list ap)
{
    va_list measure;
    va_copy(measure, ap);
    const int len = SDL_vsnprintf(NULL, 0, fmt, measure);
    va_end(measure);
    if (len < 0) {
        SDL_SetError("Formatting failed");
        return NULL;
    }
    char *buf = (char *)SDL_malloc((size_t)len + 1);
    if (!buf) {
        SDL_OutOfMemory();
        return NULL;
    }
    if (SDL_vsnprintf(buf, (size_t)len + 1, fmt, ap) != len) {
        SDL_free(buf);
        SDL_SetError("Formatting changed length");
        return NULL;
    }
    return buf;
}

char *sprintf_alloc(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    char *retval = vsprintf_alloc(fmt, ap);
    va_end(ap);
    return retval;
}

void *loadfile(const char *path, size_t *len)
{
    size_t dummy;
    if (!len) {
        len = &dummy;
    }
    *len = 0;

    PHYSFS_Stat st;
    if (!PHYSFS_stat(path, &st)) {
        return NULL;
    }
    if (st.filetype == PHYSFS_FILETYPE_DIRECTORY) {
        PHYSFS_setErrorCode(PHYSFS_ERR_NOT_A_FILE);
        return NULL;
    }
    // An archive may not know an entry's size; reading "until it stops"
    // could not tell a short read from the end, so refuse.
    if (st.filesize < 0) {
        PHYSFS_setErrorCode(PHYSFS_ERR_UNSUPPORTED);
        return NULL;
    }
    const Uint64 size = (Uint64)st.filesize;
    if (size >= (Uint64)SDL_SIZE_MAX) {
        PHYSFS_setErrorCode(PHYSFS_ERR_OUT_OF_MEMORY);
        return NULL;
    }

    char *buf = (char *)SDL_malloc((size_t)size + 1);
    if (!buf) {
        PHYSFS_setErrorCode(PHYSFS_ERR_OUT_OF_MEMORY);
        return NULL;
    }
    PHYSFS_File *f = PHYSFS_openRead(path);
    if (!f) {
        SDL_free(buf);
        return NULL;
    }
    const PHYSFS_sint64 got = PHYSFS_readBytes(f, buf, size);
    PHYSFS_close(f);
    if (got < 0 || (Uint64)got != size) {
        SDL_free(buf);
        if (got >= 0) {
            PHYSFS_setErrorCode(PHYSFS_ERR_IO);
        }
        return NULL;
    }
    buf[size] = '\0';
    *len = (size_t)size;
    return buf;
}

// Creates the directory part of a write-dir relative path.
static int util_make_parent_dirs(const char *path)
{
    const char *slash = SDL_strrchr(path, '/');
    if (!slash || slash == path) {
        return 1;
    }
    const size_t dirlen = (size_t)(slash - path);
    char *dir = (char *)SDL_malloc(dirlen + 1);
    if (!dir) {
        PHYSFS_setErrorCode(PHYSFS_ERR_OUT_OF_MEMORY);
        return 0;
    }
    SDL_memcpy(dir, path, dirlen);
    dir[dirlen] = '\0';
    const int rc = PHYSFS_mkdir(dir);
    SDL_free(dir);
    return rc;
}

static int util_write_physfs(const char *path, const void *data, size_t len, int append)
{
    util_make_parent_dirs(path);  // a failure shows up as a failed open
    PHYSFS_File *f = append ? PHYSFS_openAppend(path) : PHYSFS_openWrite(path);
    if (!f) {
        return 0;
    }
    int ok = 1;
    if (len > 0) {
        ok = PHYSFS_writeBytes(f, data, len) == (PHYSFS_sint64)len;
    }
    if (!PHYSFS_close(f)) {
        ok = 0;
    }
    return ok;
}

int storefile(const char *path, const void *data, size_t len)
{
    return util_write_physfs(path, data, len, 0);
}

int appendfile(const char *path, const void *data, size_t len)
{
    return util_write_physfs(path, data, len, 1);
}

static PHYSFS_ErrorCode util_errcode_from_errno(int err)
{
    switch (err) {
    case 0: return PHYSFS_ERR_OK;
    case ENOMEM: return PHYSFS_ERR_OUT_OF_MEMORY;
    case ENOENT: return PHYSFS_ERR_NOT_FOUND;
    case EACCES:
    case EPERM: return PHYSFS_ERR_PERMISSION;
    case EROFS: return PHYSFS_ERR_READ_ONLY;
    case ENOSPC:
    case EDQUOT: return PHYSFS_ERR_NO_SPACE;
    case ENOTDIR:
    case ENAMETOOLONG: return PHYSFS_ERR_BAD_FILENAME;
    case ELOOP: return PHYSFS_ERR_SYMLINK_LOOP;
    case EIO: return PHYSFS_ERR_IO;
    case EBUSY: return PHYSFS_ERR_BUSY;
    default: return PHYSFS_ERR_OS_ERROR;
    }
}

static int util_write_real(const char *dir, const char *name, const void *data, size_t len, int append)
{
    char *path = sprintf_alloc("%s/%s", dir, name);
    if (!path) {
        return 0;
    }
    // Create every directory prefix; existing ones are fine, other
    // failures are noted and the open below decides.
    for (char *p = path + 1; *p; p++) {
        if (*p != '/') {
            continue;
        }
        *p = '\0';
        if (mkdir(path, 0700) == -1 && errno != EEXIST) {
            PHYSFS_setErrorCode(util_errcode_from_errno(errno));
        }
        *p = '/';
    }

    SDL_RWops *rw = SDL_RWFromFile(path, append ? "ab" : "wb");
    SDL_free(path);
    if (!rw) {
        return 0;
    }
    int ok = 1;
    if (len > 0) {
        ok = SDL_RWwrite(rw, data, 1, len) == len;
    }
    if (SDL_RWclose(rw) != 0) {
        ok = 0;
    }
    return ok;
}

int storefile_write_override(const char *dir, const char *name, const void *data, size_t len)
{
    return util_write_real(dir, name, data, len, 0);
}

int appendfile_write_override(const char *dir, const char *name, const void *data, size_t len)
{
    return util_write_real(dir, name, data, len, 1);
}

static int util_fail_errno(const char *what, const char *path, int err)
{
    PHYSFS_setErrorCode(util_errcode_from_errno(err));
    SDL_SetError("%s '%s': %s", what, path, strerror(err));
    return 0;
}

// Creates every directory prefix of an absolute or relative file path.
static void util_make_real_dirs(char *path)
{
    for (char *p = path + 1; *p; p++) {
        if (*p != '/') {
            continue;
        }
        *p = '\0';
        if (mkdir(path, 0700) == -1 && errno != EEXIST) {
            PHYSFS_setErrorCode(util_errcode_from_errno(errno));
        }
        *p = '/';
    }
}

// Writes the whole buffer to fd; 0 or the errno that stopped it.
static int util_write_all(int fd, const void *data, size_t len)
{
    const char *p = (const char *)data;
    while (len > 0) {
        const ssize_t n = write(fd, p, len);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        p += n;
        len -= (size_t)n;
    }
    return 0;
}

int storefile_write_override_atomic(const char *dir, const char *name, const void *data, size_t len)
{
    char *path = sprintf_alloc("%s/%s", dir, name);
    if (!path) {
        return 0;
    }
    util_make_real_dirs(path);

    // Renaming over a symlink would replace the link itself; replace the
    // file it points at instead (a dangling link is simply replaced).
    struct stat st;
    if (lstat(path, &st) == 0 && S_ISLNK(st.st_mode)) {
        char *resolved = realpath(path, NULL);
        if (resolved) {
            char *copy = SDL_strdup(resolved);
            free(resolved);
            if (!copy) {
                SDL_free(path);
                SDL_OutOfMemory();
                return 0;
            }
            SDL_free(path);
            path = copy;
        }
    }
    const int keep_mode = stat(path, &st) == 0 && S_ISREG(st.st_mode);

    // The temporary file sits beside the target: rename is atomic only
    // within one file system. pid and serial keep concurrent writers apart.
    static std::atomic<unsigned> serial{0};
    const char *slash = SDL_strrchr(path, '/');
    const int dirlen = slash ? (int)(slash - path) : 1;
    const char *dirpart = slash ? path : ".";
    const char *base = slash ? slash + 1 : path;
    char *tmp = sprintf_alloc("%.*s/.%.128s.%ld-%u.tmp", dirlen, dirpart, base, (long)getpid(),
                              serial.fetch_add(1, std::memory_order_relaxed));
    if (!tmp) {
        SDL_free(path);
        return 0;
    }

    const int fd = open(tmp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd == -1) {
        util_fail_errno("Couldn't create", tmp, errno);
        SDL_free(tmp);
        SDL_free(path);
        return 0;
    }
    if (keep_mode) {
        (void)fchmod(fd, st.st_mode & 07777);
    }
    int err = util_write_all(fd, data, len);
    if (close(fd) != 0 && err == 0) {
        err = errno;
    }
    if (err == 0 && rename(tmp, path) != 0) {
        err = errno;
    }
    if (err != 0) {
        unlink(tmp);
        util_fail_errno("Couldn't write", path, err);
    }
    SDL_free(tmp);
    SDL_free(path);
    return err == 0;
}

Sint64 lastmodtime(const char *path)
{
    PHYSFS_Stat st;
    if (!PHYSFS_stat(path, &st)) {
        return -1;
    }
    return st.modtime;
}

int path_exists(const char *path)
{
    return PHYSFS_exists(path) ? 1 : 0;
}

char **split_textfile_into_lines(const char *path, unsigned *count)
{
    unsigned dummy;
    if (!count) {
        count = &dummy;
    }
    *count = 0;

    size_t len = 0;
    char *buf = (char *)loadfile(path, &len);
    if (!buf) {
        return NULL;
    }

    // Every terminator ("\n", "\r" or the pair "\r\n") starts one more line.
    size_t lines = 1;
    for (size_t i = 0; i < len; i++) {
        if (buf[i] == '\r' || buf[i] == '\n') {
            lines++;
            if (buf[i] == '\r' && i + 1 < len && buf[i + 1] == '\n') {
                i++;
            }
        }
    }

    char **array = (char **)SDL_malloc((lines + 1) * sizeof(char *));
    if (!array) {
        SDL_free(buf);
        SDL_OutOfMemory();
        return NULL;
    }

    size_t n = 0;
    array[n++] = buf;
    for (size_t i = 0; i < len; i++) {
        if (buf[i] == '\r' || buf[i] == '\n') {
            const int pair = buf[i] == '\r' && i + 1 < len && buf[i + 1] == '\n';
            buf[i] = '\0';
            if (pair) {
                buf[++i] = '\0';
            }
            array[n++] = buf + i + 1;
        }
    }
    array[n] = NULL;
    *count = (unsigned)n;
    return array;
}

void free_split_textfile(char **lines)
{
    if (lines) {
        SDL_free(lines[0]);
        SDL_free(lines);
    }
}

int split_key_value_string(char *line, char **key, char **value)
{
    *key = NULL;
    *value = NULL;

    while (*line && SDL_isspace((unsigned char)*line)) {
        line++;
    }
    if (*line == '\0' || *line == '#' || *line == ';') {
        return 1;
    }

    char *eq = SDL_strchr(line, '=');
    if (!eq || eq == line) {
        return 0;
    }

    char *end = eq;
    while (end > line && SDL_isspace((unsigned char)end[-1])) {
        end--;
    }
    *end = '\0';

    char *val = eq + 1;
    while (*val && SDL_isspace((unsigned char)*val)) {
        val++;
    }
    end = val + SDL_strlen(val);
    while (end > val && SDL_isspace((unsigned char)end[-1])) {
        end--;
    }
    *end = '\0';

    *key = line;
    *value = val;
    return 1;
}

time_t current_timestamp(void)
{
    return time(NULL);
}

void current_datetime(int *year, int *month, int *day, int *hour, int *minute, int *second)
{
    const time_t now = time(NULL);
    struct tm tm;
    SDL_zero(tm);
    localtime_r(&now, &tm);
    if (year) *year = tm.tm_year + 1900;
    if (month) *month = tm.tm_mon + 1;
    if (day) *day = tm.tm_mday;
    if (hour) *hour = tm.tm_hour;
    if (minute) *minute = tm.tm_min;
    if (second) *second = tm.tm_sec > 59 ? 59 : tm.tm_sec;
}

Uint32 utf8codepoint(const char **str)
{
    const unsigned char *s = (const unsigned char *)*str;
    const unsigned char lead = s[0];

    if (lead == 0) {
        return 0;
    }
    if (lead < 0x80) {
        *str += 1;
        return lead;
    }
    if (lead < 0xC0) {  // continuation byte without a lead
        *str += 1;
        return UTF8_INVALID;
    }

    int extra;
    Uint32 cp;
    Uint32 min;
    Uint32 max;
    if (lead < 0xE0) {
        extra = 1; cp = lead & 0x1F; min = 0x80; max = 0x7FF;
    } else if (lead < 0xF0) {
        extra = 2; cp = lead & 0x0F; min = 0x800; max = 0xFFFD;
    } else if (lead < 0xF8) {
        extra = 3; cp = lead & 0x07; min = 0x10000; max = 0x10FFFF;
    } else if (lead < 0xFC) {
        extra = 4; cp = 0; min = 1; max = 0;   // never valid
    } else {
        extra = 5; cp = 0; min = 1; max = 0;
    }

    // The lead byte is always consumed; the rest only when complete, so a
    // truncated sequence resumes at the byte that broke it.
    *str += 1;
    for (int i = 1; i <= extra; i++) {
        if ((s[i] & 0xC0) != 0x80) {
            return UTF8_INVALID;
        }
        cp = (cp << 6) | (s[i] & 0x3F);
    }
    *str += extra;

    if (cp < min || cp > max || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return UTF8_INVALID;
    }
    return cp;
}

unsigned fps_iteration_at(fps_counter *c, Uint32 now)
{
    c->frames_since_sample++;
    Uint32 elapsed = now - c->last_sample_time;
    if (elapsed >= 125) {
        const Uint32 i = c->ring_index;
        c->total_ms = c->total_ms - c->ring_ms[i] + elapsed;
        c->total_frames = c->total_frames - c->ring_frames[i] + c->frames_since_sample;
        c->ring_ms[i] = elapsed;
        c->ring_frames[i] = c->frames_since_sample;
        c->last_sample_time = now;
        c->frames_since_sample = 0;
        c->ring_index = (i + 1) & 7;
        elapsed = 0;
    }
    const Uint32 ms = elapsed + c->total_ms;
    if (ms == 0) {
        return 0;
    }
    // frames * 1000 / ms rather than frames / (ms / 1000): 1.024 has no exact
    // double, and 64 / 1.024 would land just below 62.5 and round down.
    const double frames = (double)c->frames_since_sample + (double)c->total_frames;
    return (unsigned)(frames * 1000.0 / (double)ms + 0.5);
}

unsigned fps_iteration(fps_counter *counter)
{
    return fps_iteration_at(counter, SDL_GetTicks());
}

void ignore_sigpipe(void)
{
    static std::atomic<int> done{0};
    if (done.exchange(1) == 0) {
        signal(SIGPIPE, SIG_IGN);
    }
}

char *generate_unique_emscripten_folder_name(const char *a, const char *b)
{
    return sprintf_alloc("%s-%s", a, b);
}
