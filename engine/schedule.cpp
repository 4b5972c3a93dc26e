// Simulation pacing: one step every 1/60 s of the performance counter,
// sleeping in 1 ms slices while at least 2 ms remain and spinning for the
// rest, so steps start within a fraction of a millisecond of their slot.
// Depends on SDL's counter and atomics only, through an injectable clock.
#include "engine/schedule.h"

static Uint64 sdl_now(void *) { return SDL_GetPerformanceCounter(); }
static void sdl_delay(void *, Uint32 ms) { SDL_Delay(ms); }

const sim_clock sim_clock_sdl = {sdl_now, sdl_delay, nullptr};

void sim_schedule_init(sim_schedule *s, Uint64 frequency, Uint64 now)
{
    s->ms = frequency / 1000;
    s->period = frequency / 60;
    s->next = now;
}

void sim_schedule_advance(sim_schedule *s, Uint64 now, int woke)
{
    if (woke)
        s->next = now - s->ms;
    else
        s->next += s->period;
}

// Signed distance so a schedule that fell behind reads as "due" rather than
// wrapping around to a huge wait.
static Sint64 ticks_left(const sim_schedule *s, Uint64 now) { return (Sint64)(s->next - now); }

void sim_schedule_wait(const sim_schedule *s, const sim_clock *clock)
{
    Uint64 now = clock->now(clock->ctx);
    if (ticks_left(s, now) < 1)
        return;
    while (ticks_left(s, now) - (Sint64)s->ms >= (Sint64)s->ms) {
        clock->delay_ms(clock->ctx, 1);
        now = clock->now(clock->ctx);
    }
    while (ticks_left(s, now) >= 1)
        now = clock->now(clock->ctx);
}

void sim_schedule_run(const sim_clock *clock, Uint64 frequency, int (*step)(void *), void *step_ctx,
                      SDL_atomic_t *quit_flag, SDL_atomic_t *first_flag, SDL_atomic_t *wake_flag)
{
    sim_schedule s;
    sim_schedule_init(&s, frequency, clock->now(clock->ctx));
    while (SDL_AtomicGet(quit_flag) == 0) {
        if (SDL_AtomicCAS(first_flag, 1, 0))
            clock->delay_ms(clock->ctx, 1);
        if (!step(step_ctx))
            break;
        int woke = SDL_AtomicCAS(wake_flag, 1, 0);
        sim_schedule_advance(&s, clock->now(clock->ctx), woke);
        sim_schedule_wait(&s, clock);
    }
}
