#include "multimedia_internal.h"

#include "core/runtime.h"

MultimediaState multimedia;

int32_t alpha_entry(int i, int j)
{
    // 65280 = 255 * 256; the divisor runs from 255 (j = 255) to 65280 (j = 0).
    return i * 256 / (65280 / (j + 1));
}

void alpha_table_build(int32_t* table)
{
    for (int i = 0; i < ALPHA_SIZE; ++i)
        for (int j = 0; j < ALPHA_SIZE; ++j) table[i * ALPHA_SIZE + j] = alpha_entry(i, j);
}

DisplayObject* multimedia_init()
{
    multimedia.blit_parameters = DDBLTFX{};
    multimedia.blit_parameters.dwSize = sizeof(DDBLTFX);
    for (DDSURFACEDESC& description : multimedia.surface_descriptions) {
        description = DDSURFACEDESC{};
        description.dwSize = sizeof(DDSURFACEDESC);
    }
    alpha_table_build(multimedia.alpha_table);
    // Only display operations, which this system does not have, would grow it.
    table_init(&multimedia.display_objects, sizeof(DisplayObject), DISPLAY_OBJECT_CAPACITY, 1);

    if (!base_window_create()) return nullptr;
    if (!keyboard_init()) return nullptr;
    multimedia.initialised = true;

    if (!directdraw_load()) return nullptr;
    multimedia.recorded_base_window = multimedia.display_window;
    return static_cast<DisplayObject*>(multimedia.display_objects.records);
}

template <typename T>
static void interface_release(T*& object)
{
    if (object) object->Release();
    object = nullptr;
}

// The base's one release: what start-up made goes on every path, so that its
// record is as start-up found it. The base window stays, hidden, and a later
// start-up uses it again.
void multimedia_shutdown()
{
    if (multimedia.initialised) {
        display_close();
        directdraw_unload();
    }
    interface_release(multimedia.keyboard);
    interface_release(multimedia.directinput);
    if (multimedia.directinput_library) ::FreeLibrary(multimedia.directinput_library);
    multimedia.directinput_library = nullptr;
    multimedia.directinput_users = 0;
    if (multimedia.keyboard_format_table) ::HeapFree(main_heap(), 0, multimedia.keyboard_format_table);
    multimedia.keyboard_format_table = nullptr;
    multimedia.keyboard_data_format = DIDATAFORMAT{};
    multimedia.keyboard_state = 0;
    multimedia.initialised = false;
}

void display_close()
{
    display_objects_free_all();
    if (multimedia.directdraw) multimedia.directdraw->SetCooperativeLevel(nullptr, DDSCL_NORMAL);
    for (IDirectDrawSurface*& surface : multimedia.display_surfaces) interface_release(surface);
    for (IUnknown*& object : multimedia.display_interfaces) interface_release(object);

    if (multimedia.display_window) ::ShowCursor(TRUE);
    multimedia.display_window = multimedia.recorded_base_window;
    if (multimedia.display_window) ::ShowWindow(multimedia.display_window, SW_HIDE);
}
