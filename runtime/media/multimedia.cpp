#include "multimedia_internal.h"

#include "core/runtime.h"

static MultimediaState base;

MultimediaState& multimedia()
{
    return base;
}

void multimedia_report(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    runtime_report_args(format, args);
    va_end(args);
}

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
    base.blit_parameters = DDBLTFX{};
    base.blit_parameters.dwSize = sizeof(DDBLTFX);
    for (DDSURFACEDESC& description : base.surface_descriptions) {
        description = DDSURFACEDESC{};
        description.dwSize = sizeof(DDSURFACEDESC);
    }
    alpha_table_build(base.alpha_table);
    // Only display operations, which this system does not have, would grow it.
    table_init(&base.display_objects, sizeof(DisplayObject), DISPLAY_OBJECT_CAPACITY, 1);

    if (!base_window_create()) {
        multimedia_report("multimedia base off: no base window (error %lu)", ::GetLastError());
        return nullptr;
    }
    if (!keyboard_init()) {
        multimedia_report("multimedia base off: no keyboard through DirectInput");
        return nullptr;
    }
    base.initialised = true;

    if (!directdraw_load()) {
        multimedia_report("multimedia base off: DirectDraw not loaded");
        return nullptr;
    }
    base.recorded_base_window = base.display_window;
    return static_cast<DisplayObject*>(table_at(&base.display_objects, 0));
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
    if (base.initialised) {
        display_close();
        directdraw_unload();
    }
    interface_release(base.keyboard);
    interface_release(base.directinput);
    if (base.directinput_library) ::FreeLibrary(base.directinput_library);
    base.directinput_library = nullptr;
    base.directinput_users = 0;
    if (base.keyboard_format_table) ::HeapFree(main_heap(), 0, base.keyboard_format_table);
    base.keyboard_format_table = nullptr;
    base.keyboard_data_format = DIDATAFORMAT{};
    base.keyboard_state = 0;
    base.initialised = false;
}

void display_close()
{
    display_objects_free_all();
    if (base.directdraw) base.directdraw->SetCooperativeLevel(nullptr, DDSCL_NORMAL);
    for (IDirectDrawSurface*& surface : base.display_surfaces) interface_release(surface);
    for (IUnknown*& object : base.display_interfaces) interface_release(object);

    if (base.display_window) ::ShowCursor(TRUE);
    base.display_window = base.recorded_base_window;
    if (base.display_window) ::ShowWindow(base.display_window, SW_HIDE);
}
