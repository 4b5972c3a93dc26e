// The render context: the one record that owns the window, the renderer,
// the scene and event queues between the threads, the caches and the
// geometry that maps the fixed logical canvas onto the window. Created by
// start-up, used by the main (render) thread, deleted at shutdown.
#pragma once

#include <SDL.h>

#include "engine/util.h"

struct threadstream;
struct threadstreamqueue;
struct texture_map;
struct cursor_map;
struct FontAtlas;
struct font_map;

struct render_context {
    threadstreamqueue *scene_queue;   // simulation -> render
    threadstreamqueue *event_queue;   // render -> simulation
    threadstream *current_scene;      // redrawn while no newer scene arrives

    SDL_Window *window;
    SDL_Renderer *renderer;
    SDL_Texture *default_target;      // null: the window itself
    SDL_Texture *checkerboard;
    SDL_Texture *solid;
    SDL_Texture *capture_target;
    cursor_map *cursors;
    texture_map *textures;           // created before the simulation starts; guarded by its own lock
    font_map *fonts;                 // fonts by path and the fallback "font.ttf"; measured from the simulation thread too
    const char *game_dir;            // where screenshots are written; set once by start-up, never freed

    Uint32 window_id;
    float pixel_density;
    float render_scale;
    int offset_x, offset_y;
    int unsnapped_offset_x, unsnapped_offset_y;
    int published_offset_x, published_offset_y;
    int canvas_w, canvas_h;
    int output_w, output_h;
    int window_w, window_h;
    float unit_scale, unsnapped_scale;
    int scale_percent, base_percent;
    int created_window_w, created_window_h;
    int logical_w, logical_h;
    int published_output_w, published_output_h;
    int max_texture_w, max_texture_h;

    int keyboard_focus, mouse_focus;
    int clear_pending;
    int landscape;
    Uint8 clear_r, clear_g, clear_b;
    int grid_origin_x, grid_origin_y;
    int active_origin_x, active_origin_y;
    SDL_atomic_t grid_set;
    int grid_centred;

    fps_counter render_fps;           // render thread only
    SDL_atomic_t render_fps_published;

    SDL_atomic_t size_change_pending; // set by every size update, cleared by the simulation
    int frames_drawn;
    SDL_atomic_t tick_count;          // written by the simulation after each step
    SDL_atomic_t global_tick_count;
    int development;
    Uint32 user_event_types[3];       // the first is the accessibility event
    int runtime_flag;

    int last_drawn_global_tick;       // render thread: tick seen at the previous frame

    // Copies of render-thread values that the simulation thread reads
    // (outputs walker, set_grid), refreshed by render_context_publish.
    SDL_atomic_t published_scale_percent;
    SDL_atomic_t published_canvas_w, published_canvas_h;
    SDL_atomic_t published_grid_centred;
    SDL_atomic_t published_landscape;
};

// Registers the renderer.* and webserver.* cvars.
int register_renderer_cvars(void);
extern Sint32 cvar_renderer_fullscreen;
extern Sint32 cvar_renderer_borderless;
extern Sint32 cvar_renderer_start_headless;
extern Sint32 cvar_renderer_vsync;
extern Uint32 cvar_renderer_background_sleep;
extern Uint32 cvar_webserver_port;
extern Sint32 cvar_webserver_enabled;
extern Sint32 cvar_webserver_remote_clients;

// The canvas-to-output mapping of one size: standard mode (hd 0) is the
// identity; HD mode scales by the smaller output/canvas ratio, snapped to
// fixed steps and clamped when hd_max_scale is 1 or more, and centres the
// canvas with letterbox offsets.
struct render_geometry {
    float pixel_density, render_scale, unsnapped_scale;
    int offset_x, offset_y, unsnapped_offset_x, unsnapped_offset_y;
    int scale_percent;
};
void render_geometry_compute(int logical_w, int logical_h, int window_w, int window_h, int output_w, int output_h,
                             int hd, int hd_max_scale, render_geometry *out);
// The window size asked for at creation: the canvas size, shrunk to the
// display keeping its aspect (a display size of 0 means unknown).
void render_requested_window_size(int logical_w, int logical_h, int display_w, int display_h, int *w, int *h);

render_context *render_context_new(int development, int runtime_flag);
void render_context_delete(render_context *rc);
void render_context_update_sizes(render_context *rc);
void render_context_update_orientation(render_context *rc);
void render_context_update_scale_quality(void);
// Publishes scale percent, canvas size, grid centring and orientation for
// the simulation thread; the render thread calls it after changing them.
void render_context_publish(render_context *rc);
// Destroys the capture target and every render target's texture (entries
// stay and are recreated by the next pass that names them).
void render_context_recover_render_targets(render_context *rc);
// Rebuilds the built-in textures and drops every image texture after the
// renderer lost them; images load again on their next use.
void render_context_recover_textures(render_context *rc);
