// The two loops. The main thread draws one frame per completed simulation
// step (idling in 1 ms sleeps in between) and serves the janitor's
// main-thread queue; the "simulation" thread steps at 60 Hz and does one
// step's work in a fixed order. Depends on every engine service: streams,
// janitor, logging, the render context, the script host, input and audio.
#include "engine/engine.h"

#include "audio/audio.h"
#include "engine/janitor.h"
#include "engine/schedule.h"
#include "engine/script_host.h"
#include "engine/util.h"
#include "input/controller.h"
#include "input/events.h"
#include "log/log.h"
#include "net/http.h"
#include "render/draw.h"
#include "render/render_context.h"
#include "render/scene.h"
#include "stream/threadstream.h"


// Simulation-thread state.
static threadstream *current_stream;

static fps_counter simulation_fps;
static Uint32 next_fps_log_time;
static SDL_atomic_t log_publish_failures;

static void deliver_log_entries(void)
{
    log_entry *entries = log_get_entries();
    if (!entries)
        return;
    for (log_entry *e = entries; e; e = e->next)
        runtime_new_log_entry(e);
    if (!janitor_queue_job(log_publish_job, entries, JANITOR_TARGET_LAST_WORKER, 0)) {
        log_limited(&log_publish_failures, "Engine", LOG_LEVEL_WARN,
                    "Failed to start janitor job to publish logs, have to do it immediately on the simulation thread...");
        log_publish(entries);
        log_free_entries(entries);
    }
}

static void key_state_pass(void)
{
    for (int p = 0; p < GAME_PLAYERS; p++)
        for (int k = 0; k < GAME_KEY_SLOTS; k++) {
            int &state = the_game.key_states[p][k];
            switch (state) {
            case 1:
                runtime_controller_key(p + 1, k, 1);
                state = 2;
                break;
            case 2:
                runtime_controller_key(p + 1, k, 2);
                break;
            case 3:
                runtime_controller_key(p + 1, k, 3);
                state = 0;
                break;
            default:
                break;
            }
        }
}

static void process_events(render_context *rc)
{
    threadstream *s = threadstreamqueue_getitem(rc->event_queue);
    if (!s)
        return;
    if (s->length >= 8) {
        Uint64 count = threadstream_unpack_size_t(s);
        // Bounded by the bytes present, whatever the count says.
        Uint64 room = (s->length - s->read_pos) / sizeof(SDL_Event);
        if (count > room)
            count = room;
        for (Uint64 i = 0; i < count; i++) {
            SDL_Event e;
            SDL_memcpy(&e, s->data + s->read_pos, sizeof e);
            s->read_pos += sizeof e;
            events_process(rc, &e, &the_game);
        }
    }
    threadstream_free(s);
}

static void reboot(render_context *rc)
{
    if (!script_host_setup(rc, engine_strings.exe_path, engine_strings.command_line, engine_strings.game_dir,
                           engine_strings.base_dir)) {
        log_error("Engine", "Rebooting the scripts failed, quitting: %s", SDL_GetError());
        the_game.window_close_requested = 1;
        return;
    }
    runtime_windowevent_size_changed(rc);
    int mouse[4];
    events_last_mouse(mouse);
    runtime_reboot(mouse[0], mouse[1], mouse[2], mouse[3]);
}

bool simulation_iteration(void)
{
    render_context *rc = engine_render_context;
    if (SDL_AtomicGet(&sleep_occurred_flag))
        return true;

    int arena = script_host_arena_save();
    current_stream = threadstream_allocate();
    simulation_set_current_stream(current_stream);
    if (!current_stream)
        return false;
    scene_write_frame_header(current_stream);

    unsigned sim_fps = fps_iteration(&simulation_fps);
    unsigned render_fps = (unsigned)SDL_AtomicGet(&rc->render_fps_published);
    Uint32 now = SDL_GetTicks();
    if ((Sint32)(next_fps_log_time - now) < 1) {
        next_fps_log_time += 1000;
        log_spam("Engine", "Simulation fps: %u", sim_fps);
        log_spam("Render", "Render fps: %u", render_fps);
    }
    runtime_current_fps(sim_fps, render_fps);

    if (runtime_reboot_requested()) {
        reboot(rc);
        threadstream_free(current_stream);
        current_stream = nullptr;
        simulation_set_current_stream(nullptr);
        return true;
    }

    key_state_pass();
    process_events(rc);

    Sint16 axes[GAME_PLAYERS][4];
    controller_poll(&the_game, axes);
    runtime_report_sticks(axes);
    runtime_report_tracked_positions();

    httpserver_tick();

    SDL_AtomicSet(&atomic_resize_occurred, 0);
    if (SDL_AtomicGet(&rc->grid_set) && SDL_AtomicCAS(&rc->size_change_pending, 1, 0))
        runtime_windowevent_size_changed(rc);

    game_tick();
    script_host_gc_step();
    audio_update_simulation_state();
    script_host_walk_outputs(current_stream);

    if (current_stream->failed) {
        threadstream_free(current_stream);
    } else {
        scene_write_frame_stamp(current_stream, (Sint32)(SDL_GetTicks() - renderstream_tick_offset()));
        threadstreamqueue_putitem(rc->scene_queue, current_stream);
    }
    current_stream = nullptr;
    simulation_set_current_stream(nullptr);

    http_tick();
    int quit = runtime_quit_requested();
    deliver_log_entries();
    script_host_arena_restore(arena);

    SDL_AtomicSet(&rc->tick_count, runtime_tick_count());
    int global = runtime_global_tick_count();
    SDL_AtomicSet(&rc->global_tick_count, global);
    SDL_AtomicSet(&atomic_last_completed_global_tick_count, global);

    return !(quit || the_game.window_close_requested);
}

static int step_trampoline(void *) { return simulation_iteration() ? 1 : 0; }

int simulation_thread_main(void *)
{
    SDL_SetThreadPriority(SDL_THREAD_PRIORITY_TIME_CRITICAL);
    sim_schedule_run(&sim_clock_sdl, SDL_GetPerformanceFrequency(), step_trampoline, nullptr, &simulation_quit_flag,
                     &atomic_is_first_simulation_iteration, &wake_occurred_flag);
    SDL_AtomicSet(&simulation_quit_flag, 1);
    return 0;
}

void run_main_loop(void)
{
    render_context *rc = engine_render_context;
    SDL_AtomicSet(&wake_occurred_flag, 0);
    SDL_AtomicSet(&sleep_occurred_flag, 0);
    SDL_AtomicSet(&atomic_resize_occurred, 0);
    SDL_AtomicSet(&atomic_a11y_activation_occurred_at, 0);
    SDL_AtomicSet(&simulation_quit_flag, 0);

    draw_iteration(rc);
    SDL_Thread *sim = SDL_CreateThreadWithStackSize(simulation_thread_main, "simulation", 0x800000, rc);
    if (!sim)
        startup_failure("Couldn't create simulation thread: %s", SDL_GetError());

    while (SDL_AtomicGet(&simulation_quit_flag) == 0) {
        draw_iteration(rc);
        janitor_tick();
    }
    SDL_WaitThread(sim, nullptr);
    draw_iteration(rc);
    renderstream_queue_scene(rc->current_scene);
    rc->current_scene = nullptr;

    int status = script_host_exit_status();
    engine_shutdown();
    exit(status);
}
