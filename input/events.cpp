// Stand-in event processing: events are not yet delivered to scripts.
#include "input/events.h"

void events_process_raw(const SDL_Event *) {}
