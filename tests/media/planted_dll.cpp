// Stands in for a DLL that someone left beside the program or its data files.
// It only announces that it was loaded, by setting the event named
// "<SONDREL_PLANTED_EVENT>.<PLANTED_NAME>"; one build per planted name.
#include <windows.h>

#include <cstring>

#ifndef PLANTED_NAME
#error "PLANTED_NAME names the DLL this build stands in for"
#endif
static_assert(sizeof(PLANTED_NAME) <= 32, "the event name has room for 31 characters");

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        char name[160];
        DWORD length = ::GetEnvironmentVariableA("SONDREL_PLANTED_EVENT", name, 128);
        if (length > 0 && length < 128) {
            name[length] = '.';
            std::strcpy(name + length + 1, PLANTED_NAME);
            HANDLE event = ::OpenEventA(EVENT_MODIFY_STATE, FALSE, name);
            if (event) {
                ::SetEvent(event);
                ::CloseHandle(event);
            }
        }
    }
    return TRUE;
}
