#include "multimedia_internal.h"

#include "core/runtime.h"

using DirectInputCreateFunction = HRESULT(WINAPI*)(HINSTANCE, DWORD, IDirectInputA**, IUnknown*);

IDirectInputA* directinput_load()
{
    if (!multimedia().directinput) {
        // One reference to the library is enough, however often creation fails.
        if (!multimedia().directinput_library) multimedia().directinput_library = system_library_load("DINPUT.DLL");
        if (multimedia().directinput_library) {
            auto create = reinterpret_cast<DirectInputCreateFunction>(
                reinterpret_cast<void*>(::GetProcAddress(multimedia().directinput_library, "DirectInputCreateA")));
            if (create && create(runtime_instance(), DIRECTINPUT_VERSION, &multimedia().directinput, nullptr) != DI_OK)
                multimedia().directinput = nullptr;
        }
    }
    ++multimedia().directinput_users;
    return multimedia().directinput;
}

void keyboard_format_fill(DIOBJECTDATAFORMAT* table, const GUID* key_guid)
{
    for (int key = 0; key < KEYBOARD_KEYS; ++key) {
        table[key].pguid = key_guid;
        table[key].dwOfs = key;
        table[key].dwType = DIDFT_OPTIONAL | DIDFT_BUTTON | DIDFT_MAKEINSTANCE(key);
        table[key].dwFlags = 0;
    }
}

void keyboard_data_format_fill(DIDATAFORMAT* format, DIOBJECTDATAFORMAT* table)
{
    format->dwSize = sizeof(DIDATAFORMAT);
    format->dwObjSize = sizeof(DIOBJECTDATAFORMAT);
    format->dwFlags = DIDF_RELAXIS;
    format->dwDataSize = KEYBOARD_KEYS; // one byte per key
    format->dwNumObjs = KEYBOARD_KEYS;
    format->rgodf = table;
}

int keyboard_init()
{
    if (!directinput_load()) return 0;
    if (multimedia().directinput->CreateDevice(GUID_SysKeyboard, &multimedia().keyboard, nullptr) != DI_OK) {
        multimedia().keyboard = nullptr;
        return 0;
    }

    multimedia().keyboard_format_table =
        static_cast<DIOBJECTDATAFORMAT*>(::HeapAlloc(main_heap(), 0, KEYBOARD_KEYS * sizeof(DIOBJECTDATAFORMAT)));
    if (!multimedia().keyboard_format_table) return 0;
    keyboard_format_fill(multimedia().keyboard_format_table, &GUID_Key);
    keyboard_data_format_fill(&multimedia().keyboard_data_format, multimedia().keyboard_format_table);

    if (multimedia().keyboard->SetDataFormat(&multimedia().keyboard_data_format) != DI_OK) return 0;
    multimedia().keyboard_state = 1;
    return 1;
}
