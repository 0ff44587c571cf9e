#include "app/visualizer.h"
#include "app/program.h"
#include "player/stream_player.h"
#include "core/arrays.h"
#include "window/message_box.h"
#include "window/window.h"

static const char* const MUSIC_FILE = "Orlenwade.ogg";
static const char* const FAILURE_TITLE = "ov:Lib";
// Names the file the program actually tried to open.
static const char* const FAILURE_TEXT = "Couldn't open Orlenwade.ogg";

static VisualizerState state;

VisualizerState& visualizer()
{
    return state;
}

// Escape is down, or was pressed since the last test, while our window is in
// front. The key state is the whole desktop's, so Escape that closes a dialog
// of another program must not end this one; the state is read every frame all
// the same, so that such a press is spent and not acted on later.
static bool escape_pressed()
{
    const bool pressed = ::GetAsyncKeyState(VK_ESCAPE) != 0;
    return pressed && state.window && ::GetForegroundWindow() == state.window;
}

bool frame_run()
{
    state.spectrum = reinterpret_cast<float*>(spectrum_compute());
    state.samples = reinterpret_cast<int8_t*>(capture_buffer());
    frame_draw();
    delay_ms(10);
    // The exit test comes last, so the frame in which the user asks to quit is
    // still drawn whole. Every event but the close request is ignored.
    return !(window_event() == EVENT_CLOSE || escape_pressed());
}

void application_start()
{
    state.window = reinterpret_cast<HWND>(window_open(
        0, 0, 0, FRAME_WIDTH, FRAME_HEIGHT, WS_CAPTION | WS_SYSMENU | WINDOW_CENTRE_SCREEN, " Sondrel by Tavik"));
    frame_images_create();

    // Working arrays of the frame loop; replaced each frame by the player's own
    // memory and left to the main heap at program end.
    array_free(state.spectrum);
    array_alloc(SPECTRUM_POINTS, 4, nullptr, reinterpret_cast<void**>(&state.spectrum), TYPE_FLOAT32);
    array_free(state.samples);
    array_alloc(SPECTRUM_POINTS, 1, nullptr, reinterpret_cast<void**>(&state.samples), TYPE_INT8);

    spectrum_init(); // before the stream opens, so that opening clears the capture
}

void application_run()
{
    application_start();
    if (stream_open_file(MUSIC_FILE)) {
        stream_play();
        while (frame_run()) {
        }
    } else {
        message_box(FAILURE_TITLE, FAILURE_TEXT);
    }
    stream_close();
    // A file that opened the device but was refused leaves it open; a process
    // that ends with a sound device open can die on its way out (seen under
    // Wine on a busy machine).
    sound_device_close();
    program_end();
}
