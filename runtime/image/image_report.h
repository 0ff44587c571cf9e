// Inside the image runtime only: why an image or a decoder was refused.
#pragma once

// Writes "sondrel: " and the formatted text as one line of debug output, the
// only place a user (with a debug-output viewer) can learn the cause.
void image_report(const char* format, ...) __attribute__((format(printf, 1, 2)));
