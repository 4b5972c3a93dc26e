// SDL_RWops glue for PhysFS: each RWops wraps one PHYSFS_File and closes it
// with itself. Depends on SDL2 and PhysFS.
#include "engine/physfsrwops.h"

#include <physfs.h>

static PHYSFS_File *rw_file(SDL_RWops *rw) { return (PHYSFS_File *)rw->hidden.unknown.data1; }

static const char *physfs_error_text(void) { return PHYSFS_getErrorByCode(PHYSFS_getLastErrorCode()); }

static Sint64 rw_size(SDL_RWops *rw)
{
    return (Sint64)PHYSFS_fileLength(rw_file(rw));
}

static Sint64 rw_seek(SDL_RWops *rw, Sint64 offset, int whence)
{
    PHYSFS_File *f = rw_file(rw);
    Sint64 base = 0;
    if (whence == RW_SEEK_CUR) {
        base = (Sint64)PHYSFS_tell(f);
    } else if (whence == RW_SEEK_END) {
        base = (Sint64)PHYSFS_fileLength(f);
        if (base < 0)
            return SDL_SetError("Can't seek from the end of a file of unknown length");
    } else if (whence != RW_SEEK_SET) {
        return SDL_SetError("Unknown seek origin %d", whence);
    }
    if (base < 0)
        return SDL_SetError("PhysFS tell failed: %s", physfs_error_text());
    Sint64 pos = base + offset;
    if (pos < 0)
        return SDL_SetError("Seek before the start of the file");
    if (!PHYSFS_seek(f, (PHYSFS_uint64)pos))
        return SDL_SetError("PhysFS seek failed: %s", physfs_error_text());
    return pos;
}

static size_t rw_read(SDL_RWops *rw, void *ptr, size_t size, size_t maxnum)
{
    if (size == 0 || maxnum == 0)
        return 0;
    PHYSFS_sint64 got = PHYSFS_readBytes(rw_file(rw), ptr, (PHYSFS_uint64)size * maxnum);
    if (got < 0) {
        SDL_SetError("PhysFS read failed: %s", physfs_error_text());
        return 0;
    }
    return (size_t)got / size;
}

static size_t rw_write(SDL_RWops *rw, const void *ptr, size_t size, size_t num)
{
    if (size == 0 || num == 0)
        return 0;
    PHYSFS_sint64 put = PHYSFS_writeBytes(rw_file(rw), ptr, (PHYSFS_uint64)size * num);
    if (put < 0) {
        SDL_SetError("PhysFS write failed: %s", physfs_error_text());
        return 0;
    }
    return (size_t)put / size;
}

static int rw_close(SDL_RWops *rw)
{
    int ok = PHYSFS_close(rw_file(rw));
    SDL_FreeRW(rw);
    return ok ? 0 : SDL_SetError("PhysFS close failed: %s", physfs_error_text());
}

static SDL_RWops *wrap(PHYSFS_File *f, const char *path)
{
    if (!f) {
        SDL_SetError("Couldn't open '%s': %s", path, physfs_error_text());
        return nullptr;
    }
    SDL_RWops *rw = SDL_AllocRW();
    if (!rw) {
        PHYSFS_close(f);
        return nullptr;
    }
    rw->size = rw_size;
    rw->seek = rw_seek;
    rw->read = rw_read;
    rw->write = rw_write;
    rw->close = rw_close;
    rw->type = SDL_RWOPS_UNKNOWN;
    rw->hidden.unknown.data1 = f;
    return rw;
}

SDL_RWops *physfsrwops_open_read(const char *path) { return wrap(PHYSFS_openRead(path), path); }
SDL_RWops *physfsrwops_open_write(const char *path) { return wrap(PHYSFS_openWrite(path), path); }
SDL_RWops *physfsrwops_open_append(const char *path) { return wrap(PHYSFS_openAppend(path), path); }
