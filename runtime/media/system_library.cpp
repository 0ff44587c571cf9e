#include "multimedia_internal.h"

#include <cstring>

HMODULE system_library_load(const char* name)
{
    // A bare name would be searched for in the program's folder and the
    // working directory first, where anyone could plant a DLL of that name.
    char path[MAX_PATH];
    UINT length = ::GetSystemDirectoryA(path, MAX_PATH);
    size_t name_length = std::strlen(name);
    if (length == 0 || length + 1 + name_length + 1 > MAX_PATH) {
        multimedia_report("cannot load %s: no system folder path for it", name);
        return nullptr;
    }
    path[length] = '\\';
    std::memcpy(path + length + 1, name, name_length + 1);
    // The altered search path resolves the DLL's own imports from the system
    // directory as well.
    HMODULE library = ::LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!library) multimedia_report("cannot load %s (error %lu)", path, ::GetLastError());
    return library;
}
