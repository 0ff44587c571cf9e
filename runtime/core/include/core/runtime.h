// The runtime core's one record: the main heap and the instance handle.
#pragma once
#include <windows.h>

struct RuntimeBlock {
    HANDLE main_heap;   // every service's tables and blocks live here
    HINSTANCE instance; // window classes and windows are registered with it
};

// Clears the block and creates the main heap (HeapCreate(0, 4000, 0)).
// Returns false when the heap cannot be made; nothing may then use it.
bool runtime_start(HINSTANCE instance);

HANDLE main_heap();
HINSTANCE runtime_instance();
