// The render thread's frame: hands polled events to the simulation, takes
// the queued scenes, draws the newest, presents and measures the frame rate.
#pragma once

struct render_context;
struct threadstream;

// Returns the number of superseded scenes drawn with commands only.
int draw_iteration(render_context *rc);
void draw_scene(render_context *rc, threadstream *scene, int commands_only, int replay);
