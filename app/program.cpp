// The one place that knows every service: start-up and end in their fixed orders.
#include "app/program.h"
#include "app/visualizer.h"
#include "core/object_heap.h"
#include "core/runtime.h"
#include "core/strings.h"
#include "image/decoders.h"
#include "image/drawing.h"
#include "image/image.h"
#include "media/multimedia.h"
#include "window/message_box.h"
#include "window/window.h"

void program_entry()
{
    program_main(::GetModuleHandleA(nullptr), nullptr, ::GetCommandLineA(), SW_SHOWDEFAULT); // command line unused
}

bool program_start(HINSTANCE instance)
{
    visualizer() = VisualizerState{};
    if (!runtime_start(instance)) return false;

    // The order matters: the object heap exists before any service keeps
    // dynamic objects, the decoder table is empty before decoders register,
    // and the PNG decoder registers first so it is tried first.
    drawing_init();
    decoders_init();
    object_heap_create();
    images_init();
    common_controls_init();
    windows_init();
    picture_init();
    string_buffer_init();
    multimedia_init();
    png_decoder_register();
    picture_decoder_register();
    return true;
}

void program_main(HINSTANCE instance, HINSTANCE, char*, int)
{
    // Without the main heap no service can keep its tables: end quietly, as
    // the program always does, rather than go on with a null heap.
    if (!program_start(instance)) ::ExitProcess(0);
    application_run(); // ends in program_end on every path
}

void program_end()
{
    picture_shutdown();
    windows_close_all();
    multimedia_shutdown();
    images_free_all();
    object_heap_destroy();
    ::HeapDestroy(main_heap());
    ::ExitProcess(0);
}
