// Placeholder until the stream player lands.
#include "player/stream_player.h"
static uint8_t capture[8192];
bool stream_open_file(const char*) { return false; }
bool stream_play() { return false; }
bool stream_close() { return false; }
void spectrum_init() {}
kiss_fft_cpx* spectrum_compute() { return nullptr; }
uint8_t* capture_buffer() { return capture; }
