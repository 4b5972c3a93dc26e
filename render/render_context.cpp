// Render context: window, renderer, the two stream queues, the built-in
// textures and the canvas geometry (standard and HD modes). Depends on SDL2,
// the cvars, the metadata cvars, logging and the thread streams. Glyph
// atlases, texture caches and the window icon join as those modules land.
#include "render/render_context.h"

#include "config/cvar.h"
#include "config/metadata.h"
#include "log/log.h"
#include "image/image.h"
#include "render/texture_cache.h"
#include "text/fontatlas.h"
#include "stream/threadstream.h"

Sint32 cvar_renderer_fullscreen;
Sint32 cvar_renderer_borderless;
Sint32 cvar_renderer_start_headless;
Sint32 cvar_renderer_vsync;
Uint32 cvar_renderer_background_sleep;
Uint32 cvar_webserver_port;
Sint32 cvar_webserver_enabled;
Sint32 cvar_webserver_remote_clients;

int register_renderer_cvars(void)
{
    return cvar_register_bool("renderer.fullscreen", "True if we should use the whole display", &cvar_renderer_fullscreen, 0) &&
           cvar_register_bool("renderer.borderless", "True if non-fullscreen windows should be borderless", &cvar_renderer_borderless, 0) &&
           cvar_register_bool("renderer.start_headless", "True if we shouldn't show a window at startup", &cvar_renderer_start_headless, 0) &&
           cvar_register_bool("renderer.vsync", "True if we should sync-to-vblank when presenting", &cvar_renderer_vsync, 1) &&
           cvar_register_uint("renderer.background_sleep", "Milliseconds to sleep per frame when in the background (zero to disable)", &cvar_renderer_background_sleep, 50) &&
           cvar_register_uint("webserver.port", "Default port the webserver will listen on if enabled", &cvar_webserver_port, 9001) &&
           cvar_register_bool("webserver.enabled", "If True, the web server will be started in dev mode.", &cvar_webserver_enabled, 0) &&
           cvar_register_bool("webserver.remote_clients", "If True, the web server will respond to http requests other than local host.", &cvar_webserver_remote_clients, 0);
}

static int cvar_string_equals(char *const *storage, const char *text)
{
    char buf[64];
    return SDL_strcmp(cvar_string_read(storage, buf, sizeof buf), text) == 0;
}

static void apply_orientation(render_context *rc)
{
    int portrait = cvar_string_equals(&cvar_game_metadata_orientation_current, "portrait");
    SDL_SetHint("SDL_IOS_ORIENTATIONS", portrait ? "Portrait" : "LandscapeRight,LandscapeLeft");
    rc->landscape = !portrait;
    rc->logical_w = portrait ? 720 : 1280;
    rc->logical_h = portrait ? 1280 : 720;
    if (cvar_game_metadata_orientation_both) {
        int starts_portrait = cvar_string_equals(&cvar_game_metadata_orientation_on_startup, "portrait");
        SDL_SetHint("SDL_IOS_ORIENTATIONS", starts_portrait ? "Portrait,LandscapeRight,LandscapeLeft" : "LandscapeRight,LandscapeLeft,Portrait");
    }
}

void render_context_update_orientation(render_context *rc)
{
    apply_orientation(rc);
    rc->canvas_w = rc->logical_w;
    rc->canvas_h = rc->logical_h;
    render_context_publish(rc);
}

void render_context_update_scale_quality(void)
{
    const char *q = cvar_game_metadata_scale_quality == 1 ? "1" : cvar_game_metadata_scale_quality == 2 ? "2" : "0";
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, q);
}

// 16-pixel black and white squares, black at the top left, with a red
// outermost row and column on every side.
static SDL_Texture *make_checkerboard(SDL_Renderer *r)
{
    const int n = 256;
    Uint32 *px = (Uint32 *)SDL_malloc(n * n * 4);
    if (!px)
        return nullptr;
    for (int y = 0; y < n; y++)
        for (int x = 0; x < n; x++) {
            Uint32 v = (((x / 16) + (y / 16)) & 1) ? 0xFFFFFFFFu : 0xFF000000u;
            if (x == 0 || y == 0 || x == n - 1 || y == n - 1)
                v = 0xFF0000FFu;
            px[y * n + x] = v;
        }
    SDL_Texture *t = texture_create_static(r, n, n, px);
    SDL_free(px);
    return t;
}

static SDL_Texture *make_solid(SDL_Renderer *r)
{
    const int n = 1280;
    Uint32 *px = (Uint32 *)SDL_malloc((size_t)n * n * 4);
    if (!px)
        return nullptr;
    SDL_memset(px, 0xFF, (size_t)n * n * 4);
    SDL_Texture *t = texture_create_static(r, n, n, px);
    SDL_free(px);
    return t;
}

static const float hd_steps[] = {0.25f, 0.5f, 0.75f, 1.0f, 1.25f, 1.5f, 1.75f, 2.0f, 2.25f,
                                 2.5f, 3.0f, 3.5f, 4.0f, 4.25f, 4.5f, 4.75f, 5.0f};

static float snap_scale(float s, int max_scale)
{
    float step = 0.1f;
    for (float v : hd_steps)
        if (v <= s)
            step = v;
    switch (max_scale) {
    case 400: step = SDL_min(step, 4.0f); break;
    case 300: step = SDL_min(step, 3.0f); break;
    case 250: step = SDL_min(step, 2.5f); break;
    case 200: step = SDL_min(step, 2.0f); break;
    case 175: step = SDL_min(step, 1.75f); break;
    case 150: step = SDL_min(step, 1.5f); break;
    case 125: step = SDL_min(step, 1.25f); break;
    case 100: step = SDL_min(step, 1.0f); break;
    default: break;
    }
    return step;
}

static int scale_percent_for(float step)
{
    if (step < 1.25f) return 100;
    if (step < 1.5f) return 125;
    if (step < 1.75f) return 150;
    if (step < 2.0f) return 175;
    if (step < 2.5f) return 200;
    if (step < 3.0f) return 250;
    if (step < 4.0f) return 300;
    return 400;
}

void render_geometry_compute(int lw, int lh, int ww, int wh, int ow, int oh, int hd, int hd_max_scale,
                             render_geometry *g)
{
    if (!hd || lw <= 0 || lh <= 0) {
        *g = {1.0f, 1.0f, 1.0f, 0, 0, 0, 0, 100};
        return;
    }
    float s = SDL_min((float)ow / lw, (float)oh / lh);
    float step = hd_max_scale >= 1 ? snap_scale(s, hd_max_scale) : s;
    g->pixel_density = ww > 0 ? (float)ow / ww : 1.0f;
    g->render_scale = step;
    g->unsnapped_scale = s;
    g->offset_x = (int)((ow - lw * (double)step) * 0.5);
    g->offset_y = (int)((oh - lh * (double)step) * 0.5);
    g->unsnapped_offset_x = (int)((ow - lw * (double)s) * 0.5);
    g->unsnapped_offset_y = (int)((oh - lh * (double)s) * 0.5);
    g->scale_percent = scale_percent_for(step);
}

void render_requested_window_size(int lw, int lh, int display_w, int display_h, int *w, int *h)
{
    int rw = lw, rh = lh;
    if (display_w > 0 && display_h > 0) {
        if (rw >= display_w) {
            rh = (int)(display_w / ((float)rw / rh));
            rw = display_w;
        }
        if (rh >= display_h) {
            rw = (int)(display_h / ((float)rh / rw));
            rh = display_h;
        }
    }
    *w = rw;
    *h = rh;
}

void render_context_update_sizes(render_context *rc)
{
    int lw = rc->logical_w, lh = rc->logical_h;
    int ww = lw, wh = lh, ow = lw, oh = lh;
    if (rc->window)
        SDL_GetWindowSize(rc->window, &ww, &wh);
    if (rc->renderer)
        SDL_GetRendererOutputSize(rc->renderer, &ow, &oh);

    render_geometry g;
    render_geometry_compute(lw, lh, ww, wh, ow, oh, cvar_game_metadata_hd, cvar_game_metadata_hd_max_scale, &g);
    int hd = cvar_game_metadata_hd != 0;
    rc->pixel_density = g.pixel_density;
    rc->render_scale = g.render_scale;
    rc->offset_x = g.offset_x;
    rc->offset_y = g.offset_y;
    rc->unsnapped_offset_x = g.unsnapped_offset_x;
    rc->unsnapped_offset_y = g.unsnapped_offset_y;
    rc->published_offset_x = g.offset_x;
    rc->published_offset_y = g.offset_y;
    rc->canvas_w = lw;
    rc->canvas_h = lh;
    rc->output_w = rc->published_output_w = hd ? ow : lw;
    rc->output_h = rc->published_output_h = hd ? oh : lh;
    rc->window_w = hd ? ww : lw;
    rc->window_h = hd ? wh : lh;
    rc->unit_scale = 1.0f;
    rc->unsnapped_scale = g.unsnapped_scale;
    rc->scale_percent = g.scale_percent;
    rc->base_percent = 100;
    if (rc->renderer)
        SDL_RenderSetLogicalSize(rc->renderer, rc->output_w, rc->output_h);
    render_context_publish(rc);
    SDL_AtomicSet(&rc->size_change_pending, 1);
}

void render_context_publish(render_context *rc)
{
    SDL_AtomicSet(&rc->published_scale_percent, rc->scale_percent);
    SDL_AtomicSet(&rc->published_canvas_w, rc->canvas_w);
    SDL_AtomicSet(&rc->published_canvas_h, rc->canvas_h);
    SDL_AtomicSet(&rc->published_grid_centred, rc->grid_centred);
    SDL_AtomicSet(&rc->published_landscape, rc->landscape);
}

// The game's icon; a missing or broken file leaves the default icon.
static void set_window_icon(SDL_Window *window)
{
    char *path = cvar_string_dup(&cvar_game_metadata_icon);
    int w = 0, h = 0;
    Uint8 *px = path && *path ? load_image(path, &w, &h) : nullptr;
    SDL_free(path);
    if (!px)
        return;
    SDL_Surface *icon = SDL_CreateRGBSurfaceWithFormatFrom(px, w, h, 32, 4 * w, SDL_PIXELFORMAT_ABGR8888);
    if (icon) {
        SDL_SetWindowIcon(window, icon);
        SDL_FreeSurface(icon);
    }
    free_image(px);
}

static SDL_Renderer *create_renderer(SDL_Window *w)
{
    SDL_Renderer *r = nullptr;
    if (cvar_renderer_vsync)
        r = SDL_CreateRenderer(w, -1, SDL_RENDERER_ACCELERATED | SDL_RENDERER_PRESENTVSYNC);
    if (!r)
        r = SDL_CreateRenderer(w, -1, SDL_RENDERER_ACCELERATED);
    if (!r)
        r = SDL_CreateRenderer(w, -1, 0);
    return r;
}

render_context *render_context_new(int development, int runtime_flag)
{
    render_context *rc = (render_context *)SDL_calloc(1, sizeof *rc);
    if (!rc) {
        SDL_OutOfMemory();
        return nullptr;
    }
    SDL_AtomicSet(&rc->tick_count, -1);
    SDL_AtomicSet(&rc->global_tick_count, -1);
    rc->last_drawn_global_tick = -1;

    rc->scene_queue = threadstreamqueue_create();
    rc->event_queue = rc->scene_queue ? threadstreamqueue_create() : nullptr;
    if (!rc->event_queue) {
        render_context_delete(rc);
        return nullptr;
    }

    SDL_SetHint("SDL_ANDROID_TRAP_BACK_BUTTON", "1");
    SDL_SetHint("SDL_GAMECONTROLLER_USE_BUTTON_LABELS", "1");
    SDL_SetHint("SDL_IOS_HIDE_HOME_INDICATOR", "1");
    apply_orientation(rc);
    rc->canvas_w = rc->logical_w;
    rc->canvas_h = rc->logical_h;
    rc->unit_scale = 1.0f;
    rc->scale_percent = 100;
    render_context_publish(rc);
    render_context_update_scale_quality();

    int req_w, req_h;
    SDL_Rect display;
    if (SDL_GetDisplayBounds(0, &display) != 0)
        display.w = display.h = 0;
    render_requested_window_size(rc->logical_w, rc->logical_h, display.w, display.h, &req_w, &req_h);

    SDL_SetHint("SDL_RENDER_LINE_METHOD", "3");
    Uint32 flags = (cvar_renderer_fullscreen ? SDL_WINDOW_FULLSCREEN_DESKTOP : SDL_WINDOW_RESIZABLE) | SDL_WINDOW_HIDDEN;
    if (cvar_renderer_borderless)
        flags |= SDL_WINDOW_BORDERLESS;
    int highdpi = cvar_game_metadata_highdpi && cvar_game_metadata_hd;
    if (highdpi)
        flags |= SDL_WINDOW_ALLOW_HIGHDPI;
    char *title = cvar_string_dup(&cvar_game_metadata_gametitle);
    rc->window = SDL_CreateWindow(title ? title : "", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, req_w, req_h, flags);
    SDL_free(title);
    if (!rc->window) {
        render_context_delete(rc);
        return nullptr;
    }
    rc->window_id = SDL_GetWindowID(rc->window);
    SDL_GetWindowSize(rc->window, &rc->created_window_w, &rc->created_window_h);
    set_window_icon(rc->window);

    SDL_SetHint("SDL_RENDER_BATCHING", "1");
    rc->renderer = create_renderer(rc->window);
    if (!rc->renderer) {
        render_context_delete(rc);
        return nullptr;
    }
    if (!cvar_renderer_start_headless)
        SDL_ShowWindow(rc->window);
    SDL_SetRenderDrawColor(rc->renderer, 0, 0, 0, 255);
    SDL_RenderClear(rc->renderer);
    SDL_RenderPresent(rc->renderer);

    SDL_RendererInfo info;
    SDL_zero(info);
    SDL_GetRendererInfo(rc->renderer, &info);
    rc->max_texture_w = info.max_texture_width ? info.max_texture_width : 2048;
    rc->max_texture_h = info.max_texture_height ? info.max_texture_height : 2048;

    rc->checkerboard = make_checkerboard(rc->renderer);
    if (!rc->checkerboard) {
        render_context_delete(rc);
        return nullptr;
    }
    rc->solid = make_solid(rc->renderer);
    rc->textures = texture_map_new();
    rc->cursors = cursor_map_new();
    rc->fonts = font_map_allocate(rc->renderer);
    if (!rc->textures || !rc->cursors || !rc->fonts || !font_map_load_fallback(rc->fonts)) {
        render_context_delete(rc);
        return nullptr;
    }

    SDL_RenderSetLogicalSize(rc->renderer, rc->created_window_w, rc->created_window_h);
    SDL_SetRenderDrawBlendMode(rc->renderer, SDL_BLENDMODE_BLEND);
    rc->keyboard_focus = 1;
    rc->mouse_focus = 1;
    render_context_update_sizes(rc);

    SDL_GameControllerAddMapping("05000000ac05000001000000ff876d01,Pro Controller,platform:Mac OS X,a:b0,b:b1,x:b2,y:b3,leftx:a0,lefty:a1,leftstick:b6,rightx:a3,righty:a4,rightstick:b7,leftshoulder:b4,lefttrigger:+a2,rightshoulder:b5,righttrigger:+a5,dpup:h0.1,dpright:h0.2,dpdown:h0.4,dpleft:h0.8,back:b8,guide:b9,start:h0.6");

    rc->development = development;
    rc->runtime_flag = runtime_flag;
    for (Uint32 &t : rc->user_event_types)
        t = SDL_RegisterEvents(1);

    const char *yes_no[] = {"no", "yes"};
    log_info("Render", "SDL video backend: %s", SDL_GetCurrentVideoDriver());
    log_info("Render", "SDL renderer backend: %s", info.name ? info.name : "(unknown)");
    log_info("Render", "Window size: %dx%d (requested %dx%d)", rc->created_window_w, rc->created_window_h, req_w, req_h);
    log_info("Render", "Fullscreen Desktop mode: %s", yes_no[cvar_renderer_fullscreen ? 1 : 0]);
    log_info("Render", "HD: %s", yes_no[cvar_game_metadata_hd ? 1 : 0]);
    log_info("Render", "HighDPI: %s", yes_no[highdpi]);
    log_info("Render", "Max texture size: %dx%d (system reported %dx%d)", rc->max_texture_w, rc->max_texture_h,
             info.max_texture_width, info.max_texture_height);
    log_info("Render", "Logical render size: %dx%d", rc->canvas_w, rc->canvas_h);
    log_info("Render", "Native render size: %dx%d", rc->output_w, rc->output_h);
    return rc;
}

void render_context_delete(render_context *rc)
{
    if (!rc)
        return;
    font_map_delete(rc->fonts);
    texture_map_delete(rc->textures);
    cursor_map_delete(rc->cursors);
    if (rc->checkerboard)
        SDL_DestroyTexture(rc->checkerboard);
    if (rc->solid)
        SDL_DestroyTexture(rc->solid);
    if (rc->capture_target)
        SDL_DestroyTexture(rc->capture_target);
    if (rc->renderer)
        SDL_DestroyRenderer(rc->renderer);
    if (rc->window)
        SDL_DestroyWindow(rc->window);
    renderstream_queue_scene(rc->current_scene);
    if (rc->scene_queue)
        threadstreamqueue_unref(rc->scene_queue);
    if (rc->event_queue)
        threadstreamqueue_unref(rc->event_queue);
    SDL_free(rc);
}

void render_context_recover_render_targets(render_context *rc)
{
    if (rc->capture_target) {
        SDL_DestroyTexture(rc->capture_target);
        rc->capture_target = nullptr;
    }
    texture_map_recover_render_targets(rc->textures);
}

void render_context_recover_textures(render_context *rc)
{
    if (rc->checkerboard) {
        SDL_DestroyTexture(rc->checkerboard);
        rc->checkerboard = make_checkerboard(rc->renderer);
        if (!rc->checkerboard)
            log_error("Render", "Failed to recreate the checkerboard fallback texture!");
    }
    if (!font_map_load_fallback(rc->fonts))
        log_error("Render", "Failed to recreate the fallback font!");
    font_map_clear(rc->fonts);
    texture_map_recover_textures(rc->textures);
}
