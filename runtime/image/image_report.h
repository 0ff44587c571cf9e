// Inside the image runtime only: why an image or a decoder was refused.
#pragma once

// The image runtime's "sondrel: " line of debug output (runtime_report_args).
void image_report(const char* format, ...) __attribute__((format(printf, 1, 2)));
