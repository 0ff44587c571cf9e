#include "media_child.h"

#include "app_process.h"

int media_child_run(const MediaChild& child)
{
    Child process = start_child(child.program.empty() ? test_program_path() : child.program, child.directory,
                                child.environment, child_test_arguments(child.test), true);
    if (!process.started) return -1;
    long code = wait_child(process, 60000);
    if (!process.started) return static_cast<int>(code);
    kill_child(process);
    return -2;
}

int media_cursor_count()
{
    ::ShowCursor(TRUE);
    return ::ShowCursor(FALSE);
}

bool media_heap_holds(HANDLE heap, const void* block)
{
    PROCESS_HEAP_ENTRY entry{};
    bool found = false;
    while (!found && ::HeapWalk(heap, &entry))
        found = (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) && entry.lpData == block;
    return found;
}
