// Outputs benchmark ("bunnymark"): runs the bench game's Ruby tick and the
// native outputs walker step by step, the way the simulation thread does,
// for N moving sprites described as Hashes, attr_sprite objects or Arrays.
// The script host is built like start-up builds it (PhysFS mounts, game
// metadata, a real render context, script_host_setup); every step takes a
// scene stream from the stream free list, runs game_tick, the GC step and
// script_host_walk_outputs into it, and hands it to a stand-in render thread
// that keeps the newest scene and returns the previous one to the free
// list, as draw_iteration does. Per mode and N it prints the tick, GC, walk
// and whole-step times, nanoseconds of packing per primitive, the stream
// growths after warm-up and the frame rate of drawing the scene with
// draw_scene; then it searches the largest N that keeps the whole step
// under one 60 Hz period. Depends on the core library, the runtime library,
// the script host (compiled in), SDL2, PhysFS and lodepng.
#include <SDL.h>
#include <lodepng.h>
#include <mruby.h>
#include <mruby/variable.h>
#include <physfs.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <algorithm>
#include <string>
#include <vector>

#include "config/cvar.h"
#include "config/metadata.h"
#include "engine/engine.h"
#include "engine/janitor.h"
#include "engine/script_host.h"
#include "input/controller.h"
#include "input/events.h"
#include "log/log.h"
#include "render/draw.h"
#include "render/render_context.h"
#include "render/scene.h"
#include "stream/threadstream.h"

// ---------------------------------------------------------------------------
// Measurement helpers

static SDL_malloc_func real_malloc;
static SDL_calloc_func real_calloc;
static SDL_realloc_func real_realloc;
static SDL_free_func real_free;
static int sdl_allocations;   // single-threaded bench: a plain counter

static void *counting_malloc(size_t n)
{
    sdl_allocations++;
    return real_malloc(n);
}

static void *counting_calloc(size_t n, size_t size)
{
    sdl_allocations++;
    return real_calloc(n, size);
}

static void *counting_realloc(void *p, size_t n)
{
    sdl_allocations++;
    return real_realloc(p, n);
}

static double now_ms(void)
{
    return (double)SDL_GetPerformanceCounter() * 1000.0 / (double)SDL_GetPerformanceFrequency();
}

// CPU time of this thread: what the step costs without the time other
// processes on a shared machine take from it.
static double cpu_ms(void)
{
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return (double)ts.tv_sec * 1000.0 + (double)ts.tv_nsec / 1e6;
}

static int fail(const char *what)
{
    fprintf(stderr, "bench_outputs: %s: %s\n", what, SDL_GetError());
    return 1;
}

static const double STEP_BUDGET_MS = 1000.0 / 60.0;

// ---------------------------------------------------------------------------
// The simulation side

struct bench_host {
    render_context *rc;
    threadstream *held;      // the scene the stand-in render thread shows
    Uint32 last_tick_ms;     // SDL ticks handed to the previous game_tick
    int log_errors;          // error entries logged during the run
};

struct step_times {
    double tick, gc, walk, step;
    double cpu_walk, cpu_step;
    int grows;               // capacity changes of the step's stream
    int fresh;               // the free list was empty: a new stream
    int walk_allocs;         // SDL allocations inside the walk
    int advanced;            // the runtime's tick count moved by one
};

// Hands the step's log entries to the runtime as the engine does; errors go
// to stderr so a broken game is visible, the rest is dropped.
static void deliver_log_entries(bench_host *h)
{
    log_entry *entries = log_get_entries();
    for (log_entry *e = entries; e; e = e->next) {
        runtime_new_log_entry(e);
        if (e->level == LOG_LEVEL_ERROR) {
            if (h->log_errors++ < 20)
                fprintf(stderr, "[%s] %s\n", e->subsystem ? e->subsystem : "?", e->message ? e->message : "");
        }
    }
    log_free_entries(entries);
}

// The runtime runs its tick flow only when at least 16 ms have passed since
// the previous call; wait for that like the 60 Hz schedule would.
static void wait_for_next_tick(bench_host *h)
{
    while (SDL_GetTicks() - h->last_tick_ms < 17)
        SDL_Delay(1);
}

// One simulation step in the order of simulation_iteration, minus input,
// audio, HTTP and reboot handling, which the bench game does not use.
static int run_step(bench_host *h, step_times *t)
{
    render_context *rc = h->rc;
    wait_for_next_tick(h);
    const int ticks_before = runtime_tick_count();

    const double c0 = cpu_ms();
    const double t0 = now_ms();
    const int arena = script_host_arena_save();
    const int allocs_before = sdl_allocations;
    threadstream *s = threadstream_allocate();
    if (!s)
        return 0;
    t->fresh = sdl_allocations != allocs_before;
    const size_t capacity = s->capacity;
    simulation_set_current_stream(s);
    scene_write_frame_header(s);
    runtime_current_fps(60, 60);
    SDL_AtomicSet(&atomic_resize_occurred, 0);
    if (SDL_AtomicGet(&rc->grid_set) && SDL_AtomicCAS(&rc->size_change_pending, 1, 0))
        runtime_windowevent_size_changed(rc);

    h->last_tick_ms = SDL_GetTicks();
    const double t1 = now_ms();
    game_tick();
    const double t2 = now_ms();
    script_host_gc_step();
    const double t3 = now_ms();
    const int walk_allocs = sdl_allocations;
    const double c3 = cpu_ms();
    script_host_walk_outputs(s);
    const double c4 = cpu_ms();
    const double t4 = now_ms();
    t->walk_allocs = sdl_allocations - walk_allocs;

    int ok = !s->failed;
    if (ok)
        scene_write_frame_stamp(s, (Sint32)(SDL_GetTicks() - renderstream_tick_offset()));
    t->grows = 0;
    for (size_t c = capacity; c < s->capacity; c *= 2)
        t->grows++;
    simulation_set_current_stream(nullptr);
    deliver_log_entries(h);
    script_host_arena_restore(arena);
    SDL_AtomicSet(&rc->tick_count, runtime_tick_count());
    const int global = runtime_global_tick_count();
    SDL_AtomicSet(&rc->global_tick_count, global);
    SDL_AtomicSet(&atomic_last_completed_global_tick_count, global);

    // The render thread takes the new scene and releases the one it showed.
    if (ok) {
        renderstream_queue_scene(h->held);
        h->held = s;
    } else {
        threadstream_free(s);
    }
    const double t5 = now_ms();
    const double c5 = cpu_ms();

    t->tick = t2 - t1;
    t->gc = t3 - t2;
    t->walk = t4 - t3;
    t->step = t5 - t0;
    t->cpu_walk = c4 - c3;
    t->cpu_step = c5 - c0;
    t->advanced = runtime_tick_count() == ticks_before + 1;
    return ok;
}

// Sprite records in the scene, read the way the render thread reads them.
static int count_sprites(threadstream *s)
{
    if (!s)
        return 0;
    scene_rewind(s);
    scene_frame_header header;
    int sprites = 0;
    Sint32 tag;
    if (!scene_read_frame_header(s, &header))
        return 0;
    while (!threadstream_eos(s) && scene_read_tag(s, &tag)) {
        if (tag == SCENE_TAG_PASSES) {
            scene_passes p;
            if (!scene_read_passes(s, &p))
                break;
            for (Sint32 i = 0; i < p.count; i++) {
                scene_pass pass;
                if (!scene_read_pass(s, &pass))
                    goto done;
                Sint32 t;
                while (scene_read_tag(s, &t) && t != SCENE_TAG_PASS_END) {
                    if (t == SCENE_TAG_SPRITE) {
                        scene_sprite sp;
                        if (!scene_read_sprite(s, &sp))
                            goto done;
                        sprites++;
                    } else if (!scene_skip_primitive(s, t)) {
                        goto done;
                    }
                }
            }
        } else if (tag == SCENE_TAG_GRID) {
            scene_grid g;
            if (!scene_read_grid(s, &g))
                break;
        } else {
            break;
        }
    }
done:
    scene_rewind(s);
    return sprites;
}

static void set_game(const char *mode, int count)
{
    mrb_state *mrb = the_game.mrb;
    mrb_gv_set(mrb, mrb_intern_lit(mrb, "$bunnymark_mode"), mrb_symbol_value(mrb_intern_cstr(mrb, mode)));
    mrb_gv_set(mrb, mrb_intern_lit(mrb, "$bunnymark_count"), mrb_fixnum_value(count));
}

struct run_result {
    int steps;
    double tick, gc, walk, step;   // means, ms
    double cpu_walk, cpu_step;     // means of the thread's CPU time, ms
    double step_p95, step_max;
    int primitives;                // sprite records of the last scene
    size_t bytes, capacity;        // length and capacity of the last scene's stream
    int grows, grow_steps, fresh;  // after warm-up
    int walk_allocs;               // SDL allocations inside the walks, after warm-up
    int missed_ticks;              // steps in which the runtime did not tick
    int failed;                    // a step's scene failed
};

static run_result run_config(bench_host *h, const char *mode, int count, int warmup, int steps)
{
    run_result r = {};
    set_game(mode, count);
    step_times t;
    for (int i = 0; i < warmup; i++) {
        if (!run_step(h, &t))
            r.failed++;
        // The first step rebuilt the bunnies; collecting the previous
        // case's now so its garbage does not weigh on this one.
        if (i == 0)
            mrb_full_gc(the_game.mrb);
    }
    std::vector<double> step_ms;
    for (int i = 0; i < steps; i++) {
        if (!run_step(h, &t))
            r.failed++;
        r.tick += t.tick;
        r.gc += t.gc;
        r.walk += t.walk;
        r.step += t.step;
        r.cpu_walk += t.cpu_walk;
        r.cpu_step += t.cpu_step;
        step_ms.push_back(t.step);
        r.grows += t.grows;
        r.grow_steps += t.grows > 0;
        r.fresh += t.fresh;
        r.walk_allocs += t.walk_allocs;
        r.missed_ticks += !t.advanced;
    }
    r.steps = steps;
    r.tick /= steps;
    r.gc /= steps;
    r.walk /= steps;
    r.step /= steps;
    r.cpu_walk /= steps;
    r.cpu_step /= steps;
    std::sort(step_ms.begin(), step_ms.end());
    r.step_p95 = step_ms[(size_t)((steps - 1) * 0.95)];
    r.step_max = step_ms.back();
    r.primitives = count_sprites(h->held);
    r.bytes = h->held ? h->held->length : 0;
    r.capacity = h->held ? h->held->capacity : 0;
    return r;
}

// ---------------------------------------------------------------------------
// The render side

// One frame the way draw_iteration draws a new scene, without the event
// poll; answers the frame time in ms.
static void draw_frame(render_context *rc, threadstream *scene)
{
    SDL_SetRenderTarget(rc->renderer, rc->default_target);
    rc->clear_pending = 1;
    draw_scene(rc, scene, 0, 0);
    if (rc->clear_pending) {
        SDL_SetRenderDrawColor(rc->renderer, rc->clear_r, rc->clear_g, rc->clear_b, 255);
        SDL_RenderClear(rc->renderer);
    }
    scene_rewind(scene);
    SDL_RenderPresent(rc->renderer);
}

struct draw_rate {
    double fps, cpu_fps;   // by wall time and by the thread's CPU time
};

// Frames per second of drawing the scene over and over (at least five
// frames and min_ms), after three frames that warm the texture cache.
static draw_rate render_fps(render_context *rc, threadstream *scene, double min_ms)
{
    draw_rate rate = {0.0, 0.0};
    if (!scene)
        return rate;
    for (int i = 0; i < 3; i++)
        draw_frame(rc, scene);
    int frames = 0;
    const double t0 = now_ms(), c0 = cpu_ms();
    while (frames < 5 || now_ms() - t0 < min_ms) {
        draw_frame(rc, scene);
        frames++;
    }
    rate.fps = 1000.0 * frames / (now_ms() - t0);
    rate.cpu_fps = 1000.0 * frames / SDL_max(cpu_ms() - c0, 1e-3);
    return rate;
}

// Writes what the window shows after drawing the scene, to check by eye
// that the bunnies are there.
static void save_screenshot(render_context *rc, threadstream *scene, const char *path)
{
    SDL_SetRenderTarget(rc->renderer, rc->default_target);
    rc->clear_pending = 1;
    draw_scene(rc, scene, 0, 0);
    scene_rewind(scene);
    int w = 0, h = 0;
    SDL_GetRendererOutputSize(rc->renderer, &w, &h);
    std::vector<unsigned char> px((size_t)w * h * 4);
    if (SDL_RenderReadPixels(rc->renderer, nullptr, SDL_PIXELFORMAT_ABGR8888, px.data(), w * 4) == 0)
        lodepng_encode32_file(path, px.data(), (unsigned)w, (unsigned)h);
    SDL_RenderPresent(rc->renderer);
}

// ---------------------------------------------------------------------------
// Set-up, as engine_startup does it

static int setup(bench_host *h, const char *game_dir, const char *write_dir, const char *argv0)
{
    cvar_set("log.stdout", "false");
    cvar_set("log.filename", "");
    if (SDL_Init(0) != 0 || !log_init())
        return 0;
    if (!register_renderer_cvars() || !register_metadata_cvars())
        return 0;
    cvar_set("renderer.vsync", "false");
    cvar_set("renderer.start_headless", "true");
    if (SDL_Init(SDL_INIT_VIDEO) != 0 || !threadstream_init() || !janitor_init())
        return 0;

    PHYSFS_Allocator allocator = {nullptr, nullptr, [](PHYSFS_uint64 n) { return SDL_malloc((size_t)n); },
                                  [](void *p, PHYSFS_uint64 n) { return SDL_realloc(p, (size_t)n); }, SDL_free};
    char *base_dir = SDL_GetBasePath();
    if (!PHYSFS_setAllocator(&allocator) || !PHYSFS_init(argv0) || !base_dir || !PHYSFS_mount(base_dir, nullptr, 0) ||
        !PHYSFS_mount(game_dir, nullptr, 0) || !PHYSFS_setWriteDir(write_dir) || !PHYSFS_mount(write_dir, nullptr, 0)) {
        SDL_SetError("PhysFS: %s", PHYSFS_getErrorByCode(PHYSFS_getLastErrorCode()));
        return 0;
    }
    load_metadata("metadata/game_metadata.txt");
    metadata_derive_orientation();
    load_cvars_from_file("metadata/cvars.txt");
    PHYSFS_mkdir("logs");
    if (!log_ready())
        return 0;

    h->rc = render_context_new(0, 0);
    if (!h->rc)
        return 0;
    SDL_SetWindowSize(h->rc->window, 1280, 720);
    render_context_update_sizes(h->rc);
    h->rc->game_dir = game_dir;

    // The first scene carries the grid; the render thread draws it before
    // the first step, which turns the grid on.
    threadstream *first = threadstream_allocate();
    scene_grid first_grid = {0.0f, (float)h->rc->canvas_h, -1};
    if (!first || !scene_write_frame_header(first) || !scene_write_grid(first, &first_grid))
        return 0;
    const char *exe = argv0;
    if (!script_host_setup(h->rc, exe, exe, game_dir, base_dir))
        return 0;
    SDL_free(base_dir);
    draw_frame(h->rc, first);
    h->held = first;
    h->last_tick_ms = SDL_GetTicks() - 100;
    return 1;
}

static void teardown(bench_host *h)
{
    renderstream_queue_scene(h->held);
    h->held = nullptr;
    game_quit();
    game_quit_bang();
    render_context_delete(h->rc);
    janitor_quit();
    threadstream_quit();
    cvar_quit();
    log_quit();
    SDL_Quit();
    PHYSFS_deinit();
}

// ---------------------------------------------------------------------------
// Reports

static const struct {
    const char *mode;
    const char *text;
} mode_texts[] = {
    {"hash", "a Hash per bunny, pushed into args.outputs.sprites every tick"},
    {"object", "an attr_sprite object per bunny, pushed every tick"},
    {"array", "an Array [x, y, w, h, path] per bunny, pushed every tick"},
    {"hash_static", "the Hashes kept in args.outputs.static_sprites, moved every tick"},
};

static void print_legend(const std::vector<std::string> &mode_list)
{
    printf("modes:\n");
    for (const std::string &m : mode_list)
        for (const auto &t : mode_texts)
            if (m == t.mode)
                printf("  %-12s %s\n", t.mode, t.text);
    printf("\n");
}

static void print_header(void)
{
    printf("%-11s %6s %8s %6s %8s %8s %7s %8s %8s %8s %8s %6s %5s %5s %7s %7s\n", "mode", "N", "tick", "gc", "walk",
           "step", "p95", "cpu", "cpu", "ns/prim", "ns/prim", "prims", "grow", "fresh", "draw", "draw");
    printf("%-11s %6s %8s %6s %8s %8s %7s %8s %8s %8s %8s %6s %5s %5s %7s %7s\n", "", "", "ms", "ms", "ms", "ms", "ms",
           "step ms", "walk ms", "", "cpu", "", "", "", "fps", "cpu fps");
}

static void print_row(const char *mode, int n, const run_result *r, const draw_rate *rate)
{
    char fps[32] = "-", cpu_fps[32] = "-";
    if (rate) {
        SDL_snprintf(fps, sizeof fps, "%.1f", rate->fps);
        SDL_snprintf(cpu_fps, sizeof cpu_fps, "%.1f", rate->cpu_fps);
    }
    const double per = 1e6 / SDL_max(n, 1);
    printf("%-11s %6d %8.2f %6.2f %8.2f %8.2f %7.2f %8.2f %8.2f %8.0f %8.0f %6d %5d %5d %7s %7s%s%s\n", mode, n, r->tick,
           r->gc, r->walk, r->step, r->step_p95, r->cpu_step, r->cpu_walk, r->walk * per, r->cpu_walk * per,
           r->primitives, r->grows, r->fresh, fps, cpu_fps, r->missed_ticks ? "  (runtime skipped ticks)" : "",
           r->failed ? "  (scenes failed)" : "");
    fflush(stdout);
}

static int use_cpu_clock = 1;   // the search's criterion: the step's thread CPU time, else wall time

static int holds(const run_result *r)
{
    const double step = use_cpu_clock ? r->cpu_step : r->step;
    return step < STEP_BUDGET_MS && !r->failed && !r->missed_ticks;
}

// Doubles from start while the mean step holds 60 Hz, then bisects to
// within 5%; answers the largest N measured to hold.
static int search_max(bench_host *h, const char *mode, int start, int warmup, int steps, int verbose)
{
    int good = 0, bad = 0, n = start;
    while (!bad && n <= 2000000) {
        run_result r = run_config(h, mode, n, warmup, steps);
        if (verbose)
            print_row(mode, n, &r, nullptr);
        if (holds(&r)) {
            good = n;
            n *= 2;
        } else {
            bad = n;
        }
    }
    while (bad && bad - good > SDL_max(good / 20, 100)) {
        int mid = (good + bad) / 2 / 100 * 100;
        if (mid <= good)
            break;
        run_result r = run_config(h, mode, mid, warmup, steps);
        if (verbose)
            print_row(mode, mid, &r, nullptr);
        if (holds(&r))
            good = mid;
        else
            bad = mid;
    }
    return good;
}

// ---------------------------------------------------------------------------
// Input processing

// The input part of one simulation step: the engine's events, the
// controller poll and the stick and tracked-position reports.
static void input_step(bench_host *h, const std::vector<SDL_Event> &events)
{
    const int arena = script_host_arena_save();
    for (const SDL_Event &e : events)
        events_process(h->rc, &e, &the_game);
    Sint16 axes[GAME_PLAYERS][4];
    controller_poll(&the_game, axes);
    runtime_report_sticks(axes);
    runtime_report_tracked_positions();
    script_host_arena_restore(arena);
}

static void input_bench(bench_host *h, int reps)
{
    std::vector<SDL_Event> none, hundred;
    for (int i = 0; i < 100; i++) {
        SDL_Event e;
        SDL_zero(e);
        if (i % 4 < 2) {
            e.type = i % 4 == 0 ? SDL_KEYDOWN : SDL_KEYUP;
            e.key.state = i % 4 == 0 ? SDL_PRESSED : SDL_RELEASED;
            e.key.keysym.sym = SDLK_a + (i / 4) % 26;
            e.key.keysym.scancode = (SDL_Scancode)(SDL_SCANCODE_A + (i / 4) % 26);
        } else {
            e.type = SDL_MOUSEMOTION;
            e.motion.x = 100 + i, e.motion.y = 200 + i, e.motion.xrel = 1, e.motion.yrel = -1;
        }
        hundred.push_back(e);
    }
    printf("\nInput processing per step (events, controller poll, stick reports; %d steps each):\n", reps);
    const struct {
        const char *name;
        const std::vector<SDL_Event> *events;
    } cases[] = {{"no events", &none}, {"100 events", &hundred}};
    for (const auto &c : cases) {
        for (int i = 0; i < 20; i++)
            input_step(h, *c.events);
        const int allocs = sdl_allocations;
        const double t0 = now_ms(), c0 = cpu_ms();
        for (int i = 0; i < reps; i++)
            input_step(h, *c.events);
        const double wall = (now_ms() - t0) * 1000.0 / reps, cpu = (cpu_ms() - c0) * 1000.0 / reps;
        printf("  %-11s %8.2f us wall %8.2f us cpu, %.1f SDL allocations per step\n", c.name, wall, cpu,
               (double)(sdl_allocations - allocs) / reps);
        if (c.events == &none)
            printf("  goal: an idle step's input processing under 5 us: %.2f us cpu (ratio %.2f)\n", cpu, cpu / 5.0);
    }
}

static void goal_line(const char *what, double wall, double cpu, double goal, const char *unit)
{
    printf("  goal: %s under %.1f %s: wall %.2f %s (ratio %.2f), thread CPU %.2f %s (ratio %.2f)\n", what, goal, unit,
           wall, unit, wall / goal, cpu, unit, cpu / goal);
}

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: bench_outputs GAME_DIR WRITE_DIR [--counts 1000,5000,10000] [--modes hash,object,array]\n"
                        "       [--warmup 30] [--steps 60] [--search-steps 30] [--draw-ms 300] [--no-search]\n"
                        "       [--search-clock cpu|wall] [--screenshot file.png] [--verbose]\n");
        return 2;
    }
    const char *game_dir = argv[1], *write_dir = argv[2];
    std::vector<int> counts = {1000, 5000, 10000, 20000};
    std::vector<std::string> mode_list = {"hash", "object", "array", "hash_static"};
    int warmup = 30, steps = 60, search_steps = 30, search = 1, verbose = 0;
    double draw_ms = 300;
    const char *screenshot = nullptr;
    for (int i = 3; i < argc; i++) {
        const char *a = argv[i];
        const char *v = i + 1 < argc ? argv[i + 1] : "";
        if (!strcmp(a, "--counts")) {
            counts.clear();
            for (const char *p = v; *p; p += strcspn(p, ",") + (p[strcspn(p, ",")] ? 1 : 0))
                counts.push_back(atoi(p));
            i++;
        } else if (!strcmp(a, "--modes")) {
            mode_list.clear();
            std::string all = v;
            size_t at = 0;
            while (at <= all.size()) {
                size_t end = all.find(',', at);
                if (end == std::string::npos)
                    end = all.size();
                if (end > at)
                    mode_list.push_back(all.substr(at, end - at));
                at = end + 1;
            }
            i++;
        } else if (!strcmp(a, "--warmup")) {
            warmup = atoi(v), i++;
        } else if (!strcmp(a, "--steps")) {
            steps = SDL_max(atoi(v), 1), i++;
        } else if (!strcmp(a, "--search-steps")) {
            search_steps = SDL_max(atoi(v), 1), i++;
        } else if (!strcmp(a, "--draw-ms")) {
            draw_ms = atof(v), i++;
        } else if (!strcmp(a, "--screenshot")) {
            screenshot = v, i++;
        } else if (!strcmp(a, "--search-clock")) {
            use_cpu_clock = strcmp(v, "wall") != 0, i++;
        } else if (!strcmp(a, "--no-search")) {
            search = 0;
        } else if (!strcmp(a, "--verbose")) {
            verbose = 1;
        } else {
            fprintf(stderr, "bench_outputs: unknown option %s\n", a);
            return 2;
        }
    }

    SDL_GetMemoryFunctions(&real_malloc, &real_calloc, &real_realloc, &real_free);
    SDL_SetMemoryFunctions(counting_malloc, counting_calloc, counting_realloc, real_free);

    bench_host host = {};
    if (!setup(&host, game_dir, write_dir, argv[0]))
        return fail("engine set-up");
    SDL_RendererInfo info;
    SDL_GetRendererInfo(host.rc->renderer, &info);
    int ow = 0, oh = 0;
    SDL_GetRendererOutputSize(host.rc->renderer, &ow, &oh);
    printf("video driver %s, renderer %s, output %dx%d; %d warm-up and %d timed steps per case\n\n",
           SDL_GetCurrentVideoDriver(), info.name, ow, oh, warmup, steps);
    print_legend(mode_list);
    print_header();

    run_result hash10k = {};
    int have_hash10k = 0, all_grows = 0, all_steps = 0, all_fresh = 0, all_walk_allocs = 0;
    for (const std::string &m : mode_list) {
        for (int n : counts) {
            run_result r = run_config(&host, m.c_str(), n, warmup, steps);
            const draw_rate rate = render_fps(host.rc, host.held, draw_ms);
            print_row(m.c_str(), n, &r, &rate);
            all_grows += r.grows;
            all_fresh += r.fresh;
            all_steps += r.steps;
            all_walk_allocs += r.walk_allocs;
            if (m == "hash" && n == 10000) {
                hash10k = r;
                have_hash10k = 1;
                if (screenshot)
                    save_screenshot(host.rc, host.held, screenshot);
            }
        }
    }

    printf("\n");
    if (have_hash10k) {
        goal_line("packing per Hash sprite (walk / N at 10,000)", hash10k.walk * 1e6 / 10000,
                  hash10k.cpu_walk * 1e6 / 10000, 250, "ns");
        goal_line("10,000 Hash sprites moved and packed, whole step", hash10k.step, hash10k.cpu_step, STEP_BUDGET_MS,
                  "ms");
        printf("  scene of 10,000 Hash sprites: %zu bytes (%.0f per sprite) in a stream of %zu KiB\n", hash10k.bytes,
               (double)hash10k.bytes / 10000, hash10k.capacity / 1024);
        if (hash10k.primitives != 10000)
            printf("  warning: the last scene holds %d sprites, not 10000\n", hash10k.primitives);
    }
    printf("  goal: no stream reallocation after warm-up: %d growths and %d new streams in %d timed steps of all "
           "cases (goal 0%s)\n",
           all_grows, all_fresh, all_steps, all_grows == 0 ? ", met" : ", missed");
    printf("  SDL allocations inside the walks after warm-up: %d\n", all_walk_allocs);

    if (search) {
        printf("\nLargest N holding 60 steps per second (mean %s of the whole step under %.1f ms; doubling from 1,000, "
               "then bisecting to 5%%; %d warm-up and %d timed steps per probe):\n",
               use_cpu_clock ? "thread CPU time" : "wall time", STEP_BUDGET_MS, warmup, search_steps);
        if (verbose)
            print_header();
        for (const std::string &m : mode_list) {
            const int best = search_max(&host, m.c_str(), 1000, warmup, search_steps, verbose);
            printf("  %-12s %7d\n", m.c_str(), best);
            fflush(stdout);
        }
    }

    input_bench(&host, 500);

    teardown(&host);
    return host.log_errors ? 1 : 0;
}
