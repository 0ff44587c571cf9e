// The multimedia base's state record and its internal operations. Only the
// base itself and its tests include this; other services use multimedia.h.
#pragma once
#ifndef DIRECTINPUT_VERSION
// Asked of DirectInputCreateA too: the structures here are laid out for it.
#define DIRECTINPUT_VERSION 0x0300
#endif
#include <windows.h>
#include <ddraw.h>
#include <dinput.h>
#include <cstdint>

#include "core/numbered_table.h"
#include "media/multimedia.h"

constexpr int16_t OBJECT_KIND_MEMORY = -2;
constexpr int32_t DISPLAY_OBJECT_CAPACITY = 50;
constexpr int ALPHA_SIZE = 256;
constexpr int KEYBOARD_KEYS = 256;

// One slot of the display object table. The reserved fields belong to the
// display operations that build on the base.
struct DisplayObject {
    void* object; // a COM interface, or a main-heap block for OBJECT_KIND_MEMORY; null: free
    uint32_t reserved_a;
    int16_t kind;
    uint16_t reserved_b;
    void* extra; // a main-heap block the object owns, or null
    uint64_t reserved_c;
};

#ifndef _WIN64
static_assert(sizeof(DisplayObject) == 24, "a display object slot is 24 bytes");
static_assert(sizeof(DIOBJECTDATAFORMAT) == 16, "keyboard format entries are 16 bytes");
static_assert(sizeof(DIDATAFORMAT) == 24, "the data format record is 24 bytes");
static_assert(sizeof(DDBLTFX) == 100, "blit parameters are 100 bytes");
static_assert(sizeof(DDSURFACEDESC) == 108, "surface descriptions are 108 bytes");
#endif

struct MultimediaState {
    bool initialised;        // multimedia_shutdown acts only when set
    int base_window_created; // 1 once the base window exists
    HWND display_window;
    HWND recorded_base_window; // what display_close restores; set once DirectDraw is loaded

    IDirectDraw2* directdraw;
    HMODULE directdraw_library;
    int32_t directdraw_users;

    IDirectInputA* directinput;
    HMODULE directinput_library;
    int32_t directinput_users;
    IDirectInputDeviceA* keyboard;
    int16_t keyboard_state; // 1 once the data format is set
    DIOBJECTDATAFORMAT* keyboard_format_table;
    DIDATAFORMAT keyboard_data_format;

    // Belong to an open display; nothing in this program opens one.
    IDirectDrawSurface* display_surfaces[2];
    IUnknown* display_interfaces[3];

    DDBLTFX blit_parameters;
    DDSURFACEDESC surface_descriptions[3];

    NumberedTable display_objects; // DISPLAY_OBJECT_CAPACITY slots and the dynamic display objects

    int32_t alpha_table[ALPHA_SIZE * ALPHA_SIZE]; // row i, column j at i * 256 + j
};

MultimediaState& multimedia();
// The multimedia base's "sondrel: " line of debug output (runtime_report_args).
void multimedia_report(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Entry (i, j) approximates i * (j + 1) / 255; only (255, 255) exceeds 255.
int32_t alpha_entry(int i, int j);
void alpha_table_build(int32_t* table); // ALPHA_SIZE * ALPHA_SIZE entries

// The layout of the standard 256-byte keyboard state, one entry per key.
void keyboard_format_fill(DIOBJECTDATAFORMAT* table, const GUID* key_guid); // KEYBOARD_KEYS entries
void keyboard_data_format_fill(DIDATAFORMAT* format, DIOBJECTDATAFORMAT* table);

// Loads a DLL from the system directory only, never from the program's folder
// or the working directory.
HMODULE system_library_load(const char* name);

int base_window_create();
LRESULT CALLBACK base_window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
int keyboard_init();
IDirectInputA* directinput_load();
IDirectDraw2* directdraw_load();
void directdraw_unload();
void display_close();

// A slot number (0 to capacity - 1) or the address of a dynamic display
// object whose object is set; null for anything else.
DisplayObject* display_object_find(intptr_t id);
void display_objects_free_all();
void display_object_free(intptr_t id);
