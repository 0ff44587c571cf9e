// The baseline of the load and quit benchmarks: the whole of Orlenwade.ogg
// decoded into one DirectSound buffer and played once, nothing streamed, in
// a plain 1000 by 600 window. Whatever is lost in its sound under load, or
// goes wrong when it quits, belongs to the platform, not to a refill or a
// worker thread. Escape, the close box or the end of the music ends it with
// exit code 0; a file that cannot be decoded gives a message box first.
#include <windows.h>
#include <mmsystem.h>
#include <dsound.h>

#include <cstdio>
#include <cstring>
#include <vector>

#define OV_EXCLUDE_STATIC_CALLBACKS
#include <vorbis/vorbisfile.h>

namespace {

const char* const TITLE = "One-buffer player";
const char* const BOX_TITLE = "One-buffer player: no music";

struct OneBufferPlayer {
    HWND window;
    IDirectSound* device;
    IDirectSoundBuffer* buffer;
    bool close_requested;
} one_buffer;

LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM w, LPARAM l)
{
    if (message == WM_CLOSE) {
        one_buffer.close_requested = true;
        return 0;
    }
    return ::DefWindowProcA(window, message, w, l);
}

bool decode_file(const char* path, std::vector<char>* pcm, WAVEFORMATEX* format)
{
    FILE* file = std::fopen(path, "rb");
    if (!file) return false;
    OggVorbis_File decoder;
    if (ov_open(file, &decoder, nullptr, 0) != 0) {
        std::fclose(file);
        return false;
    }
    vorbis_info* info = ov_info(&decoder, -1);
    std::memset(format, 0, sizeof *format);
    format->wFormatTag = WAVE_FORMAT_PCM;
    format->nChannels = WORD(info->channels);
    format->nSamplesPerSec = DWORD(info->rate);
    format->wBitsPerSample = 16;
    format->nBlockAlign = WORD(info->channels * 2);
    format->nAvgBytesPerSec = format->nSamplesPerSec * format->nBlockAlign;
    char chunk[4096];
    for (;;) {
        int link = 0;
        long n = ov_read(&decoder, chunk, sizeof chunk, 0, 2, 1, &link);
        if (n == OV_HOLE) continue;
        if (n <= 0) break;
        pcm->insert(pcm->end(), chunk, chunk + n);
    }
    ov_clear(&decoder); // closes the file
    return !pcm->empty();
}

bool sound_start(const std::vector<char>& pcm, const WAVEFORMATEX& format)
{
    if (FAILED(::DirectSoundCreate(nullptr, &one_buffer.device, nullptr))) return false;
    one_buffer.device->SetCooperativeLevel(one_buffer.window, DSSCL_PRIORITY);
    WAVEFORMATEX wave = format;
    DSBUFFERDESC desc;
    std::memset(&desc, 0, sizeof desc);
    desc.dwSize = sizeof desc;
    desc.dwFlags = DSBCAPS_GETCURRENTPOSITION2 | DSBCAPS_GLOBALFOCUS;
    desc.dwBufferBytes = DWORD(pcm.size());
    desc.lpwfxFormat = &wave;
    if (FAILED(one_buffer.device->CreateSoundBuffer(&desc, &one_buffer.buffer, nullptr))) return false;
    void* region = nullptr;
    DWORD length = 0;
    if (one_buffer.buffer->Lock(0, 0, &region, &length, nullptr, nullptr, DSBLOCK_ENTIREBUFFER) != DS_OK) return false;
    std::memcpy(region, pcm.data(), length < pcm.size() ? length : pcm.size());
    one_buffer.buffer->Unlock(region, length, nullptr, 0);
    return one_buffer.buffer->Play(0, 0, 0) == DS_OK;
}

bool still_playing()
{
    DWORD status = 0;
    return one_buffer.buffer->GetStatus(&status) == DS_OK && (status & DSBSTATUS_PLAYING);
}

void release_all()
{
    if (one_buffer.buffer) {
        one_buffer.buffer->Stop();
        one_buffer.buffer->Release();
        one_buffer.buffer = nullptr;
    }
    if (one_buffer.device) {
        one_buffer.device->Release();
        one_buffer.device = nullptr;
    }
    if (one_buffer.window) ::DestroyWindow(one_buffer.window);
    one_buffer.window = nullptr;
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    WNDCLASSA window_class{};
    window_class.lpfnWndProc = window_procedure;
    window_class.hInstance = instance;
    window_class.hCursor = ::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    window_class.hbrBackground = static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH));
    window_class.lpszClassName = "OneBufferPlayer";
    ::RegisterClassA(&window_class);
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_VISIBLE;
    RECT outer = {0, 0, 1000, 600};
    ::AdjustWindowRect(&outer, style, FALSE);
    one_buffer.window =
        ::CreateWindowExA(0, window_class.lpszClassName, TITLE, style, CW_USEDEFAULT, CW_USEDEFAULT,
                          outer.right - outer.left, outer.bottom - outer.top, nullptr, nullptr, instance, nullptr);

    std::vector<char> pcm;
    WAVEFORMATEX format;
    if (!decode_file("Orlenwade.ogg", &pcm, &format) || !sound_start(pcm, format)) {
        ::MessageBoxA(one_buffer.window, "Couldn't open Orlenwade.ogg", BOX_TITLE, MB_OK);
    } else {
        while (!one_buffer.close_requested && !::GetAsyncKeyState(VK_ESCAPE) && still_playing()) {
            MSG message;
            while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
                ::TranslateMessage(&message);
                ::DispatchMessageA(&message);
            }
            ::Sleep(10);
        }
    }
    release_all();
    ::ExitProcess(0);
}
