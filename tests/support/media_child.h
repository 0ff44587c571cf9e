// Child processes and platform probes for the multimedia base tests.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

// One run of this test program (or a copy of it) in a child process, limited
// to one test. Child-only tests are named DISABLED_* so that the normal run
// skips them; the child is told to run disabled tests.
struct MediaChild {
    std::string test;                     // "Suite.Name" of the test to run
    std::vector<std::string> environment; // "NAME=value", replacing inherited values
    std::string program;                  // empty: this program
    std::string directory;                // empty: the current directory
};

// The child's exit code (0 when its test passed), or -1 when it could not be
// started and -2 when it did not end within a minute.
int media_child_run(const MediaChild& child);

// The thread's cursor display count, left as it was.
int media_cursor_count();
// True when block is an allocated block of heap.
bool media_heap_holds(HANDLE heap, const void* block);
