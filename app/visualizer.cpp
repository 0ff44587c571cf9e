#include "app/visualizer.h"

#include "player/stream_player.h"
#include "core/arrays.h"
#include "core/runtime.h"
#include "window/message_box.h"
#include "window/window.h"

const char* const MUSIC_FILE = "Orlenwade.ogg";
const char* const FAILURE_TITLE = "ov:Lib";
// Names the file the program actually tried to open.
const char* const FAILURE_TEXT = "Couldn't open Orlenwade.ogg";

static VisualizerState state;

VisualizerState& visualizer()
{
    return state;
}

void application_reset()
{
    state = VisualizerState{};
}

// Escape is down, or was pressed since the last test.
static bool escape_pressed()
{
    return ::GetAsyncKeyState(VK_ESCAPE) != 0;
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

void application_run()
{
    window_open(0, 0, 0, 1000, 600, 0xC80001, " Sondrel by Tavik");
    frame_images_create();

    // Working arrays of the frame loop; replaced each frame by the player's own
    // memory and left to the main heap at program end.
    array_free(state.spectrum);
    array_alloc(2048, 4, nullptr, reinterpret_cast<void**>(&state.spectrum), TYPE_FLOAT32);
    array_free(state.samples);
    array_alloc(2048, 1, nullptr, reinterpret_cast<void**>(&state.samples), TYPE_INT8);

    spectrum_init(); // before the stream opens, so that opening clears the capture

    if (stream_open_file(MUSIC_FILE)) {
        stream_play();
        while (frame_run()) {
        }
    } else {
        message_box(FAILURE_TITLE, FAILURE_TEXT);
    }
    stream_close();
    program_end();
}
