// The render thread's frame (draw_iteration) and the scene reader. Polls
// window-system events into one event stream per frame, consumes the queued
// scene streams (older ones with commands only), draws the newest, presents
// and measures the render frame rate. Depends on SDL2, the thread streams,
// the render context and the loop's atomics.
#include "render/draw.h"

#include "config/cvar.h"
#include "config/metadata.h"
#include "engine/engine.h"
#include "render/render_context.h"
#include "render/scene.h"
#include "stream/threadstream.h"

static_assert(sizeof(SDL_Event) == 56, "event streams carry 56-byte events");


static void automatic_orientation(render_context *rc)
{
    if (!cvar_game_metadata_orientation_both || !rc->window)
        return;
    int w = 0, h = 0;
    SDL_GetWindowSize(rc->window, &w, &h);
    if (h <= 0)
        return;
    float aspect = (float)w / h;
    if (rc->landscape && aspect < 0.8f)
        cvar_force_set("game_metadata.orientation_current", "portrait");
    else if (!rc->landscape && aspect > 0.8f)
        cvar_force_set("game_metadata.orientation_current", "landscape");
    else
        return;
    render_context_update_orientation(rc);
}

static int append_raw(threadstream *s, const void *bytes, size_t n)
{
    if (!threadstream_claim_space(s, n))
        return 0;
    SDL_memcpy(s->data + s->length, bytes, n);
    s->length += n;
    return 1;
}

// Every polled event goes to the simulation as its raw 56 bytes, behind a
// size_t count; a frame with no events queues nothing.
static void poll_events(render_context *rc)
{
    threadstream *s = threadstream_allocate();
    size_t count = 0;
    if (s)
        threadstream_pack_size_t(s, 0);
    SDL_Event e;
    while (SDL_PollEvent(&e)) {
        switch (e.type) {
        case SDL_APP_WILLENTERBACKGROUND:
            SDL_AtomicSet(&sleep_occurred_flag, 1);
            SDL_AtomicSet(&wake_occurred_flag, 0);
            break;
        case SDL_APP_DIDENTERFOREGROUND:
            SDL_AtomicSet(&sleep_occurred_flag, 0);
            SDL_AtomicSet(&wake_occurred_flag, 1);
            break;
        case SDL_WINDOWEVENT:
            if (e.window.windowID == rc->window_id && e.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) {
                SDL_AtomicSet(&atomic_resize_occurred, 1);
                automatic_orientation(rc);
                render_context_update_sizes(rc);
            }
            break;
        default:
            break;
        }
        if (s && append_raw(s, &e, sizeof e))
            count++;
    }
    if (!s)
        return;
    if (count == 0 || s->failed) {
        threadstream_free(s);
        return;
    }
    SDL_memcpy(s->data, &count, sizeof count);
    threadstreamqueue_putitem(rc->event_queue, s);
}

void draw_scene(render_context *rc, threadstream *scene, int commands_only, int replay)
{
    scene_rewind(scene);
    scene_frame_header header;
    if (!scene_read_frame_header(scene, &header))
        return;
    Sint32 tag;
    while (!threadstream_eos(scene) && scene_read_tag(scene, &tag)) {
        if (tag == SCENE_TAG_PADDING)
            continue;
        if (tag != SCENE_TAG_GRID)
            break;   // an unknown record cannot be skipped: the format has no lengths
        scene_grid grid;
        if (!scene_read_grid(scene, &grid))
            break;
        rc->grid_origin_x = (int)grid.origin_x;
        rc->grid_origin_y = (int)grid.origin_y;
        SDL_AtomicSet(&rc->size_change_pending, 1);
        SDL_AtomicSet(&rc->grid_set, 1);
        rc->grid_centred = rc->grid_origin_y == (rc->landscape ? 360 : 640);
    }
}

static void measure_frame_rate(render_context *rc)
{
    rc->frames_drawn++;
    SDL_AtomicSet(&rc->render_fps_published, (int)fps_iteration(&rc->render_fps));
}

int draw_iteration(render_context *rc)
{
    int last = SDL_AtomicGet(&atomic_last_completed_global_tick_count);
    if (last >= 0 && last == rc->last_drawn_global_tick && !SDL_AtomicGet(&sleep_occurred_flag)) {
        SDL_Delay(1);
        return 0;
    }

    poll_events(rc);
    SDL_SetRenderTarget(rc->renderer, rc->default_target);

    int waiting = threadstreamqueue_getcount(rc->scene_queue);
    threadstream *scene = nullptr;
    int replay = 0, superseded = 0;
    if (waiting > 0) {
        renderstream_queue_scene(rc->current_scene);
        rc->current_scene = nullptr;
        scene = threadstreamqueue_getitem(rc->scene_queue);
        threadstream *next;
        while (scene && (next = threadstreamqueue_getitem(rc->scene_queue)) != nullptr) {
            draw_scene(rc, scene, 1, 0);
            renderstream_queue_scene(scene);
            scene = next;
            superseded++;
        }
    } else {
        scene = rc->current_scene;
        replay = 1;
    }

    if (scene) {
        rc->clear_pending = 1;
        draw_scene(rc, scene, 0, replay);
        if (rc->clear_pending) {
            SDL_SetRenderDrawColor(rc->renderer, rc->clear_r, rc->clear_g, rc->clear_b, 255);
            SDL_RenderClear(rc->renderer);
        }
        scene_rewind(scene);
        rc->current_scene = scene;
    } else {
        SDL_SetRenderDrawColor(rc->renderer, 0, 0, 0, 255);
        SDL_RenderClear(rc->renderer);
    }

    SDL_RenderPresent(rc->renderer);
    if (!rc->keyboard_focus && cvar_renderer_background_sleep)
        SDL_Delay(cvar_renderer_background_sleep);

    measure_frame_rate(rc);
    rc->last_drawn_global_tick = last;
    return superseded;
}
