// Modal message boxes that disable every other window of the calling thread.
#pragma once
#include <cstdint>

void common_controls_init();
int32_t message_box(const char* title, const char* text);
int32_t message_box_flags(const char* title, const char* text, uint32_t flags);
