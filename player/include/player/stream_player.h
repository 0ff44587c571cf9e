// One Ogg Vorbis stream played through a looping, double-buffered DirectSound
// buffer kept filled by a refill worker; capture and spectrum of what it plays.
#pragma once
#include <windows.h>
#include <cstdint>

#include "kiss_fft.h"

bool sound_device_open(const GUID* device);
bool stream_open_file(const char* path);
bool stream_open_memory(const void* base, uint32_t size);
bool stream_play();
bool stream_close();
// Releases a device that no stream holds, such as the one a failed open
// leaves; false when there is none or a stream still plays through it.
bool sound_device_close();

void spectrum_init();
// The 1025 bins (bin 0 zeroed), or null when capture is not enabled.
kiss_fft_cpx* spectrum_compute();
// The capture array: 2048 stereo frames of 16-bit PCM.
uint8_t* capture_buffer();
// Frame `index` (0 to 2047) of the capture array, left sample in the low 16
// bits. The refill worker rewrites frames while music plays: a frame read
// through here is always whole.
uint32_t capture_frame(int index);
