// Run with no sound server reachable: a real machine without a sound device.
#include <gtest/gtest.h>

#include "debug_lines.h"
#include "player_fixture.h"

TEST(NoSoundDevice, OpeningFailsAndClosesTheFile)
{
    const char* path = "music without a device.ogg";
    ASSERT_TRUE(write_file(path, sine_ogg(2, 44100, 5000)));
    DebugLines debug;
    EXPECT_FALSE(sound_device_open(nullptr));
    EXPECT_FALSE(stream_open_file(path));
    EXPECT_TRUE(debug.contains("sondrel: no sound device (DirectSoundCreate: 0x")) << debug.all();
    EXPECT_FALSE(stream_player().sound.device_open);
    EXPECT_FALSE(stream_player().stream.stream_open);
    EXPECT_TRUE(::DeleteFileA(path)) << "the file was closed again";
    EXPECT_FALSE(stream_play());
    EXPECT_FALSE(stream_close());
}
