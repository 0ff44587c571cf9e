// Writes the demo music file: about a minute of synthesised music as Ogg Vorbis.
#include "tools/oggsynth.h"

int main(int argc, char** argv)
{
    const char* path = argc > 1 ? argv[1] : "Orlenwade.ogg";
    Bytes ogg = ogg_encode(pcm_demo_music(44100, 60.0), 2, 44100, 0.4f);
    if (ogg.empty() || !write_file(path, ogg)) return 1;
    return 0;
}
