// Janitor job pool: sizing, queue targets, ordering, main-thread service
// and shutdown.
#include "engine/janitor.h"

#include <gtest/gtest.h>

#include <SDL.h>

#include <pthread.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

struct JanitorTest : ::testing::Test {
    void TearDown() override { janitor_quit(); }
};

std::string current_thread_name()
{
    char name[16] = {0};
    pthread_getname_np(pthread_self(), name, sizeof(name));
    return name;
}

TEST(JanitorTables, WorkersByCpuCount)
{
    const int cases[][2] = {{-1, 1}, {0, 1}, {1, 1}, {2, 1}, {4, 1}, {5, 2},
                            {6, 3},  {7, 4}, {8, 4}, {64, 4}};
    for (auto &c : cases) {
        EXPECT_EQ(janitor_workers_for_cpu_count(c[0]), c[1]) << c[0] << " cores";
    }
}

TEST_F(JanitorTest, PoolSizeFollowsCpuCount)
{
    for (int cpus : {2, 5, 6, 8}) {
        ASSERT_TRUE(janitor_init_with_cpu_count(cpus));
        EXPECT_EQ(janitor_thread_count(), janitor_workers_for_cpu_count(cpus));
        janitor_quit();
        EXPECT_EQ(janitor_thread_count(), 0);
    }
    ASSERT_TRUE(janitor_init());
    EXPECT_EQ(janitor_thread_count(), janitor_workers_for_cpu_count(SDL_GetCPUCount()));
}

TEST_F(JanitorTest, TargetsResolveToQueues)
{
    struct {
        int workers, target, queue;
    } cases[] = {
        {2, -3, -3}, {2, -1, 2}, {2, 0, 0}, {2, 1, 1},  {2, 2, 2},
        {2, 3, 0},   {2, 4, 0},  {2, -2, 0}, {2, 99, 0}, {2, SDL_MIN_SINT32, 0},
        {4, 4, 4},   {4, -1, 4}, {4, 5, 0},  {1, -1, 1}, {1, 2, 0},
        {0, -1, 0},  {0, 1, 0},  {0, -3, -3},
    };
    for (auto &c : cases) {
        ASSERT_TRUE(janitor_init_with_workers(c.workers));
        ASSERT_EQ(janitor_thread_count(), c.workers);
        EXPECT_EQ(janitor_resolve_target(c.target), c.queue)
            << "target " << c.target << " with " << c.workers << " workers";
        janitor_quit();
    }
}

struct WorkerInfo {
    std::string name;
    int nice;
};

void record_worker(void *data)
{
    WorkerInfo *info = (WorkerInfo *)data;
    info->name = current_thread_name();
    errno = 0;
    info->nice = getpriority(PRIO_PROCESS, (id_t)syscall(SYS_gettid));
}

TEST_F(JanitorTest, WorkersAreNamedAndTheLastRunsAtLowPriority)
{
    ASSERT_TRUE(janitor_init_with_cpu_count(6));
    ASSERT_EQ(janitor_thread_count(), 3);
    WorkerInfo info[3];
    for (int n = 1; n <= 3; n++) {
        ASSERT_TRUE(janitor_queue_job(record_worker, &info[n - 1], n, 0));
        janitor_wait_until_idle(n);
    }
    EXPECT_EQ(info[0].name, "janitor1");
    EXPECT_EQ(info[1].name, "janitor2");
    EXPECT_EQ(info[2].name, "janitor3");
    EXPECT_EQ(info[0].nice, info[1].nice);
    EXPECT_GT(info[2].nice, info[0].nice);
}

struct OrderLog {
    SDL_atomic_t next;
    SDL_atomic_t running;
    SDL_atomic_t overlaps;
    std::vector<int> order;
    std::vector<SDL_threadID> threads;
};

struct OrderJob {
    OrderLog *log;
    int index;
};

void ordered_job(void *data)
{
    OrderJob *job = (OrderJob *)data;
    OrderLog *log = job->log;
    if (SDL_AtomicAdd(&log->running, 1) != 0) {
        SDL_AtomicAdd(&log->overlaps, 1);
    }
    int slot = SDL_AtomicAdd(&log->next, 1);
    log->order[slot] = job->index;
    log->threads[slot] = SDL_ThreadID();
    if (job->index % 100 == 0) {
        SDL_Delay(1);
    }
    SDL_AtomicAdd(&log->running, -1);
}

TEST_F(JanitorTest, LastWorkerRunsItsJobsInOrderOneAtATime)
{
    const int count = 2000;
    ASSERT_TRUE(janitor_init_with_cpu_count(8));
    ASSERT_EQ(janitor_thread_count(), 4);
    OrderLog log = {};
    log.order.assign(count, -1);
    log.threads.assign(count, 0);
    std::vector<OrderJob> jobs(count);
    for (int i = 0; i < count; i++) {
        jobs[i] = {&log, i};
        ASSERT_TRUE(janitor_queue_job(ordered_job, &jobs[i], JANITOR_TARGET_LAST_WORKER, 0));
    }
    WorkerInfo info;
    ASSERT_TRUE(janitor_queue_job(record_worker, &info, JANITOR_TARGET_LAST_WORKER, 0));
    janitor_wait_until_idle(JANITOR_TARGET_LAST_WORKER);

    ASSERT_EQ(SDL_AtomicGet(&log.next), count);
    EXPECT_EQ(SDL_AtomicGet(&log.overlaps), 0);
    int out_of_order = 0, other_thread = 0;
    for (int i = 0; i < count; i++) {
        out_of_order += log.order[i] != i;
        other_thread += log.threads[i] != log.threads[0];
    }
    EXPECT_EQ(out_of_order, 0);
    EXPECT_EQ(other_thread, 0);
    EXPECT_NE(log.threads[0], SDL_ThreadID());
    EXPECT_EQ(info.name, "janitor4");
}

struct Counter {
    SDL_atomic_t runs;
    SDL_atomic_t on_main;
    SDL_threadID main_thread;
};

void count_job(void *data)
{
    Counter *c = (Counter *)data;
    SDL_AtomicAdd(&c->runs, 1);
    if (SDL_ThreadID() == c->main_thread) {
        SDL_AtomicAdd(&c->on_main, 1);
    }
}

TEST_F(JanitorTest, SharedJobsRunOnWorkers)
{
    ASSERT_TRUE(janitor_init_with_cpu_count(5));
    Counter c = {};
    c.main_thread = SDL_ThreadID();
    for (int i = 0; i < 500; i++) {
        ASSERT_TRUE(janitor_queue_job(count_job, &c, JANITOR_TARGET_SHARED, i % 2));
    }
    janitor_wait_until_idle(JANITOR_TARGET_SHARED);
    EXPECT_EQ(SDL_AtomicGet(&c.runs), 500);
    EXPECT_EQ(SDL_AtomicGet(&c.on_main), 0);
}

struct Gate {
    SDL_sem *started;
    SDL_sem *release;
};

void gate_job(void *data)
{
    Gate *g = (Gate *)data;
    SDL_SemPost(g->started);
    SDL_SemWait(g->release);
}

struct Signal {
    SDL_sem *done;
    WorkerInfo info;
};

void signal_job(void *data)
{
    Signal *s = (Signal *)data;
    record_worker(&s->info);
    SDL_SemPost(s->done);
}

TEST_F(JanitorTest, SharedJobWakesEveryWorker)
{
    // With all but one worker busy, a shared job must still reach the idle
    // one, whichever it is.
    const int workers = 3;
    for (int idle = 1; idle <= workers; idle++) {
        SCOPED_TRACE(testing::Message() << "idle worker " << idle);
        ASSERT_TRUE(janitor_init_with_workers(workers));
        Gate gate = {SDL_CreateSemaphore(0), SDL_CreateSemaphore(0)};
        for (int n = 1; n <= workers; n++) {
            if (n != idle) {
                ASSERT_TRUE(janitor_queue_job(gate_job, &gate, n, 0));
                ASSERT_EQ(SDL_SemWaitTimeout(gate.started, 10000), 0);
            }
        }
        Signal sig = {SDL_CreateSemaphore(0), {}};
        ASSERT_TRUE(janitor_queue_job(signal_job, &sig, JANITOR_TARGET_SHARED, 0));
        EXPECT_EQ(SDL_SemWaitTimeout(sig.done, 10000), 0);
        EXPECT_EQ(sig.info.name, "janitor" + std::to_string(idle));
        for (int n = 1; n < workers; n++) {
            SDL_SemPost(gate.release);
        }
        janitor_quit();
        SDL_DestroySemaphore(gate.started);
        SDL_DestroySemaphore(gate.release);
        SDL_DestroySemaphore(sig.done);
    }
}

struct MainLog {
    std::vector<char> order;
    SDL_threadID main_thread;
    int off_main;
};

struct MainJob {
    MainLog *log;
    char tag;
};

void main_job(void *data)
{
    MainJob *job = (MainJob *)data;
    job->log->order.push_back(job->tag);
    job->log->off_main += SDL_ThreadID() != job->log->main_thread;
}

void tick_from_worker(void *data)
{
    janitor_tick();
    SDL_SemPost((SDL_sem *)data);
}

TEST_F(JanitorTest, MainThreadJobsRunOnlyWhenTheMainThreadServices)
{
    ASSERT_TRUE(janitor_init_with_cpu_count(2));
    MainLog log = {{}, SDL_ThreadID(), 0};
    MainJob a = {&log, 'a'}, b = {&log, 'b'}, c = {&log, 'c'};
    ASSERT_TRUE(janitor_queue_job(main_job, &a, JANITOR_TARGET_MAIN_THREAD, 0));
    ASSERT_TRUE(janitor_queue_job(main_job, &b, JANITOR_TARGET_MAIN_THREAD, 0));
    ASSERT_TRUE(janitor_queue_job(main_job, &c, JANITOR_TARGET_MAIN_THREAD, 1));

    // A tick on another thread leaves them alone.
    SDL_sem *ticked = SDL_CreateSemaphore(0);
    ASSERT_TRUE(janitor_queue_job(tick_from_worker, ticked, JANITOR_TARGET_LAST_WORKER, 0));
    ASSERT_EQ(SDL_SemWaitTimeout(ticked, 10000), 0);
    SDL_DestroySemaphore(ticked);
    EXPECT_TRUE(log.order.empty());

    janitor_wait_until_idle(JANITOR_TARGET_MAIN_THREAD);
    EXPECT_EQ(std::string(log.order.begin(), log.order.end()), "cab");
    EXPECT_EQ(log.off_main, 0);

    janitor_tick();
    EXPECT_EQ(log.order.size(), 3u);
}

struct Relay {
    MainJob job;
};

void relay_to_main(void *data)
{
    Relay *r = (Relay *)data;
    janitor_queue_job(main_job, &r->job, JANITOR_TARGET_MAIN_THREAD, 0);
}

TEST_F(JanitorTest, WaitUntilIdleRunsMainThreadJobsQueuedByWorkers)
{
    ASSERT_TRUE(janitor_init_with_cpu_count(8));
    MainLog log = {{}, SDL_ThreadID(), 0};
    Relay relays[4] = {{{&log, '1'}}, {{&log, '2'}}, {{&log, '3'}}, {{&log, '4'}}};
    for (int n = 1; n <= 4; n++) {
        ASSERT_TRUE(janitor_queue_job(relay_to_main, &relays[n - 1], n, 0));
        janitor_wait_until_idle(n);
    }
    janitor_wait_until_idle(JANITOR_TARGET_MAIN_THREAD);
    EXPECT_EQ(std::string(log.order.begin(), log.order.end()), "1234");
    EXPECT_EQ(log.off_main, 0);
}

TEST_F(JanitorTest, PoolWithoutWorkersRunsSharedJobsInTick)
{
    ASSERT_TRUE(janitor_init_with_workers(0));
    EXPECT_EQ(janitor_thread_count(), 0);
    MainLog log = {{}, SDL_ThreadID(), 0};
    MainJob jobs[] = {{&log, 's'}, {&log, 'l'}, {&log, 'x'}, {&log, 'm'}};
    ASSERT_TRUE(janitor_queue_job(main_job, &jobs[0], JANITOR_TARGET_SHARED, 0));
    ASSERT_TRUE(janitor_queue_job(main_job, &jobs[1], JANITOR_TARGET_LAST_WORKER, 0));
    ASSERT_TRUE(janitor_queue_job(main_job, &jobs[2], 3, 0));
    ASSERT_TRUE(janitor_queue_job(main_job, &jobs[3], JANITOR_TARGET_MAIN_THREAD, 0));
    EXPECT_TRUE(log.order.empty());
    janitor_tick();
    EXPECT_EQ(std::string(log.order.begin(), log.order.end()), "mslx");
    EXPECT_EQ(log.off_main, 0);
}

struct QuitProbe {
    SDL_sem *release;
    SDL_atomic_t shared_result;
    SDL_atomic_t worker_shared_result;
    SDL_atomic_t worker_jobs;
};

void probe_on_main(void *data)
{
    QuitProbe *p = (QuitProbe *)data;
    Counter unused = {};
    SDL_AtomicSet(&p->shared_result, janitor_queue_job(count_job, &unused, JANITOR_TARGET_SHARED, 0));
    SDL_SemPost(p->release);
}

void probe_on_worker(void *data)
{
    QuitProbe *p = (QuitProbe *)data;
    SDL_SemWait(p->release);
    Counter unused = {};
    SDL_AtomicSet(&p->worker_shared_result,
                  janitor_queue_job(count_job, &unused, JANITOR_TARGET_SHARED, 0));
}

void slow_worker_job(void *data)
{
    QuitProbe *p = (QuitProbe *)data;
    SDL_Delay(5);
    SDL_AtomicAdd(&p->worker_jobs, 1);
}

TEST_F(JanitorTest, QuitRefusesNewJobsAndFinishesAcceptedOnes)
{
    ASSERT_TRUE(janitor_init_with_cpu_count(2));
    ASSERT_EQ(janitor_thread_count(), 1);
    QuitProbe p = {};
    p.release = SDL_CreateSemaphore(0);
    SDL_AtomicSet(&p.shared_result, -1);
    SDL_AtomicSet(&p.worker_shared_result, -1);
    Counter shared = {};
    shared.main_thread = SDL_ThreadID();

    // The worker blocks until the main-thread job, run inside janitor_quit,
    // releases it; everything queued before quit must still run.
    ASSERT_TRUE(janitor_queue_job(probe_on_worker, &p, JANITOR_TARGET_LAST_WORKER, 0));
    for (int i = 0; i < 5; i++) {
        ASSERT_TRUE(janitor_queue_job(slow_worker_job, &p, JANITOR_TARGET_LAST_WORKER, 0));
    }
    for (int i = 0; i < 10; i++) {
        ASSERT_TRUE(janitor_queue_job(count_job, &shared, JANITOR_TARGET_SHARED, 0));
    }
    ASSERT_TRUE(janitor_queue_job(probe_on_main, &p, JANITOR_TARGET_MAIN_THREAD, 0));
    janitor_quit();

    EXPECT_EQ(SDL_AtomicGet(&p.shared_result), 0);
    EXPECT_EQ(SDL_AtomicGet(&p.worker_shared_result), 0);
    EXPECT_EQ(SDL_AtomicGet(&p.worker_jobs), 5);
    EXPECT_EQ(SDL_AtomicGet(&shared.runs), 10);
    EXPECT_EQ(janitor_thread_count(), 0);

    // A stopped pool accepts nothing and waits for nothing.
    for (int target : {-3, -1, 0, 1}) {
        EXPECT_FALSE(janitor_queue_job(count_job, &shared, target, 0)) << target;
        janitor_wait_until_idle(target);
    }
    janitor_tick();
    SDL_DestroySemaphore(p.release);
}

// Allocation failure on demand: SDL's allocator is wrapped, and the
// wrappers refuse while the flag is set.
SDL_atomic_t refuse_allocations;
SDL_malloc_func real_malloc;
SDL_calloc_func real_calloc;
SDL_realloc_func real_realloc;
SDL_free_func real_free;

void *SDLCALL failing_malloc(size_t n)
{
    return SDL_AtomicGet(&refuse_allocations) ? nullptr : real_malloc(n);
}

void *SDLCALL failing_calloc(size_t n, size_t size)
{
    return SDL_AtomicGet(&refuse_allocations) ? nullptr : real_calloc(n, size);
}

void *SDLCALL failing_realloc(void *p, size_t n)
{
    return SDL_AtomicGet(&refuse_allocations) ? nullptr : real_realloc(p, n);
}

void SDLCALL forwarding_free(void *p)
{
    real_free(p);
}

TEST_F(JanitorTest, QuitEndsWorkersWhenTheQuitJobCannotBeQueued)
{
    ASSERT_TRUE(janitor_init_with_cpu_count(8));
    ASSERT_EQ(janitor_thread_count(), 4);
    // Let every worker settle into its idle wait first.
    Counter c = {};
    for (int n = 1; n <= 4; n++) {
        ASSERT_TRUE(janitor_queue_job(count_job, &c, n, 0));
        janitor_wait_until_idle(n);
    }
    ASSERT_EQ(SDL_AtomicGet(&c.runs), 4);

    SDL_GetMemoryFunctions(&real_malloc, &real_calloc, &real_realloc, &real_free);
    ASSERT_EQ(SDL_SetMemoryFunctions(failing_malloc, failing_calloc, failing_realloc, forwarding_free), 0);
    SDL_AtomicSet(&refuse_allocations, 1);
    EXPECT_FALSE(janitor_queue_job(count_job, &c, JANITOR_TARGET_SHARED, 0));
    EXPECT_FALSE(janitor_queue_job(count_job, &c, 2, 0));
    janitor_quit();
    SDL_AtomicSet(&refuse_allocations, 0);
    SDL_SetMemoryFunctions(real_malloc, real_calloc, real_realloc, real_free);

    EXPECT_EQ(janitor_thread_count(), 0);
    EXPECT_EQ(SDL_AtomicGet(&c.runs), 4);
    // The pool starts again normally afterwards.
    ASSERT_TRUE(janitor_init_with_cpu_count(5));
    ASSERT_TRUE(janitor_queue_job(count_job, &c, JANITOR_TARGET_LAST_WORKER, 0));
    janitor_wait_until_idle(JANITOR_TARGET_LAST_WORKER);
    EXPECT_EQ(SDL_AtomicGet(&c.runs), 5);
}

TEST_F(JanitorTest, RefusesJobsWithoutFunctionOrPool)
{
    EXPECT_FALSE(janitor_queue_job(count_job, nullptr, JANITOR_TARGET_SHARED, 0));
    janitor_tick();
    ASSERT_TRUE(janitor_init_with_cpu_count(2));
    EXPECT_FALSE(janitor_queue_job(nullptr, nullptr, JANITOR_TARGET_SHARED, 0));
    EXPECT_FALSE(janitor_queue_job(nullptr, nullptr, JANITOR_TARGET_MAIN_THREAD, 0));
}

}  // namespace
