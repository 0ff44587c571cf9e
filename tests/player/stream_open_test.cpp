// Opening streams on the real sound device: buffer formats and failures.
#include <gtest/gtest.h>

#include <string>

#include "player_fixture.h"
#include "app_process.h"
#include "debug_lines.h"

[[maybe_unused]] static const bool is_child = foreground_child_requested();

namespace {

// Whether every handle on the file has been closed: an exclusive open fails
// while the player still holds it.
bool file_closed(const char* path)
{
    HANDLE h = ::CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(h);
    return true;
}

// The stream with the rate in its identification header replaced.
Bytes with_rate(const Bytes& ogg, uint32_t rate)
{
    int serial = 0;
    std::vector<OggPacket> packets = ogg_packets(ogg, &serial);
    for (int b = 0; b < 4; b++) packets[0].data[12 + size_t(b)] = uint8_t(rate >> (8 * b));
    return ogg_from_packets(packets, serial);
}

// Brings `window` to the front, answering this thread's messages meanwhile.
bool bring_to_front(HWND window)
{
    for (int i = 0; i < 500 && window; i++) {
        if (::GetForegroundWindow() == window) return true;
        ::SetForegroundWindow(window);
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&msg);
        ::Sleep(10);
    }
    return false;
}

// Leaves no device behind for the next test.
void release_device()
{
    StreamPlayer& p = stream_player();
    if (p.stream.stream_open) stream_close();
    if (p.sound.device) p.sound.device->Release();
    p.sound.device = nullptr;
    p.sound.device_open = false;
}

} // namespace

TEST(StreamOpen, BufferFollowsTheStreamFormat)
{
    struct Case {
        int channels, rate;
        DWORD byte_rate;
    } cases[] = {{2, 44100, 176400}, {1, 22050, 44100}, {6, 48000, 576000}, {3, 11025, 66150}, {2, 96000, 384000}};
    for (const Case& c : cases) {
        Bytes ogg = sine_ogg(c.channels, c.rate, 5000);
        ASSERT_TRUE(open_memory_stream(ogg)) << c.channels << " channels at " << c.rate << " Hz";
        StreamPlayer& p = stream_player();
        WAVEFORMATEX format = {};
        ASSERT_EQ(p.stream.buffer->GetFormat(&format, sizeof format, nullptr), DS_OK);
        EXPECT_EQ(format.wFormatTag, WAVE_FORMAT_PCM);
        EXPECT_EQ(format.nChannels, c.channels);
        EXPECT_EQ(format.nSamplesPerSec, DWORD(c.rate));
        EXPECT_EQ(format.nAvgBytesPerSec, c.byte_rate);
        EXPECT_EQ(format.nBlockAlign, c.channels * 2);
        EXPECT_EQ(format.wBitsPerSample, 16);
        DSBCAPS caps = {};
        caps.dwSize = sizeof caps;
        p.stream.buffer->GetCaps(&caps);
        // The device keeps whole frames: at most one frame more than asked.
        EXPECT_GE(caps.dwBufferBytes, BUFFER_BYTES);
        EXPECT_LT(caps.dwBufferBytes, BUFFER_BYTES + format.nBlockAlign);
        EXPECT_EQ(caps.dwBufferBytes % format.nBlockAlign, 0u) << "frames restart at offset 0 on every cycle";
        void* region = nullptr;
        DWORD length = 0;
        ASSERT_EQ(p.stream.buffer->Lock(0, 0, &region, &length, nullptr, nullptr, DSBLOCK_ENTIREBUFFER), DS_OK);
        EXPECT_EQ(Bytes(static_cast<uint8_t*>(region), static_cast<uint8_t*>(region) + length), Bytes(length, 0));
        p.stream.buffer->Unlock(region, length, nullptr, 0);
        EXPECT_TRUE(stream_close());
        EXPECT_FALSE(p.sound.device_open);
    }
}

TEST(StreamOpen, OneStreamAtATime)
{
    Bytes ogg = sine_ogg(2, 44100, 5000);
    ASSERT_TRUE(open_memory_stream(ogg));
    EXPECT_FALSE(stream_open_memory(ogg.data(), uint32_t(ogg.size()))) << "the open stream must be closed first";
    EXPECT_FALSE(sound_device_open(nullptr)) << "the open stream's buffer stays";
    EXPECT_FALSE(sound_device_close()) << "the open stream's device stays";
    EXPECT_TRUE(stream_player().sound.device_open);
    EXPECT_TRUE(stream_player().stream.stream_open);
    EXPECT_TRUE(stream_close());
    EXPECT_FALSE(stream_close()) << "nothing left to close";
    EXPECT_FALSE(stream_play());
}

TEST(StreamOpen, MissingFileFailsBeforeAnyDevice)
{
    release_device();
    DebugLines debug;
    EXPECT_FALSE(stream_open_file("no such music.ogg"));
    EXPECT_FALSE(stream_player().sound.device_open);
    EXPECT_TRUE(debug.contains("sondrel: no such music.ogg: cannot open the file: No such file")) << debug.all();
}

TEST(StreamOpen, ForeignDataLeavesTheDeviceAndNoStream)
{
    release_device();
    const char* path = "not music.ogg";
    ASSERT_TRUE(write_file(path, Bytes(20000, 'x')));
    DebugLines debug;
    EXPECT_FALSE(stream_open_file(path));
    EXPECT_TRUE(debug.contains("sondrel: not music.ogg: not Ogg Vorbis\n")) << debug.all();
    EXPECT_TRUE(stream_player().sound.device_open);
    EXPECT_FALSE(stream_player().stream.stream_open);
    EXPECT_TRUE(file_closed(path)) << "a refused file is closed";
    EXPECT_FALSE(stream_close());
    EXPECT_FALSE(stream_open_memory(nullptr, 0)) << "an empty block";
    // The program ends through this: no sound device may outlive it.
    EXPECT_TRUE(sound_device_close()) << "the device the refused file left";
    EXPECT_FALSE(stream_player().sound.device_open);
    EXPECT_EQ(stream_player().sound.device, nullptr);
    EXPECT_FALSE(sound_device_close()) << "nothing left to release";
    release_device();
    ::DeleteFileA(path);
}

TEST(StreamOpen, FailedBufferReleasesTheDecoder)
{
    release_device();
    // A byte rate beyond 32 bits cannot describe a buffer.
    Bytes ogg = with_rate(sine_ogg(2, 44100, 5000), 0x7FFFFFFF);
    const char* path = "unplayable rate.ogg";
    ASSERT_TRUE(write_file(path, ogg));
    EXPECT_FALSE(stream_open_file(path));
    EXPECT_TRUE(stream_player().sound.device_open);
    EXPECT_TRUE(file_closed(path)) << "the decoder took the file and must close it";
    EXPECT_FALSE(stream_open_memory(ogg.data(), uint32_t(ogg.size())));
    EXPECT_EQ(stream_player().stream.decoder.datasource, nullptr) << "the decoder was cleared";
    EXPECT_FALSE(stream_close());

    // Without a device the decoder opens but no buffer can be made.
    release_device();
    Bytes good = sine_ogg(2, 44100, 5000);
    EXPECT_FALSE(stream_open_memory(good.data(), uint32_t(good.size())));
    EXPECT_EQ(stream_player().stream.decoder.datasource, nullptr);
    ::DeleteFileA(path);
}

TEST(StreamOpen, OpeningClearsTheCapture)
{
    spectrum_init();
    Bytes marker(2048, 0x33);
    capture_store(marker.data(), 2048);
    Bytes ogg = sine_ogg(2, 44100, 5000);
    ASSERT_TRUE(open_memory_stream(ogg));
    EXPECT_EQ(Bytes(capture_buffer(), capture_buffer() + 8192), Bytes(8192, 0)) << "the buffer starts silent";
    kiss_fft_cpx* bins = spectrum_compute();
    ASSERT_NE(bins, nullptr);
    for (int k = 0; k < 1025; k++) ASSERT_TRUE(bins[k].r == 0 && bins[k].i == 0) << "bin " << k;
    EXPECT_TRUE(stream_close());
}

// The device is bound to a window of this program even when the user has put
// another program in front during start-up.
TEST(StreamOpen, DeviceWindowIsTheProgramsOwn)
{
    release_device();
    HWND ours = ::CreateWindowExA(0, "STATIC", "ours", WS_POPUP | WS_VISIBLE | WS_BORDER, 100, 100, 200, 100, nullptr,
                                  nullptr, nullptr, nullptr);
    ASSERT_TRUE(bring_to_front(ours));
    ASSERT_TRUE(sound_device_open(nullptr));
    EXPECT_EQ(stream_player().sound.device_window, ours) << "ours in front";
    release_device();

    Child child = start_child(test_program_path(), "", {}, FOREGROUND_CHILD_ARG);
    ASSERT_TRUE(child.started);
    HWND foreign = find_process_window(child.info.dwProcessId, FOREGROUND_CHILD_TITLE, 10000);
    EXPECT_TRUE(bring_to_front(foreign)) << "expected the other program's window in front";
    Bytes ogg = sine_ogg(2, 44100, 5000);
    EXPECT_TRUE(open_memory_stream(ogg) && stream_play());
    EXPECT_EQ(stream_player().sound.device_window, ours) << "another program in front";
    EXPECT_TRUE(stream_player().stream.timer_set) << "the timer reaches our window";
    EXPECT_TRUE(stream_close());
    if (foreign) ::PostMessageA(foreign, WM_CLOSE, 0, 0);
    if (wait_child(child, 10000) == -1) kill_child(child);
    ::DestroyWindow(ours);
}
