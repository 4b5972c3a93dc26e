// Stand-in audio module: nothing plays yet.
#include "audio/audio.h"

int audio_init(void) { return 1; }
void audio_quit(void) {}
void audio_update_simulation_state(void) {}
