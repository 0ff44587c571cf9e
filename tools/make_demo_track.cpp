// Writes the demo music file: about a minute of synthesised music as Ogg Vorbis.
//   make_demo_track [path (Orlenwade.ogg)] [seconds (60)]
#include "tools/oggsynth.h"

#include <cstdlib>

int main(int argc, char** argv)
{
    const char* path = argc > 1 ? argv[1] : "Orlenwade.ogg";
    const double seconds = argc > 2 && std::atof(argv[2]) > 0 ? std::atof(argv[2]) : 60.0;
    Bytes ogg = ogg_encode(pcm_demo_music(44100, seconds), 2, 44100, 0.4f);
    if (ogg.empty() || !write_file(path, ogg)) return 1;
    return 0;
}
