// Resource readings of another process, for the long-run benchmarks. Wine
// answers some of the usual calls with 0 for other processes, so each reading
// falls back to what Wine does expose; -1 means "cannot be read here".
#pragma once
#include <windows.h>

struct ProcessReadings {
    long gdi_objects = -1;
    long user_objects = -1;
    long handles = -1;
    long threads = -1;
    long long private_kib = -1; // private bytes, or resident anonymous memory under Wine
    double cpu_seconds = -1;    // user and kernel time so far
};

// program_name (for example "sondrel.exe") finds the process's Unix side
// under Wine when the Windows calls answer nothing.
ProcessReadings read_process(HANDLE process, DWORD process_id, const char* program_name);
