// The multimedia base after a normal start-up, in this process: the hidden
// base window, the keyboard, DirectDraw and the display object table.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "media_child.h"
#include "table_census.h"
#include "service_start.h"
#include "multimedia_internal.h"

namespace {

const char BASE_CLASS[] = "MultimediaBase Class";

bool is_base_window(HWND window)
{
    char name[64] = "";
    ::GetClassNameA(window, name, sizeof(name));
    return std::string(name) == BASE_CLASS;
}

// Watches every message sent to a base window of this thread, from before its
// creation on, for anything that would show it.
HHOOK watch_hook;
int base_window_shows;

LRESULT CALLBACK watch_messages(int code, WPARAM wparam, LPARAM lparam)
{
    if (code == HC_ACTION) {
        const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lparam);
        if (is_base_window(sent->hwnd)) {
            if (sent->message == WM_SHOWWINDOW && sent->wParam) ++base_window_shows;
            if (sent->message == WM_WINDOWPOSCHANGING &&
                (reinterpret_cast<const WINDOWPOS*>(sent->lParam)->flags & SWP_SHOWWINDOW))
                ++base_window_shows;
        }
    }
    return ::CallNextHookEx(watch_hook, code, wparam, lparam);
}

BOOL CALLBACK count_base_windows(HWND window, LPARAM count)
{
    if (is_base_window(window)) ++*reinterpret_cast<int*>(count);
    return TRUE;
}

int base_windows_of_thread()
{
    int count = 0;
    ::EnumThreadWindows(::GetCurrentThreadId(), count_base_windows, reinterpret_cast<LPARAM>(&count));
    return count;
}

void pump_messages()
{
    MSG message;
    while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&message);
        ::DispatchMessageA(&message);
    }
}

bool in_system_directory(HMODULE module)
{
    char system[MAX_PATH], path[MAX_PATH];
    UINT length = ::GetSystemDirectoryA(system, MAX_PATH);
    DWORD path_length = ::GetModuleFileNameA(module, path, MAX_PATH);
    return length > 0 && path_length > length &&
           ::CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, system, length, path, length) == CSTR_EQUAL &&
           path[length] == '\\';
}

// A COM object that records the order of its releases.
struct Recorded : IUnknown {
    int id;
    std::vector<int>* releases;
    Recorded(int id, std::vector<int>* releases) : id(id), releases(releases) {}
    virtual ~Recorded() = default;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override
    {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        releases->push_back(id);
        return 1;
    }
};

void* heap_block()
{
    return ::HeapAlloc(main_heap(), 0, 32);
}

DisplayObject* dynamic_object(void* object, int16_t kind, void* extra)
{
    auto* record = static_cast<DisplayObject*>(table_claim(&multimedia().display_objects, -1));
    record->object = object;
    record->kind = kind;
    record->extra = extra;
    return record;
}

class MultimediaBase : public testing::Test {
protected:
    static DisplayObject* table;

    static void SetUpTestSuite()
    {
        ASSERT_TRUE(services_start<START_CORE>());
        watch_hook = ::SetWindowsHookExA(WH_CALLWNDPROC, watch_messages, nullptr, ::GetCurrentThreadId());
        table = multimedia_init();
    }
    static void TearDownTestSuite()
    {
        if (watch_hook) ::UnhookWindowsHookEx(watch_hook);
    }
    void TearDown() override
    {
        EXPECT_FALSE(::IsWindowVisible(multimedia().display_window)) << "the base window became visible";
    }
};
DisplayObject* MultimediaBase::table;

TEST_F(MultimediaBase, StartUpBuildsEverything)
{
    ASSERT_NE(table, nullptr) << "multimedia_init failed";
    EXPECT_TRUE(multimedia().initialised);

    HWND base = multimedia().display_window;
    ASSERT_TRUE(::IsWindow(base));
    EXPECT_EQ(multimedia().base_window_created, 1);
    EXPECT_EQ(multimedia().recorded_base_window, base);
    EXPECT_TRUE(is_base_window(base));
    LONG style = ::GetWindowLongA(base, GWL_STYLE);
    EXPECT_EQ(style & WS_VISIBLE, 0);
    EXPECT_EQ(style & (WS_POPUP | WS_CAPTION | WS_SYSMENU), LONG(WS_POPUP | WS_CAPTION | WS_SYSMENU));

    EXPECT_NE(multimedia().directinput, nullptr);
    EXPECT_EQ(multimedia().directinput_users, 1);
    EXPECT_NE(multimedia().keyboard, nullptr);
    EXPECT_EQ(multimedia().keyboard_state, 1);
    ASSERT_NE(multimedia().keyboard_format_table, nullptr);
    EXPECT_EQ(multimedia().keyboard_data_format.rgodf, multimedia().keyboard_format_table);
    EXPECT_EQ(multimedia().keyboard_format_table[255].dwType, 0x8000FF0Cu);

    EXPECT_NE(multimedia().directdraw, nullptr);
    EXPECT_EQ(multimedia().directdraw_users, 1);
    EXPECT_TRUE(in_system_directory(multimedia().directdraw_library));
    EXPECT_TRUE(in_system_directory(multimedia().directinput_library));

    EXPECT_EQ(multimedia().blit_parameters.dwSize, sizeof(DDBLTFX));
    for (const DDSURFACEDESC& description : multimedia().surface_descriptions)
        EXPECT_EQ(description.dwSize, sizeof(DDSURFACEDESC));
    EXPECT_EQ(multimedia().alpha_table[255 * ALPHA_SIZE + 255], 256);
    EXPECT_EQ(multimedia().alpha_table[100 * ALPHA_SIZE + 200], 79);
}

TEST_F(MultimediaBase, TableHasFiftyFreeSlots)
{
    ASSERT_NE(table, nullptr);
    EXPECT_GE(::HeapSize(main_heap(), 0, table), 50 * sizeof(DisplayObject));
    EXPECT_TRUE(table_is_number(&multimedia().display_objects, 49) &&
                !table_is_number(&multimedia().display_objects, 50));
    for (int slot = 0; slot < 50; ++slot) {
        EXPECT_EQ(table[slot].object, nullptr) << "slot " << slot;
        EXPECT_EQ(table[slot].extra, nullptr) << "slot " << slot;
    }
    EXPECT_EQ(table_dynamic_records(&multimedia().display_objects), 0);
}

TEST_F(MultimediaBase, SecondBaseWindowCreateMakesNothing)
{
    HWND base = multimedia().display_window;
    ASSERT_EQ(base_windows_of_thread(), 1);
    EXPECT_EQ(base_window_create(), 1);
    EXPECT_EQ(base_windows_of_thread(), 1);
    EXPECT_EQ(multimedia().display_window, base);
}

TEST_F(MultimediaBase, WindowAnswersWithoutPainting)
{
    HWND base = multimedia().display_window;
    ASSERT_TRUE(::IsWindow(base));
    // A 1 x 1 window has no client area to paint into; widen it, still hidden.
    ASSERT_TRUE(::SetWindowPos(base, nullptr, 0, 0, 200, 200, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE));
    RECT client;
    ::GetClientRect(base, &client);
    ASSERT_GT(client.bottom, 20);

    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    HBITMAP bitmap = ::CreateCompatibleBitmap(screen, 200, 200);
    ::ReleaseDC(nullptr, screen);
    HGDIOBJ old = ::SelectObject(memory, bitmap);
    ::PatBlt(memory, 0, 0, 200, 200, WHITENESS);

    EXPECT_EQ(::SendMessageA(base, WM_ERASEBKGND, reinterpret_cast<WPARAM>(memory), 0), 1);
    EXPECT_EQ(::GetPixel(memory, 10, 10), RGB(255, 255, 255)) << "the background was erased";
    // The class brush is black: the default handling would have painted it.
    ::DefWindowProcA(base, WM_ERASEBKGND, reinterpret_cast<WPARAM>(memory), 0);
    EXPECT_EQ(::GetPixel(memory, 10, 10), RGB(0, 0, 0)) << "the default erase did not paint: this check proves nothing";

    ::SelectObject(memory, old);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);

    EXPECT_EQ(::SendMessageA(base, WM_ACTIVATE, WA_ACTIVE, 0), 0);
    EXPECT_NE(::GetFocus(), base) << "activation took the focus";

    // A hidden window has nothing to validate; the program end scenario
    // checks that painting validates the shown window.
    EXPECT_EQ(::SendMessageA(base, WM_PAINT, 0, 0), 1);

    ::SetWindowPos(base, nullptr, 0, 0, 1, 1, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    pump_messages();
}

TEST_F(MultimediaBase, FreeAllSweepsDynamicObjectsThenSlots)
{
    ASSERT_NE(table, nullptr);
    std::vector<int> releases;
    Recorded first(1, &releases), second(2, &releases), slot0(10, &releases), slot49(49, &releases);
    std::vector<void*> blocks;
    auto block = [&] {
        blocks.push_back(heap_block());
        return blocks.back();
    };

    dynamic_object(&first, 0, block());
    dynamic_object(&second, 5, nullptr);
    dynamic_object(block(), OBJECT_KIND_MEMORY, block()); // the list's head
    table[0] = DisplayObject{&slot0, 0, 1, 0, block(), 0};
    table[7] = DisplayObject{block(), 0, OBJECT_KIND_MEMORY, 0, block(), 0};
    table[49] = DisplayObject{&slot49, 0, 0, 0, nullptr, 0};
    for (void* each : blocks) ASSERT_TRUE(media_heap_holds(main_heap(), each));

    display_objects_free_all();

    EXPECT_EQ(releases, (std::vector<int>{2, 1, 10, 49})) << "expected the list from its head, then slots ascending";
    for (size_t n = 0; n < blocks.size(); ++n)
        EXPECT_FALSE(media_heap_holds(main_heap(), blocks[n])) << "block " << n << " was not freed";
    EXPECT_EQ(table_dynamic_records(&multimedia().display_objects), 0) << "expected every dynamic object unlinked";
    for (int slot = 0; slot < DISPLAY_OBJECT_CAPACITY; ++slot) {
        EXPECT_EQ(table[slot].object, nullptr) << "slot " << slot;
        EXPECT_EQ(table[slot].extra, nullptr) << "slot " << slot;
    }

    // Freed slots stay free: a second sweep releases nothing.
    display_objects_free_all();
    EXPECT_EQ(releases.size(), 4u);
}

TEST_F(MultimediaBase, FreeActsOnlyOnKnownIdentifiers)
{
    ASSERT_NE(table, nullptr);
    std::vector<int> releases;
    Recorded kept(1, &releases), freed(2, &releases), stranger(3, &releases), numbered(4, &releases);
    DisplayObject* keep = dynamic_object(&kept, 0, nullptr);
    DisplayObject* drop = dynamic_object(&freed, 0, heap_block());
    DisplayObject outside{&stranger, 0, 0, 0, nullptr, 0};
    table[0] = DisplayObject{&numbered, 0, 0, 0, nullptr, 0};

    display_object_free(reinterpret_cast<intptr_t>(&outside));
    display_object_free(-1);
    display_object_free(50);
    EXPECT_TRUE(releases.empty()) << "an unknown identifier freed something";

    display_object_free(reinterpret_cast<intptr_t>(drop));
    EXPECT_EQ(releases, (std::vector<int>{2}));
    EXPECT_EQ(display_object_find(reinterpret_cast<intptr_t>(drop)), nullptr);
    EXPECT_EQ(display_object_find(reinterpret_cast<intptr_t>(keep)), keep);
    EXPECT_EQ(table_dynamic_records(&multimedia().display_objects), 1) << "expected only the freed object unlinked";

    display_object_free(0);
    display_object_free(0);
    EXPECT_EQ(releases, (std::vector<int>{2, 4})) << "a freed slot was released twice";

    display_objects_free_all();
    EXPECT_EQ(releases, (std::vector<int>{2, 4, 1}));
}

TEST_F(MultimediaBase, BaseWindowIsNeverShown)
{
    pump_messages();
    EXPECT_EQ(base_window_shows, 0) << "something asked to show the base window";
    EXPECT_FALSE(::IsWindowVisible(multimedia().display_window));
}

} // namespace
