// Event processing: turns the raw SDL events of an event stream into script
// event records and the runtime's input calls.
#pragma once

union SDL_Event;

// Builds and delivers the script event record of one raw event.
void events_process_raw(const SDL_Event *e);
