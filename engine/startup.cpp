// Start-up and shutdown: brings the engine services up in a fixed order,
// decides where the game's files come from (the executable's appended
// archive, the engine directory, the game directory) and where the engine
// may write, queues the first frame and builds the script host; tears
// everything down in order at the end. Also the start-up failure routine
// and the crash-signal handler. Depends on SDL2, PhysFS and every engine
// service.
#include "engine/engine.h"

#include <execinfo.h>
#include <limits.h>
#include <physfs.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include "audio/audio.h"
#include "config/cvar.h"
#include "config/metadata.h"
#include "engine/janitor.h"
#include "engine/physfsrwops.h"
#include "engine/script_host.h"
#include "engine/util.h"
#include "input/controller.h"
#include "log/log.h"
#include "net/http.h"
#include "render/render_context.h"
#include "render/scene.h"
#include "stream/threadstream.h"

engine_saved_strings engine_strings;
render_context *engine_render_context;

static Sint32 cvar_controller_config_ui;

static const char *physfs_error(void) { return PHYSFS_getErrorByCode(PHYSFS_getLastErrorCode()); }

void startup_failure(const char *fmt, ...)
{
    log_emergency_quit();
    char msg[256];
    va_list ap;
    va_start(ap, fmt);
    SDL_vsnprintf(msg, sizeof msg, fmt, ap);
    va_end(ap);
    fprintf(stderr, "\n\n%s:\n%s\n\n", "Startup failure!", msg);
    fflush(stderr);
    SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, "Startup failure!", msg, nullptr);
    // PhysFS 3.0 crashes when deinitialised before it was initialised.
    if (PHYSFS_isInit())
        PHYSFS_deinit();
    SDL_Quit();
    exit(1);
}

// Only async-signal-safe calls: write, backtrace (warmed up at install time
// so it does not load libgcc inside the handler), backtrace_symbols_fd, _exit.
void crash_signal_handler(int sig)
{
    char line[32] = "Error: signal ";
    size_t n = 14;
    char digits[12];
    int d = 0;
    unsigned v = sig < 0 ? 0u : (unsigned)sig;
    do {
        digits[d++] = (char)('0' + v % 10);
        v /= 10;
    } while (v && d < (int)sizeof digits);
    while (d > 0)
        line[n++] = digits[--d];
    line[n++] = ':';
    line[n++] = '\n';
    ssize_t ignored = write(2, line, n);
    (void)ignored;
    void *frames[10];
    int count = backtrace(frames, 10);
    backtrace_symbols_fd(frames, count, 2);
    _exit(1);
}

void crash_handler_install(void)
{
    void *frames[2];
    backtrace(frames, 2);
    signal(SIGSEGV, crash_signal_handler);
}

// PhysFS allocates through SDL; sizes beyond size_t fail instead of wrapping.
static void *physfs_malloc(PHYSFS_uint64 n) { return n > SIZE_MAX ? nullptr : SDL_malloc((size_t)n); }
static void *physfs_realloc(void *p, PHYSFS_uint64 n) { return n > SIZE_MAX ? nullptr : SDL_realloc(p, (size_t)n); }
static void physfs_free(void *p) { SDL_free(p); }

// True when the file is present in the virtual file system with a real
// modification time.
static int marker_present(const char *path)
{
    PHYSFS_Stat st;
    return PHYSFS_stat(path, &st) && st.modtime > 0;
}

static char *absolute_path(const char *path)
{
    char *resolved = realpath(path, nullptr);
    if (!resolved)
        return nullptr;
    char *copy = SDL_strdup(resolved);
    free(resolved);
    return copy;
}

// The executable by its absolute path, so an appended archive stays
// readable after the working directory changes, however it was started.
static char *executable_path(const char *argv0)
{
    char *p = absolute_path("/proc/self/exe");
    if (!p && argv0 && *argv0)
        p = absolute_path(argv0);
    return p;
}

struct command_line {
    const char *game_dir;
    int production;
};

static command_line parse_command_line(int argc, char **argv)
{
    command_line cl = {nullptr, 0};
    int i = 1;
    while (i < argc) {
        const char *arg = argv[i];
        if (arg[0] != '-') {
            if (!cl.game_dir)
                cl.game_dir = arg;
            i++;
            continue;
        }
        if (!cl.game_dir)
            startup_failure("The game directory must be provided as the first argument to ./moonforge if you want to use switches.");
        while (*arg == '-')
            arg++;
        if (SDL_strcmp(arg, "fullscreen") == 0) {
            cvar_set("renderer.fullscreen", "true");
        } else if (SDL_strcmp(arg, "windowed") == 0) {
            cvar_set("renderer.fullscreen", "false");
        } else if (SDL_strcmp(arg, "no-tick") == 0 || SDL_strcmp(arg, "test") == 0) {
            cvar_set("renderer.start_headless", "true");
        } else if (SDL_strcmp(arg, "production") == 0) {
            cl.production = 1;
        } else if (SDL_strcmp(arg, "set") == 0) {
            if (i < argc - 2)
                cvar_set(argv[i + 1], argv[i + 2]);
            i += 3;
            continue;
        }
        i++;
    }
    return cl;
}

// All arguments joined by spaces, cut at 1022 characters; the running count
// never shrinks, so every argument after the first skipped one is skipped.
static char *build_command_line(int argc, char **argv)
{
    char *buf = (char *)SDL_calloc(1, 1024);
    if (!buf)
        return nullptr;
    size_t count = 0, used = 0;
    for (int i = 0; i < argc; i++) {
        size_t len = SDL_strlen(argv[i]);
        count += len;
        if (count > 1022) {
            SDL_Log("WARNING: ARGV is too long. The following argument will not be sent over: %s.", argv[i]);
        } else {
            SDL_memcpy(buf + used, argv[i], len);
            used += len;
            buf[used++] = ' ';
        }
        count++;
    }
    buf[used] = '\0';
    return buf;
}

static void load_controller_mappings(void)
{
    static const char *files[] = {"metadata/engine_controller_mappings.txt", "metadata/game_controller_mappings.txt",
                                  "user_controller_mappings.txt"};
    for (const char *f : files) {
        if (!PHYSFS_exists(f))
            continue;
        SDL_RWops *rw = physfsrwops_open_read(f);
        if (rw)
            SDL_GameControllerAddMappingsFromRW(rw, 1);
    }
}

static const char *yes_no(Sint32 v) { return v ? "yes" : "no"; }

static void log_identity(int production, const char *base_dir, const char *game_dir)
{
    if (!production)
        log_info("Engine", "Process Working Directory: %s", base_dir);
    log_info("Engine", "Game Dir: %s", game_dir ? game_dir : "(none)");
    const struct {
        const char *label;
        char **value;
    } lines[] = {
        {"Game ID", &cvar_game_metadata_gameid},          {"Game Title", &cvar_game_metadata_gametitle},
        {"Game Version", &cvar_game_metadata_version},    {"Game Package ID", &cvar_game_metadata_packageid},
        {"Game Developer ID", &cvar_game_metadata_devid}, {"Game Developer Title", &cvar_game_metadata_devtitle},
    };
    for (const auto &l : lines) {
        char *v = cvar_string_dup(l.value);
        log_info("Engine", "%s: %s", l.label, v ? v : "");
        SDL_free(v);
    }
    log_info("Engine", "Production Build: %s", yes_no(cvar_game_metadata_deployment));
    log_info("Engine", "Remote Hotload: %s", yes_no(cvar_game_metadata_remote_hotload));
}

void engine_startup(int argc, char **argv)
{
    SDL_AtomicSet(&atomic_is_first_simulation_iteration, 1);
    SDL_AtomicSet(&atomic_last_completed_global_tick_count, -1);

    if (SDL_Init(0) == -1)
        startup_failure("SDL_Init(0) failed: %s", SDL_GetError());
    if (!log_init())
        startup_failure("Failed to initialize logging: %s", SDL_GetError());
    if (!register_renderer_cvars() || !register_metadata_cvars() ||
        !cvar_register_int("controller.config_ui",
                           "Use the controller config UI? 0==for unknown joysticks, 1==for all joysticks, -1==for no joysticks",
                           &cvar_controller_config_ui, 0))
        startup_failure("Failed to register engine cvars: %s", SDL_GetError());

    command_line cl = parse_command_line(argc, argv);
    // A relative game directory names a place relative to where the user
    // started us; resolve it before the working directory changes.
    char *game_dir = nullptr;
    if (cl.game_dir) {
        game_dir = absolute_path(cl.game_dir);
        if (!game_dir)
            game_dir = SDL_strdup(cl.game_dir);
    }

    SDL_SetHint("SDL_IOS_ORIENTATIONS", "LandscapeLeft LandscapeRight");
    if (SDL_Init(SDL_INIT_VIDEO) == -1)
        startup_failure("SDL_Init(SDL_INIT_VIDEO) failed: %s", SDL_GetError());
    if (!threadstream_init())
        startup_failure("Thread initialization failed");
    if (!janitor_init())
        startup_failure("Couldn't initialize janitor: %s", SDL_GetError());

    PHYSFS_Allocator allocator = {nullptr, nullptr, physfs_malloc, physfs_realloc, physfs_free};
    if (!PHYSFS_setAllocator(&allocator))
        startup_failure("PHYSFS_setAllocator failed: %s", physfs_error());
    if (!PHYSFS_init(argc > 0 ? argv[0] : nullptr))
        startup_failure("PHYSFS_init failed: %s", physfs_error());

    if (argc > 0) {
        char *exe = executable_path(argv[0]);
        PHYSFS_mount(exe ? exe : argv[0], nullptr, 0);
        SDL_free(exe);
    }
    char *base_dir = SDL_GetBasePath();
    if (!base_dir)
        startup_failure("Couldn't find installation directory: %s", SDL_GetError());
    if (!PHYSFS_mount(base_dir, nullptr, 0))
        startup_failure("Couldn't mount installation directory: %s", physfs_error());
    if (!cl.production && chdir(base_dir) != 0)
        SDL_Log("Couldn't change the working directory to '%s'", base_dir);

    if (game_dir) {
        if (!PHYSFS_mount(game_dir, nullptr, 0))
            startup_failure("Couldn't mount '%s' directory: %s", game_dir, physfs_error());
    } else if (!PHYSFS_exists("app") && PHYSFS_exists("mygame")) {
        size_t len = SDL_strlen(base_dir);
        game_dir = sprintf_alloc("%.*s/mygame", (int)(len > 1 && base_dir[len - 1] == '/' ? len - 1 : len), base_dir);
        if (!game_dir)
            startup_failure("Out of memory!");
        if (!PHYSFS_mount(game_dir, nullptr, 0))
            startup_failure("Couldn't mount '%s' directory: %s", game_dir, physfs_error());
    }

    load_metadata("metadata/game_metadata.txt");
    metadata_derive_orientation();
    int production = marker_present("metadata/moonforge_production_build") || cl.production;
    if (production)
        cvar_force_set("game_metadata.deployment", "1");
    if (marker_present("metadata/moonforge_remote_hotload"))
        cvar_force_set("game_metadata.remote_hotload", "1");
    log_identity(production, base_dir, game_dir);

    load_cvars_from_file("metadata/cvars.txt");
    load_cvars_from_file("user_cvars.txt");

    char *write_dir = nullptr;
    if (production) {
        char *devtitle = cvar_string_dup(&cvar_game_metadata_devtitle);
        char *gametitle = cvar_string_dup(&cvar_game_metadata_gametitle);
        const char *pref = PHYSFS_getPrefDir(devtitle ? devtitle : "", gametitle ? gametitle : "");
        SDL_free(devtitle);
        SDL_free(gametitle);
        if (!pref)
            startup_failure("Couldn't mount write directory: %s", physfs_error());
        write_dir = SDL_strdup(pref);
    } else {
        write_dir = SDL_strdup(base_dir);
    }
    if (!write_dir)
        startup_failure("Out of memory!");
    if (!PHYSFS_setWriteDir(write_dir))
        startup_failure("Couldn't set write directory: %s", physfs_error());
    if (SDL_strcmp(write_dir, base_dir) != 0 && !PHYSFS_mount(write_dir, nullptr, 0))
        startup_failure("Couldn't mount write directory: %s", physfs_error());

    PHYSFS_mkdir("logs");
    if (!log_ready())
        startup_failure("Logging startup failed: %s", SDL_GetError());

    load_controller_mappings();
    SDL_SetHint("SDL_ACCELEROMETER_AS_JOYSTICK", "0");
    SDL_Init(SDL_INIT_GAMECONTROLLER);

    engine_render_context = render_context_new(!marker_present("metadata/moonforge_production_build"), 0);
    if (!engine_render_context)
        startup_failure("Couldn't create render context: %s", SDL_GetError());
    if (!audio_init())
        startup_failure("Couldn't initialize audio");

    engine_strings.game_dir = SDL_strdup(production ? write_dir : game_dir ? game_dir : base_dir);
    engine_strings.base_dir = SDL_strdup(production ? write_dir : base_dir);
    engine_strings.exe_path = SDL_strdup(argc > 0 ? argv[0] : "");
    engine_strings.command_line = build_command_line(argc, argv);
    if (!engine_strings.game_dir || !engine_strings.base_dir || !engine_strings.exe_path || !engine_strings.command_line)
        startup_failure("Out of memory!");
    engine_render_context->game_dir = engine_strings.game_dir;

    threadstream *first = threadstream_allocate();
    scene_grid first_grid = {0.0f, (float)engine_render_context->canvas_h, -1};
    if (first && !(scene_write_frame_header(first) && scene_write_grid(first, &first_grid)))
        first->failed = 1;

    if (!script_host_setup(engine_render_context, engine_strings.exe_path, engine_strings.command_line,
                           engine_strings.game_dir, engine_strings.base_dir))
        startup_failure("Couldn't start the script host: %s", SDL_GetError());

    if (first && first->failed)
        threadstream_free(first);
    else if (first)
        threadstreamqueue_putitem(engine_render_context->scene_queue, first);

    SDL_free(write_dir);
    SDL_free(base_dir);
    SDL_free(game_dir);
    log_info("Engine", "Janitor is using %d threads.", janitor_thread_count());
}

void engine_shutdown(void)
{
    game_quit();
    http_quit();
    game_quit_bang();
    audio_quit();
    render_context_delete(engine_render_context);
    engine_render_context = nullptr;
    httpserver_quit();
    controller_close_all();
    janitor_quit();
    threadstream_quit();
    cvar_quit();
    log_quit();
    SDL_Quit();
    PHYSFS_deinit();
}
