// Janitor: a small pool of background worker threads ("janitor1".."janitor4",
// sized by the CPU count, the last at low priority) that run queued jobs,
// plus a main-thread queue served by the main loop. Used above all to format
// and write published log lines off the simulation thread.
#pragma once

typedef void (*janitor_job_fn)(void *data);

// Queue targets.
#define JANITOR_TARGET_MAIN_THREAD (-3)
#define JANITOR_TARGET_LAST_WORKER (-1)
#define JANITOR_TARGET_SHARED 0

// 0 only when the main-thread queue cannot be made; a partial pool
// (possibly without workers) still returns 1.
int janitor_init(void);
// Same, with an explicit CPU count (tests).
int janitor_init_with_cpu_count(int cpu_count);
// Same, with an explicit number of workers, 0 to 4 (tests; 0 gives the
// pool without workers whose shared jobs run in janitor_tick).
int janitor_init_with_workers(int workers);
// 1 when queued; 0 when the queue is shutting down or out of memory.
int janitor_queue_job(janitor_job_fn fn, void *data, int target, int at_front);
// Main-thread service: runs the main-thread queue and, without workers, the
// shared queue. Does nothing off the main thread.
void janitor_tick(void);
void janitor_wait_until_idle(int target);
int janitor_thread_count(void);
// Number of workers for a given CPU count, and the 1-based worker whose
// queue a target resolves to (0 for the shared queue, -3 for the main
// thread queue); exposed for tests.
int janitor_workers_for_cpu_count(int cpu_count);
int janitor_resolve_target(int target);
void janitor_quit(void);
