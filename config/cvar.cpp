// Cvars: the registry of named, typed, lockable settings bound to native
// variables, the pending values set before registration, and the cvar text
// file reader. Depends on the utilities (line/key splitting) and the log.
//
// The registry is guarded by one recursive mutex (registration, setting
// and look-ups may come from the simulation and render threads, and the
// registration callback may re-enter). A string value is swapped under a
// second, tiny lock that cvar_string_read/cvar_string_dup also take, so a
// reader on another thread never sees a freed string. Numeric values are
// stored with relaxed atomic stores so readers see whole values.
#include "config/cvar.h"

#include <float.h>

#include <mutex>

#include "engine/util.h"
#include "log/log.h"

struct cvar {
    char *name;
    char *description;
    void *storage;
    unsigned type;
    int locked;
    // Set once the string in *storage is ours to free; whatever the caller's
    // variable held before registration is never freed.
    int owns_string;
    union {
        char *s;
        Sint32 i;
        Uint32 u;
        float f;
    } slot;
    cvar *next;
};

struct cvar_pending {
    char *name;
    char *value;
    cvar_pending *prev;
    cvar_pending *next;
};

static std::recursive_mutex cvar_registry_mutex;
static std::mutex cvar_value_mutex;

static cvar *cvar_list;
static cvar_pending *cvar_pending_list;
static cvar_register_callback cvar_callback;
static void *cvar_callback_context;

const char *cvar_type_name(unsigned type)
{
    switch (type) {
    case CVAR_TYPE_STRING: return "string";
    case CVAR_TYPE_INT: return "int";
    case CVAR_TYPE_UINT: return "uint";
    case CVAR_TYPE_FLOAT: return "float";
    case CVAR_TYPE_BOOL: return "bool";
    default: return NULL;
    }
}

int cvar_init(void)
{
    return 1;
}

static cvar *cvar_find(const char *name)
{
    for (cvar *c = cvar_list; c; c = c->next) {
        if (SDL_strcmp(c->name, name) == 0) {
            return c;
        }
    }
    return NULL;
}

static cvar_pending *cvar_find_pending(const char *name)
{
    for (cvar_pending *p = cvar_pending_list; p; p = p->next) {
        if (SDL_strcmp(p->name, name) == 0) {
            return p;
        }
    }
    return NULL;
}

static void cvar_free_pending(cvar_pending *p)
{
    if (p->prev) {
        p->prev->next = p->next;
    } else {
        cvar_pending_list = p->next;
    }
    if (p->next) {
        p->next->prev = p->prev;
    }
    SDL_free(p->name);
    SDL_free(p->value);
    SDL_free(p);
}

// Numeric parsing saturates at the type's range instead of wrapping.
static Sint32 cvar_parse_int(const char *text)
{
    const Sint64 v = SDL_strtoll(text, NULL, 10);
    if (v > SDL_MAX_SINT32) return SDL_MAX_SINT32;
    if (v < SDL_MIN_SINT32) return SDL_MIN_SINT32;
    return (Sint32)v;
}

static Uint32 cvar_parse_uint(const char *text)
{
    const char *p = text;
    while (SDL_isspace((unsigned char)*p)) {
        p++;
    }
    if (*p == '-') {  // strtoul would wrap a negative number around
        return 0;
    }
    const Uint64 v = SDL_strtoull(p, NULL, 10);
    return v > SDL_MAX_UINT32 ? SDL_MAX_UINT32 : (Uint32)v;
}

static float cvar_parse_float(const char *text)
{
    const double v = SDL_strtod(text, NULL);
    if (v != v) return 0.0f;
    if (v > FLT_MAX) return FLT_MAX;
    if (v < -FLT_MAX) return -FLT_MAX;
    return (float)v;
}

static Sint32 cvar_parse_bool(const char *text)
{
    return SDL_strtoll(text, NULL, 10) != 0 || SDL_strcasecmp(text, "true") == 0;
}

// Callers hold the registry mutex.
static int cvar_assign(cvar *c, const char *text)
{
    if (c->locked) {
        log_error("Engine", "Refusing to set locked cvar '%s' to '%s'", c->name, text);
        return 0;
    }
    switch (c->type) {
    case CVAR_TYPE_STRING: {
        char *copy = SDL_strdup(text);
        if (!copy) {
            SDL_OutOfMemory();
            return 0;
        }
        char **slot = (char **)c->storage;
        char *old;
        {
            std::lock_guard<std::mutex> guard(cvar_value_mutex);
            old = *slot;
            *slot = copy;
        }
        if (c->owns_string) {
            SDL_free(old);
        }
        c->owns_string = 1;
        return 1;
    }
    case CVAR_TYPE_INT:
        __atomic_store_n((Sint32 *)c->storage, cvar_parse_int(text), __ATOMIC_RELAXED);
        return 1;
    case CVAR_TYPE_UINT:
        __atomic_store_n((Uint32 *)c->storage, cvar_parse_uint(text), __ATOMIC_RELAXED);
        return 1;
    case CVAR_TYPE_FLOAT: {
        float f = cvar_parse_float(text);
        __atomic_store((float *)c->storage, &f, __ATOMIC_RELAXED);
        return 1;
    }
    case CVAR_TYPE_BOOL:
        __atomic_store_n((Sint32 *)c->storage, cvar_parse_bool(text), __ATOMIC_RELAXED);
        return 1;
    default:
        SDL_SetError("Unknown cvar type %u", c->type);
        return 0;
    }
}

static void cvar_free_node(cvar *c)
{
    SDL_free(c->name);
    SDL_free(c->description);
    SDL_free(c);
}

int cvar_register(const char *name, unsigned type, const char *description, void *storage, const char *default_text)
{
    if (!name) {
        SDL_InvalidParamError("name");
        return 0;
    }
    if (!default_text) {
        SDL_InvalidParamError("default_text");
        return 0;
    }
    if (!description) {
        SDL_InvalidParamError("description");
        return 0;
    }

    cvar *c = (cvar *)SDL_calloc(1, sizeof(cvar));
    if (!c) {
        SDL_OutOfMemory();
        return 0;
    }
    c->name = SDL_strdup(name);
    c->description = SDL_strdup(description);
    if (!c->name || !c->description) {
        cvar_free_node(c);
        SDL_OutOfMemory();
        return 0;
    }
    c->type = type;
    c->storage = storage ? storage : (void *)&c->slot;

    std::lock_guard<std::recursive_mutex> guard(cvar_registry_mutex);

    // Registering the same variable again (a second node for the name)
    // takes over the string the earlier node allocated.
    if (type == CVAR_TYPE_STRING && storage) {
        for (cvar *o = cvar_list; o; o = o->next) {
            if (o->storage == storage && o->type == CVAR_TYPE_STRING && o->owns_string) {
                c->owns_string = 1;
                break;
            }
        }
    }

    cvar_pending *pending = cvar_find_pending(name);
    const char *value = pending ? pending->value : default_text;
    if (!cvar_assign(c, value)) {
        cvar_free_node(c);
        return 0;
    }
    c->next = cvar_list;
    cvar_list = c;

    log_spam("Engine", "Registered cvar \"%s\" (\"%s\") [%s value: \"%s\"]",
             name, description, pending ? "pending" : "default", value);

    if (cvar_callback) {
        cvar_callback(cvar_callback_context, c->name, c->description, c->type);
    }
    if (pending) {
        cvar_free_pending(pending);
    }
    return 1;
}

int cvar_register_string(const char *name, const char *description, char **storage, const char *default_text)
{
    return cvar_register(name, CVAR_TYPE_STRING, description, storage, default_text);
}

int cvar_register_int(const char *name, const char *description, Sint32 *storage, Sint32 default_value)
{
    char text[16];
    SDL_snprintf(text, sizeof(text), "%d", (int)default_value);
    return cvar_register(name, CVAR_TYPE_INT, description, storage, text);
}

int cvar_register_uint(const char *name, const char *description, Uint32 *storage, Uint32 default_value)
{
    char text[16];
    SDL_snprintf(text, sizeof(text), "%u", (unsigned)default_value);
    return cvar_register(name, CVAR_TYPE_UINT, description, storage, text);
}

int cvar_register_float(const char *name, const char *description, float *storage, float default_value)
{
    char *text = sprintf_alloc("%f", (double)default_value);
    if (!text) {
        SDL_OutOfMemory();
        return 0;
    }
    const int rc = cvar_register(name, CVAR_TYPE_FLOAT, description, storage, text);
    SDL_free(text);
    return rc;
}

int cvar_register_bool(const char *name, const char *description, Sint32 *storage, int default_value)
{
    return cvar_register(name, CVAR_TYPE_BOOL, description, storage, default_value ? "true" : "false");
}

void *cvar_get(const char *name, unsigned *type, const char **description)
{
    std::lock_guard<std::recursive_mutex> guard(cvar_registry_mutex);
    cvar *c = name ? cvar_find(name) : NULL;
    if (type) {
        *type = c ? c->type : 0;
    }
    if (description) {
        *description = c ? c->description : NULL;
    }
    return c ? c->storage : NULL;
}

static void *cvar_get_typed(const char *name, unsigned type)
{
    unsigned actual = 0;
    void *storage = cvar_get(name, &actual, NULL);
    return actual == type ? storage : NULL;
}

char **cvar_get_string(const char *name)
{
    return (char **)cvar_get_typed(name, CVAR_TYPE_STRING);
}

Sint32 *cvar_get_int(const char *name)
{
    return (Sint32 *)cvar_get_typed(name, CVAR_TYPE_INT);
}

Uint32 *cvar_get_uint(const char *name)
{
    return (Uint32 *)cvar_get_typed(name, CVAR_TYPE_UINT);
}

float *cvar_get_float(const char *name)
{
    return (float *)cvar_get_typed(name, CVAR_TYPE_FLOAT);
}

Sint32 *cvar_get_bool(const char *name)
{
    return (Sint32 *)cvar_get_typed(name, CVAR_TYPE_BOOL);
}

int cvar_set(const char *name, const char *text)
{
    if (!name) {
        SDL_InvalidParamError("name");
        return 0;
    }
    if (!text) {
        SDL_InvalidParamError("text");
        return 0;
    }

    std::lock_guard<std::recursive_mutex> guard(cvar_registry_mutex);
    cvar *c = cvar_find(name);
    if (c) {
        log_spam("Engine", "Setting cvar '%s' to '%s'.", name, text);
        return cvar_assign(c, text);
    }

    cvar_pending *p = cvar_find_pending(name);
    if (p) {
        char *copy = SDL_strdup(text);
        if (!copy) {
            SDL_OutOfMemory();
            return 0;
        }
        SDL_free(p->value);
        p->value = copy;
    } else {
        p = (cvar_pending *)SDL_calloc(1, sizeof(cvar_pending));
        if (!p) {
            SDL_OutOfMemory();
            return 0;
        }
        p->name = SDL_strdup(name);
        p->value = SDL_strdup(text);
        if (!p->name || !p->value) {
            SDL_free(p->name);
            SDL_free(p->value);
            SDL_free(p);
            SDL_OutOfMemory();
            return 0;
        }
        p->next = cvar_pending_list;
        if (cvar_pending_list) {
            cvar_pending_list->prev = p;
        }
        cvar_pending_list = p;
    }
    log_spam("Engine", "Marked unregistered cvar '%s' (value '%s') as pending.", name, text);
    return 1;
}

static int cvar_set_lock(const char *name, int locked)
{
    if (!name) {
        return 0;
    }
    std::lock_guard<std::recursive_mutex> guard(cvar_registry_mutex);
    cvar *c = cvar_find(name);
    if (!c) {
        return 0;
    }
    c->locked = locked;
    return 1;
}

int cvar_lock(const char *name)
{
    return cvar_set_lock(name, 1);
}

int cvar_unlock(const char *name)
{
    return cvar_set_lock(name, 0);
}

int cvar_islocked(const char *name)
{
    if (!name) {
        return 0;
    }
    std::lock_guard<std::recursive_mutex> guard(cvar_registry_mutex);
    cvar *c = cvar_find(name);
    return c ? c->locked : 0;
}

int cvar_force_set(const char *name, const char *text)
{
    std::lock_guard<std::recursive_mutex> guard(cvar_registry_mutex);
    cvar_unlock(name);
    const int rc = cvar_set(name, text);
    cvar_lock(name);
    return rc;
}

void cvar_set_register_callback(cvar_register_callback callback, void *context)
{
    std::lock_guard<std::recursive_mutex> guard(cvar_registry_mutex);
    cvar_callback = callback;
    cvar_callback_context = callback ? context : NULL;
    if (callback) {
        for (cvar *c = cvar_list; c; c = c->next) {
            callback(context, c->name, c->description, c->type);
        }
    }
}

char *cvar_string_read(char *const *storage, char *buf, size_t bufsize)
{
    if (!buf || bufsize == 0) {
        return buf;
    }
    buf[0] = '\0';
    if (!storage) {
        return buf;
    }
    std::lock_guard<std::mutex> guard(cvar_value_mutex);
    if (*storage) {
        SDL_strlcpy(buf, *storage, bufsize);
    }
    return buf;
}

char *cvar_string_dup(char *const *storage)
{
    if (!storage) {
        return NULL;
    }
    std::lock_guard<std::mutex> guard(cvar_value_mutex);
    return *storage ? SDL_strdup(*storage) : NULL;
}

void load_cvars_from_file(const char *path)
{
    unsigned count = 0;
    char **lines = split_textfile_into_lines(path, &count);
    if (!lines) {
        return;
    }
    log_debug("Engine", "Loading cvars from file '%s' ...", path);
    for (unsigned i = 0; i < count; i++) {
        char *key;
        char *value;
        if (!split_key_value_string(lines[i], &key, &value)) {
            log_warn("Engine", "%s: invalid data on line %u, ignored", path, i + 1);
        } else if (key) {
            log_debug("Engine", "File '%s' line %d setting cvar '%s' to '%s'", path, (int)(i + 1), key, value);
            cvar_set(key, value);
        }
    }
    log_debug("Engine", "File '%s' complete", path);
    free_split_textfile(lines);
}

void cvar_quit(void)
{
    std::lock_guard<std::recursive_mutex> guard(cvar_registry_mutex);
    cvar *c = cvar_list;
    cvar_list = NULL;
    while (c) {
        cvar *next = c->next;
        if (c->type == CVAR_TYPE_STRING && c->owns_string) {
            char **slot = (char **)c->storage;
            char *old;
            {
                std::lock_guard<std::mutex> vguard(cvar_value_mutex);
                old = *slot;
                *slot = NULL;
            }
            SDL_free(old);
        }
        cvar_free_node(c);
        c = next;
    }
    while (cvar_pending_list) {
        cvar_free_pending(cvar_pending_list);
    }
    cvar_callback = NULL;
    cvar_callback_context = NULL;
}
