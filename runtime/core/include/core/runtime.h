// The runtime core's one record: the main heap and the instance handle.
// Every service keeps its state so: one record, a file static in the .cpp that
// owns it, reached by the service's other files through `Record& name()` in
// the service's private header.
#pragma once
#include <windows.h>

#include <cstdarg>
#include <cstdint>

struct RuntimeBlock {
    HANDLE main_heap;   // every service's tables and blocks live here
    HINSTANCE instance; // window classes and windows are registered with it
};

// Clears the block and creates the main heap (HeapCreate(0, 4000, 0)).
// Returns false when the heap cannot be made; nothing may then use it.
bool runtime_start(HINSTANCE instance);

// Why something failed, for the user: "sondrel: " and the text as one line of
// debug output, which a debug-output viewer shows (the program prints
// nothing). Each library reports through a function of its own over this.
void runtime_report_args(const char* format, va_list args);
void core_report(const char* format, ...) __attribute__((format(printf, 1, 2)));

HANDLE main_heap();
HINSTANCE runtime_instance();

// Coordinates and sizes come from callers unchecked; keep their sums defined.
inline int32_t coord_add(int32_t a, int32_t b)
{
    int64_t sum = int64_t{a} + b;
    return sum > INT32_MAX ? INT32_MAX : sum < INT32_MIN ? INT32_MIN : static_cast<int32_t>(sum);
}
