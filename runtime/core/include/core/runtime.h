// The runtime core's one record, the main heap and program start and end.
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

// Process entry: fetches the module handle and command line, runs program_main.
[[noreturn]] void program_entry();
// Start-up in the fixed service order, then the application.
[[noreturn]] void program_main(HINSTANCE instance, HINSTANCE previous, char* command_line, int show);
// Shutdown in the fixed order, main heap destroyed, ExitProcess(0).
[[noreturn]] void program_end();

// Supplied by the application: clear its variables, then run it (it ends in program_end).
void application_reset();
void application_run();
