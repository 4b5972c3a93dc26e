// The 60 Hz pacing over a fake clock: steady cadence, sleeping versus
// spinning, stalls followed by back-to-back steps, the wake reset and the
// first-step delay.
#include <gtest/gtest.h>

#include <vector>

#include "engine/schedule.h"

namespace {

const Uint64 FREQ = 1000000;   // one counter tick per microsecond
const Uint64 PERIOD = FREQ / 60;

struct fake {
    Uint64 t = 5000000;
    Uint64 per_read = 10;      // every counter read costs 10 us of spinning
    unsigned delays = 0;
    std::vector<Uint64> starts;
    std::vector<Uint64> durations;   // per step index; missing means 0
    int steps_wanted = 60;
    int wake_after_step = -1;
    SDL_atomic_t *wake = nullptr;
};

Uint64 fake_now(void *ctx)
{
    fake *f = (fake *)ctx;
    f->t += f->per_read;
    return f->t;
}

void fake_delay(void *ctx, Uint32 ms)
{
    fake *f = (fake *)ctx;
    f->delays++;
    f->t += ms * 1000 + 60;   // sleeps overshoot a little, as real ones do
}

int fake_step(void *ctx)
{
    fake *f = (fake *)ctx;
    size_t i = f->starts.size();
    f->starts.push_back(f->t);
    if (i < f->durations.size())
        f->t += f->durations[i];
    if ((int)i == f->wake_after_step)
        SDL_AtomicSet(f->wake, 1);
    return (int)f->starts.size() < f->steps_wanted;
}


void run(fake &f, int first_flag = 0)
{
    sim_clock clock = {fake_now, fake_delay, &f};
    SDL_atomic_t quit, first, wake;
    SDL_AtomicSet(&quit, 0);
    SDL_AtomicSet(&first, first_flag);
    SDL_AtomicSet(&wake, 0);
    f.wake = &wake;
    sim_schedule_run(&clock, FREQ, fake_step, &f, &quit, &first, &wake);
    EXPECT_EQ(SDL_AtomicGet(&first), 0);
}

}  // namespace

TEST(Schedule, StepsFollowTheSixtyHertzGridClosely)
{
    fake f;
    run(f);
    ASSERT_EQ(f.starts.size(), 60u);
    for (size_t i = 1; i < f.starts.size(); i++) {
        Uint64 due = f.starts[0] + i * PERIOD;
        EXPECT_GE(f.starts[i], due) << "step " << i << " started early";
        EXPECT_LT(f.starts[i], due + 50) << "step " << i << " started late";
    }
    // Sleeps cover all but the last 1-2 ms of each period; the rest is spun.
    EXPECT_GE(f.delays, 59u * 13);
    EXPECT_LE(f.delays, 59u * 16);
}

TEST(Schedule, FirstStepWaitsOneMillisecond)
{
    fake f;
    f.steps_wanted = 2;
    Uint64 t0 = f.t;
    run(f, 1);
    EXPECT_GE(f.starts[0] - t0, 1000u);
    EXPECT_LT(f.starts[0] - t0, 1200u);
}

TEST(Schedule, StallIsFollowedByBackToBackStepsAndNoStepIsSkipped)
{
    fake f;
    f.durations.assign(11, 0);
    f.durations[10] = 100000;   // step 10 takes 100 ms
    run(f);
    ASSERT_EQ(f.starts.size(), 60u);
    // The six steps due during the stall run at once, one after the other.
    for (size_t i = 11; i <= 15; i++)
        EXPECT_LT(f.starts[i + 1] - f.starts[i], 100u) << "step " << i + 1 << " waited";
    // Then the original grid is met again: all 60 steps fit in 60 periods.
    for (size_t i = 17; i < 60; i++) {
        Uint64 due = f.starts[0] + i * PERIOD;
        EXPECT_GE(f.starts[i], due);
        EXPECT_LT(f.starts[i], due + 50);
    }
}

TEST(Schedule, WakeRunsOneStepAtOnceAndRestartsTheGridFromThere)
{
    fake f;
    f.durations.assign(6, 0);
    f.durations[5] = 500000;   // half a second in the background
    f.wake_after_step = 5;
    run(f);
    Uint64 woke_at = f.starts[5] + 500000;
    EXPECT_LT(f.starts[6] - woke_at, 100u) << "the step after waking must run at once";
    // No catch-up burst: the following steps are one period apart again.
    for (size_t i = 7; i < 20; i++) {
        Uint64 gap = f.starts[i] - f.starts[i - 1];
        EXPECT_GE(gap, PERIOD - 1000 - 50) << "step " << i;
        EXPECT_LT(gap, PERIOD + 50) << "step " << i;
    }
}

TEST(Schedule, StopsWhenTheStepAsksTo)
{
    fake f;
    f.steps_wanted = 3;
    run(f);
    EXPECT_EQ(f.starts.size(), 3u);
}
