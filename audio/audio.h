// Audio: sound sources over OpenAL and their per-tick reconciliation with
// the scripts' audio hash. A stand-in until the mixer lands.
#pragma once

int audio_init(void);
void audio_quit(void);
// Reconciles the runtime's audio state with the playing sources.
void audio_update_simulation_state(void);
