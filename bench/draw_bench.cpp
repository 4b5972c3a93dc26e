// Draw benchmark: times draw_scene on scenes of N sprites (one texture or a
// hundred, unrotated or rotated) and N labels of 20 characters, over a real
// render context (whatever SDL_VIDEODRIVER and SDL_RENDER_DRIVER select),
// with warm texture and glyph caches. For each case it prints the frame
// rate, microseconds per primitive, the time draw_scene itself takes (reading
// the records, cache look-ups, coordinate mapping and queueing the renderer
// commands), a decode-only baseline that reads the same records without
// drawing, and the SDL allocations made per frame inside draw_scene and
// inside the present that renders the queued commands. Depends on the core
// library, SDL2, PhysFS and lodepng.
#include <SDL.h>
#include <lodepng.h>
#include <physfs.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <string>
#include <vector>

#include "config/cvar.h"
#include "config/metadata.h"
#include "log/log.h"
#include "render/draw.h"
#include "render/render_context.h"
#include "render/scene.h"
#include "stream/threadstream.h"

static SDL_malloc_func real_malloc;
static SDL_calloc_func real_calloc;
static SDL_realloc_func real_realloc;
static SDL_free_func real_free;
static SDL_atomic_t allocations;

static void *counting_malloc(size_t n)
{
    SDL_AtomicIncRef(&allocations);
    return real_malloc(n);
}

static void *counting_calloc(size_t n, size_t size)
{
    SDL_AtomicIncRef(&allocations);
    return real_calloc(n, size);
}

static void *counting_realloc(void *p, size_t n)
{
    SDL_AtomicIncRef(&allocations);
    return real_realloc(p, n);
}

static double now_ms(void)
{
    return (double)SDL_GetPerformanceCounter() * 1000.0 / (double)SDL_GetPerformanceFrequency();
}

static int fail(const char *what)
{
    fprintf(stderr, "draw_bench: %s: %s\n", what, SDL_GetError());
    return 1;
}

static int write_sprite(const std::string &dir, int index)
{
    const int n = 32;
    std::vector<unsigned char> px((size_t)n * n * 4);
    for (int y = 0; y < n; y++)
        for (int x = 0; x < n; x++) {
            unsigned char *p = &px[((size_t)y * n + x) * 4];
            p[0] = (unsigned char)(index * 37 + x * 8);
            p[1] = (unsigned char)(index * 11 + y * 8);
            p[2] = (unsigned char)(255 - index);
            p[3] = (x + y) % 7 == 0 ? 128 : 255;
        }
    char name[64];
    SDL_snprintf(name, sizeof name, "/sprites/s%03d.png", index);
    return lodepng_encode32_file((dir + name).c_str(), px.data(), n, n) == 0;
}

static Uint32 bench_seed = 1;
static Uint32 bench_random(void)
{
    return bench_seed = bench_seed * 1664525u + 1013904223u;
}

enum bench_kind { BENCH_SPRITES, BENCH_LABELS };

struct bench_case {
    bench_kind kind;
    int count;
    int textures;   // sprites: distinct images
    int rotated;
};

static threadstream *build_scene(const bench_case *c)
{
    threadstream *s = threadstream_allocate();
    if (!s)
        return nullptr;
    scene_write_frame_header(s);
    scene_grid grid = {0, 720, -1};
    scene_write_grid(s, &grid);
    scene_passes passes = {1, 0};
    scene_write_passes(s, &passes);
    scene_pass pass = {};
    pass.r = 20, pass.g = 30, pass.b = 40, pass.a = 255;
    pass.target = scene_text(nullptr);
    pass.width = 1280, pass.height = 720;
    scene_write_pass(s, &pass);
    char path[64], text[32];
    bench_seed = 1;
    for (int i = 0; i < c->count; i++) {
        const float x = (float)(bench_random() % 1248), y = (float)(bench_random() % 688);
        if (c->kind == BENCH_SPRITES) {
            SDL_snprintf(path, sizeof path, "sprites/s%03d.png", i % c->textures);
            scene_sprite sp = {};
            sp.path = scene_text(path);
            sp.x = x, sp.y = y, sp.w = 32, sp.h = 32;
            sp.angle = c->rotated ? (float)(1 + (i * 37) % 359) : 0.0f;
            sp.r = sp.g = sp.b = 255;
            sp.a = 255;
            sp.tile_w = sp.tile_h = -1;
            sp.source_w = sp.source_h = -1;
            sp.angle_anchor_x = sp.angle_anchor_y = 0.5f;
            sp.blend = 1;
            sp.scale_percent = 100;
            scene_write_sprite(s, &sp);
        } else {
            SDL_snprintf(text, sizeof text, "Label number %07d", i);   // 20 characters
            scene_label lb = {};
            lb.x = x, lb.y = y + 30;
            lb.text = scene_text(text);
            lb.font = scene_text(nullptr);
            lb.r = 230, lb.g = 230, lb.b = 230, lb.a = 255;
            lb.vertical_alignment = 2;
            lb.blend = 1;
            lb.size_px = -1;
            scene_write_label(s, &lb);
        }
    }
    scene_write_pass_end(s);
    if (s->failed) {
        threadstream_free(s);
        return nullptr;
    }
    return s;
}

// Reads every record of the scene the way draw_scene does, drawing nothing.
static int decode_only(threadstream *s)
{
    scene_rewind(s);
    scene_frame_header header;
    if (!scene_read_frame_header(s, &header))
        return 0;
    int records = 0;
    Sint32 tag;
    while (!threadstream_eos(s) && scene_read_tag(s, &tag)) {
        if (tag == SCENE_TAG_GRID) {
            scene_grid g;
            if (!scene_read_grid(s, &g))
                break;
        } else if (tag == SCENE_TAG_PASSES) {
            scene_passes p;
            if (!scene_read_passes(s, &p))
                break;
            for (Sint32 i = 0; i < p.count; i++) {
                scene_pass pass;
                if (!scene_read_pass(s, &pass))
                    return records;
                Sint32 t;
                while (scene_read_tag(s, &t) && t != SCENE_TAG_PASS_END) {
                    if (t == SCENE_TAG_SPRITE) {
                        scene_sprite sp;
                        if (!scene_read_sprite(s, &sp))
                            return records;
                    } else if (t == SCENE_TAG_LABEL) {
                        scene_label lb;
                        if (!scene_read_label(s, &lb))
                            return records;
                    } else if (!scene_skip_primitive(s, t)) {
                        return records;
                    }
                    records++;
                }
            }
        } else {
            break;
        }
    }
    return records;
}

static void run_case(render_context *rc, const bench_case *c, double min_ms)
{
    threadstream *s = build_scene(c);
    if (!s) {
        fail("building the scene");
        return;
    }
    for (int i = 0; i < 3; i++) {   // warm the texture and glyph caches
        draw_scene(rc, s, 0, 0);
        SDL_RenderPresent(rc->renderer);
    }

    int frames = 0;
    double scene_ms = 0, present_ms = 0;
    int scene_allocs = 0, present_allocs = 0;
    const double start = now_ms();
    while (frames < 5 || now_ms() - start < min_ms) {
        const int a0 = SDL_AtomicGet(&allocations);
        const double t0 = now_ms();
        draw_scene(rc, s, 0, 0);
        const double t1 = now_ms();
        const int a1 = SDL_AtomicGet(&allocations);
        SDL_RenderPresent(rc->renderer);
        const double t2 = now_ms();
        scene_allocs += a1 - a0;
        present_allocs += SDL_AtomicGet(&allocations) - a1;
        scene_ms += t1 - t0;
        present_ms += t2 - t1;
        frames++;
    }

    double decode_ms = 0;
    int records = 0;
    for (int i = 0; i < frames; i++) {
        const double t0 = now_ms();
        records = decode_only(s);
        decode_ms += now_ms() - t0;
    }
    threadstream_free(s);

    const double frame = (scene_ms + present_ms) / frames;
    char name[64];
    if (c->kind == BENCH_SPRITES)
        SDL_snprintf(name, sizeof name, "sprites, %d texture%s, %s", c->textures, c->textures == 1 ? "" : "s",
                     c->rotated ? "rotated" : "unrotated");
    else
        SDL_snprintf(name, sizeof name, "labels of 20 characters");
    printf("%-34s %6d %8.1f %9.2f %8.3f %10.3f %9.3f %7.1f%% %8.1f %9.1f%s\n", name, c->count, 1000.0 / frame, frame,
           frame * 1000.0 / c->count, scene_ms / frames, decode_ms / frames, 100.0 * scene_ms / (scene_ms + present_ms),
           (double)scene_allocs / frames, (double)present_allocs / frames, records == c->count ? "" : "  (decode short)");
    if (c->kind == BENCH_SPRITES && c->count == 10000)
        printf("  goal: draw_scene under 10%% of the frame at 10,000 sprites: %.1f%% (ratio %.2f)\n",
               100.0 * scene_ms / (scene_ms + present_ms), (scene_ms / (scene_ms + present_ms)) / 0.10);
}

int main(int argc, char **argv)
{
    const char *font = argc > 1 ? argv[1] : "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
    const double min_ms = argc > 2 ? atof(argv[2]) : 500.0;

    SDL_GetMemoryFunctions(&real_malloc, &real_calloc, &real_realloc, &real_free);
    SDL_SetMemoryFunctions(counting_malloc, counting_calloc, counting_realloc, real_free);

    char tmpl[] = "/tmp/mf_draw_bench_XXXXXX";
    if (!mkdtemp(tmpl)) {
        perror("draw_bench: mkdtemp");
        return 1;
    }
    const std::string dir = tmpl;
    std::filesystem::create_directories(dir + "/sprites");
    std::error_code ec;
    std::filesystem::copy_file(font, dir + "/font.ttf", ec);
    if (ec) {
        fprintf(stderr, "draw_bench: cannot copy %s: %s\n", font, ec.message().c_str());
        return 1;
    }
    for (int i = 0; i < 100; i++)
        if (!write_sprite(dir, i)) {
            fprintf(stderr, "draw_bench: cannot write the sprite images\n");
            return 1;
        }

    if (SDL_Init(SDL_INIT_VIDEO) != 0)
        return fail("SDL_Init");
    if (!PHYSFS_init(argv[0]) || !PHYSFS_mount(dir.c_str(), nullptr, 1) || !PHYSFS_setWriteDir(dir.c_str())) {
        fprintf(stderr, "draw_bench: PhysFS: %s\n", PHYSFS_getErrorByCode(PHYSFS_getLastErrorCode()));
        return 1;
    }
    cvar_set("log.stdout", "false");
    cvar_set("log.filename", "");
    if (!log_init() || !log_ready() || !register_renderer_cvars() || !register_metadata_cvars() ||
        !threadstream_init())
        return fail("engine set-up");
    cvar_set("renderer.vsync", "false");
    cvar_set("renderer.start_headless", "true");

    render_context *rc = render_context_new(0, 0);
    if (!rc)
        return fail("render_context_new");
    SDL_SetWindowSize(rc->window, 1280, 720);
    render_context_update_sizes(rc);
    SDL_RendererInfo info;
    SDL_GetRendererInfo(rc->renderer, &info);
    int ow = 0, oh = 0;
    SDL_GetRendererOutputSize(rc->renderer, &ow, &oh);
    printf("video driver %s, renderer %s, output %dx%d\n\n", SDL_GetCurrentVideoDriver(), info.name, ow, oh);
    printf("%-34s %6s %8s %9s %8s %10s %9s %8s %8s %9s\n", "case", "N", "fps", "frame ms", "us/prim",
           "scene ms", "decode ms", "scene %", "allocs", "present");
    printf("%-34s %6s %8s %9s %8s %10s %9s %8s %8s %9s\n", "", "", "", "", "", "", "", "", "/frame", "allocs");

    const int counts[] = {1000, 5000, 10000};
    for (int rotated = 0; rotated < 2; rotated++)
        for (int textures : {1, 100})
            for (int n : counts) {
                bench_case c = {BENCH_SPRITES, n, textures, rotated};
                run_case(rc, &c, min_ms);
            }
    for (int n : counts) {
        bench_case c = {BENCH_LABELS, n, 0, 0};
        run_case(rc, &c, min_ms);
    }

    render_context_delete(rc);
    threadstream_quit();
    log_quit();
    cvar_quit();
    PHYSFS_deinit();
    SDL_Quit();
    std::filesystem::remove_all(dir, ec);
    return 0;
}
