#include "multimedia_internal.h"

using DirectDrawCreateFunction = HRESULT(WINAPI*)(GUID*, IDirectDraw**, IUnknown*);

IDirectDraw2* directdraw_load()
{
    if (!multimedia().directdraw) {
        multimedia().directdraw_library = system_library_load("DDRAW.DLL");
        if (multimedia().directdraw_library) {
            auto create = reinterpret_cast<DirectDrawCreateFunction>(
                reinterpret_cast<void*>(::GetProcAddress(multimedia().directdraw_library, "DirectDrawCreate")));
            IDirectDraw* first = nullptr;
            if (create && SUCCEEDED(create(nullptr, &first, nullptr)) && first) {
                void* second = nullptr;
                if (FAILED(first->QueryInterface(IID_IDirectDraw2, &second))) second = nullptr;
                multimedia().directdraw = static_cast<IDirectDraw2*>(second);
                first->Release();
            }
            if (!multimedia().directdraw) {
                ::FreeLibrary(multimedia().directdraw_library);
                multimedia().directdraw_library = nullptr;
            }
        }
    }
    ++multimedia().directdraw_users;
    return multimedia().directdraw;
}

void directdraw_unload()
{
    --multimedia().directdraw_users;
    if (multimedia().directdraw && multimedia().directdraw_users == 0) {
        multimedia().directdraw->Release();
        ::FreeLibrary(multimedia().directdraw_library);
        multimedia().directdraw = nullptr;
        multimedia().directdraw_library = nullptr;
    }
}
