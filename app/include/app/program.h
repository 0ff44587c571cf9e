// Start and end of the whole program, around the application.
#pragma once
#include <windows.h>

// Clears the application's variables, makes the main heap and starts every
// service in the fixed order. False without a main heap: nothing may then run.
bool program_start(HINSTANCE instance);
[[noreturn]] void program_entry(); // module handle and command line to program_main
[[noreturn]] void program_main(HINSTANCE instance, HINSTANCE previous, char* command_line, int show);
[[noreturn]] void program_end(); // the fixed shutdown order, main heap destroyed, ExitProcess(0)
