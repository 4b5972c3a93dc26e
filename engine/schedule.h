// The simulation thread's 60 Hz pacing on the performance counter, written
// against an injectable clock so the schedule can be tested without time
// passing.
#pragma once

#include <SDL.h>

struct sim_clock {
    Uint64 (*now)(void *ctx);          // performance counter
    void (*delay_ms)(void *ctx, Uint32 ms);
    void *ctx;
};

struct sim_schedule {
    Uint64 ms;      // counter ticks per millisecond
    Uint64 period;  // counter ticks per step (1/60 s)
    Uint64 next;    // counter value at which the next step is due
};

void sim_schedule_init(sim_schedule *s, Uint64 frequency, Uint64 now);
// After a step: due time of the next one. woke restarts the schedule from
// now, so the next step runs at once and no catch-up burst follows.
void sim_schedule_advance(sim_schedule *s, Uint64 now, int woke);
// Sleeps in 1 ms slices until less than 2 ms remain, then spins until due.
// Returns at once when the step is already due (after a stall the steps run
// back to back until the schedule is met).
void sim_schedule_wait(const sim_schedule *s, const sim_clock *clock);

// The whole pacing loop: waits 1 ms before the very first step, runs
// step(step_ctx) on schedule until it returns 0 or *quit_flag is set.
// first_flag and wake_flag are the process atomics of the same meaning.
void sim_schedule_run(const sim_clock *clock, Uint64 frequency, int (*step)(void *), void *step_ctx,
                      SDL_atomic_t *quit_flag, SDL_atomic_t *first_flag, SDL_atomic_t *wake_flag);

// The real clock: SDL's performance counter and SDL_Delay.
extern const sim_clock sim_clock_sdl;
