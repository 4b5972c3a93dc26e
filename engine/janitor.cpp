// Janitor job pool: up to four worker threads, each with its own job queue,
// one shared queue that every worker serves when its own is empty, and a
// main-thread queue run by janitor_tick. Depends only on SDL (threads,
// mutexes, semaphores, atomics, allocator).
#include "engine/janitor.h"

#include <SDL.h>

#define JANITOR_MAX_WORKERS 4

struct janitor_job {
    janitor_job_fn fn;
    void *data;
    janitor_job *next;
};

struct janitor_queue {
    SDL_atomic_t quit;      // set under mutex; no job is accepted afterwards
    SDL_Thread *thread;     // none for the shared and main-thread queues
    int priority;
    janitor_job *head;
    janitor_job *tail;
    SDL_atomic_t pending;   // queued and not yet finished
    SDL_mutex *mutex;
    SDL_sem *semaphore;     // none for the shared and main-thread queues
};

static janitor_queue main_queue;
// Index 0 is the shared queue, 1..4 the workers' own queues.
static janitor_queue queues[JANITOR_MAX_WORKERS + 1];
static int worker_count;
static SDL_threadID main_thread;

int janitor_workers_for_cpu_count(int cpu_count)
{
    if (cpu_count <= 4) {
        return 1;
    }
    if (cpu_count >= 7) {
        return 4;
    }
    return cpu_count - 3;
}

int janitor_resolve_target(int target)
{
    if (target == JANITOR_TARGET_MAIN_THREAD) {
        return JANITOR_TARGET_MAIN_THREAD;
    }
    if (target == JANITOR_TARGET_LAST_WORKER) {
        return worker_count;
    }
    if (target >= 1 && target <= worker_count) {
        return target;
    }
    return JANITOR_TARGET_SHARED;
}

static janitor_queue *janitor_queue_for(int target)
{
    int resolved = janitor_resolve_target(target);
    return resolved == JANITOR_TARGET_MAIN_THREAD ? &main_queue : &queues[resolved];
}

static void janitor_set_quit(janitor_queue *q)
{
    SDL_LockMutex(q->mutex);
    SDL_AtomicSet(&q->quit, 1);
    SDL_UnlockMutex(q->mutex);
}

static janitor_job *janitor_take(janitor_queue *q)
{
    SDL_LockMutex(q->mutex);
    janitor_job *job = q->head;
    if (job) {
        q->head = job->next;
        if (!q->head) {
            q->tail = NULL;
        }
    }
    SDL_UnlockMutex(q->mutex);
    return job;
}

static janitor_job *janitor_take_all(janitor_queue *q)
{
    SDL_LockMutex(q->mutex);
    janitor_job *job = q->head;
    q->head = NULL;
    q->tail = NULL;
    SDL_UnlockMutex(q->mutex);
    return job;
}

// The count drops under the queue's mutex, and janitor_pending reads it
// under the same mutex: a waiter that sees the queue idle then also sees
// everything its jobs wrote, in a way that thread checkers can follow.
static void janitor_run(janitor_queue *from, janitor_job *job)
{
    job->fn(job->data);
    SDL_free(job);
    SDL_LockMutex(from->mutex);
    SDL_AtomicAdd(&from->pending, -1);
    SDL_UnlockMutex(from->mutex);
}

static int janitor_pending(janitor_queue *q)
{
    SDL_LockMutex(q->mutex);
    int pending = SDL_AtomicGet(&q->pending);
    SDL_UnlockMutex(q->mutex);
    return pending;
}

static void janitor_run_all(janitor_queue *q)
{
    janitor_job *job = janitor_take_all(q);
    while (job) {
        janitor_job *next = job->next;
        janitor_run(q, job);
        job = next;
    }
}

static void janitor_drop_all(janitor_queue *q)
{
    janitor_job *job = janitor_take_all(q);
    while (job) {
        janitor_job *next = job->next;
        SDL_free(job);
        job = next;
    }
}

static int janitor_on_main_thread(void)
{
    return main_queue.mutex && SDL_ThreadID() == main_thread;
}

static void janitor_service(void)
{
    if (!janitor_on_main_thread()) {
        return;
    }
    janitor_run_all(&main_queue);
    if (worker_count == 0 && queues[0].mutex) {
        janitor_run_all(&queues[0]);
    }
}

// A worker finishes its own queue before it ends: once its quit flag is up
// nothing more is accepted, so that drain is bounded.
static int SDLCALL janitor_worker(void *arg)
{
    janitor_queue *own = (janitor_queue *)arg;
    janitor_queue *shared = &queues[0];
    if (own->priority != SDL_THREAD_PRIORITY_NORMAL) {
        SDL_SetThreadPriority((SDL_ThreadPriority)own->priority);
    }
    for (;;) {
        janitor_queue *from = own;
        janitor_job *job = janitor_take(own);
        if (!job) {
            if (SDL_AtomicGet(&own->quit)) {
                break;
            }
            from = shared;
            job = janitor_take(shared);
        }
        if (!job) {
            SDL_SemWait(own->semaphore);
            continue;
        }
        janitor_run(from, job);
    }
    return 0;
}

static void janitor_quit_job(void *data)
{
    janitor_set_quit((janitor_queue *)data);
}

static void janitor_destroy_queue(janitor_queue *q)
{
    if (q->mutex) {
        SDL_DestroyMutex(q->mutex);
    }
    if (q->semaphore) {
        SDL_DestroySemaphore(q->semaphore);
    }
    SDL_zerop(q);
}

int janitor_init(void)
{
    return janitor_init_with_cpu_count(SDL_GetCPUCount());
}

int janitor_init_with_cpu_count(int cpu_count)
{
    return janitor_init_with_workers(janitor_workers_for_cpu_count(cpu_count));
}

int janitor_init_with_workers(int workers)
{
    if (main_queue.mutex) {
        return 1;
    }
    SDL_zero(main_queue);
    SDL_zero(queues);
    worker_count = 0;
    main_queue.priority = SDL_THREAD_PRIORITY_NORMAL;
    main_thread = SDL_ThreadID();

    main_queue.mutex = SDL_CreateMutex();
    if (!main_queue.mutex) {
        return 0;
    }
    janitor_queue *shared = &queues[0];
    shared->priority = SDL_THREAD_PRIORITY_NORMAL;
    shared->mutex = SDL_CreateMutex();
    if (!shared->mutex) {
        return 1;
    }

    if (workers > JANITOR_MAX_WORKERS) {
        workers = JANITOR_MAX_WORKERS;
    }
    for (int n = 1; n <= workers; n++) {
        janitor_queue *q = &queues[n];
        q->priority = n == workers ? SDL_THREAD_PRIORITY_LOW : SDL_THREAD_PRIORITY_NORMAL;
        q->mutex = SDL_CreateMutex();
        q->semaphore = SDL_CreateSemaphore(0);
        if (!q->mutex || !q->semaphore) {
            janitor_destroy_queue(q);
            break;
        }
        char name[16];
        SDL_snprintf(name, sizeof(name), "janitor%d", n);
        q->thread = SDL_CreateThread(janitor_worker, name, q);
        if (!q->thread) {
            janitor_destroy_queue(q);
            break;
        }
        worker_count = n;
    }
    return 1;
}

int janitor_queue_job(janitor_job_fn fn, void *data, int target, int at_front)
{
    if (!fn) {
        SDL_InvalidParamError("fn");
        return 0;
    }
    janitor_queue *q = janitor_queue_for(target);
    if (!q->mutex) {
        SDL_SetError("Janitor queue is not running");
        return 0;
    }
    if (SDL_AtomicGet(&q->quit)) {
        SDL_SetError("Janitor queue is shutting down");
        return 0;
    }
    janitor_job *job = (janitor_job *)SDL_malloc(sizeof(*job));
    if (!job) {
        SDL_OutOfMemory();
        return 0;
    }
    job->fn = fn;
    job->data = data;
    job->next = NULL;

    SDL_LockMutex(q->mutex);
    if (SDL_AtomicGet(&q->quit)) {
        SDL_UnlockMutex(q->mutex);
        SDL_free(job);
        SDL_SetError("Janitor queue is shutting down");
        return 0;
    }
    if (at_front) {
        job->next = q->head;
        q->head = job;
        if (!q->tail) {
            q->tail = job;
        }
    } else {
        if (q->tail) {
            q->tail->next = job;
        } else {
            q->head = job;
        }
        q->tail = job;
    }
    SDL_AtomicAdd(&q->pending, 1);
    SDL_UnlockMutex(q->mutex);

    if (q == &queues[0]) {
        for (int n = 1; n <= worker_count; n++) {
            SDL_SemPost(queues[n].semaphore);
        }
    } else if (q->semaphore) {
        SDL_SemPost(q->semaphore);
    }
    return 1;
}

void janitor_tick(void)
{
    janitor_service();
}

void janitor_wait_until_idle(int target)
{
    janitor_queue *q = janitor_queue_for(target);
    if (!q->mutex) {
        return;
    }
    janitor_service();
    while (janitor_pending(q) >= 1) {
        SDL_Delay(30);
        janitor_service();
    }
}

int janitor_thread_count(void)
{
    return worker_count;
}

void janitor_quit(void)
{
    if (!main_queue.mutex) {
        return;
    }
    janitor_queue *shared = &queues[0];
    if (shared->mutex) {
        janitor_set_quit(shared);
    }
    janitor_service();

    for (int n = 1; n <= worker_count; n++) {
        janitor_queue *q = &queues[n];
        if (!janitor_queue_job(janitor_quit_job, q, n, 0)) {
            // The quit job could not be queued (out of memory): raise the
            // flag directly and wake the worker so that it still ends.
            janitor_set_quit(q);
            SDL_SemPost(q->semaphore);
        }
        SDL_WaitThread(q->thread, NULL);
        q->thread = NULL;
    }

    // Every worker has ended. Work accepted before the queues closed still
    // runs, here on the calling thread; main-thread jobs only on the main
    // thread.
    janitor_set_quit(&main_queue);
    int on_main = janitor_on_main_thread();
    for (int n = 0; n <= worker_count; n++) {
        if (queues[n].mutex) {
            janitor_set_quit(&queues[n]);
            janitor_run_all(&queues[n]);
        }
    }
    if (on_main) {
        janitor_run_all(&main_queue);
    } else {
        janitor_drop_all(&main_queue);
    }

    for (int n = 0; n <= JANITOR_MAX_WORKERS; n++) {
        janitor_destroy_queue(&queues[n]);
    }
    janitor_destroy_queue(&main_queue);
    worker_count = 0;
    main_thread = 0;
}
