#include "core/runtime.h"

static RuntimeBlock runtime;

bool runtime_start(HINSTANCE instance)
{
    runtime = RuntimeBlock{};
    runtime.instance = instance;
    // Serialised (the player's worker may free CRT memory at the same time as
    // the main thread allocates) and growable: no options, no maximum.
    runtime.main_heap = ::HeapCreate(0, 4000, 0);
    if (!runtime.main_heap) core_report("no main heap (error %lu)", ::GetLastError());
    return runtime.main_heap != nullptr;
}

HANDLE main_heap()
{
    return runtime.main_heap;
}
HINSTANCE runtime_instance()
{
    return runtime.instance;
}
