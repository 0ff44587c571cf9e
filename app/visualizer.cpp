// Placeholder until the visualizer lands.
#include "runtime/core/runtime.h"
#include "runtime/window/message_box.h"
#include "player/stream_player.h"
void application_reset() {}
void application_run()
{
    if (!stream_open_file("Orlenwade.ogg"))
        message_box("ov:Lib", "Couldn't open Orlenwade.ogg");
    stream_close();
    program_end();
}
