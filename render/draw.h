// The render thread's frame: hands polled events to the simulation, takes
// the queued scenes, draws the newest, presents and measures the frame rate.
#pragma once

struct render_context;
struct threadstream;

// One frame. Returns the number of superseded scenes (drawn with commands
// only because a newer one was waiting behind them).
int draw_iteration(render_context *rc);

// Reads one scene stream from its start and executes it: grid, passes into
// the window, named render targets and the capture target, screenshots and
// the cursor and window commands. With commands_only the passes into the
// window are not drawn; with replay the commands with side effects (all but
// the grid and the window title) and screenshots are skipped. Reading stops
// at the first failed read or unknown top-level record.
void draw_scene(render_context *rc, threadstream *scene, int commands_only, int replay);
