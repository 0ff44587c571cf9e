// The screenshot tool behind scripts/run --screenshot: the picture must be the
// window while music plays, and a program that fails must not pass for a picture.
#include "app_process.h"
#include "tools/oggsynth.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cstdint>
#include <vector>

namespace {
struct Picture {
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> rgb;

    // Pixels of rows [top, bottom) of this 0xRRGGBB colour.
    long count(uint32_t top, uint32_t bottom, uint32_t colour) const
    {
        long n = 0;
        for (size_t i = size_t(top) * width * 3; i < size_t(bottom) * width * 3; i += 3)
            n += (uint32_t(rgb[i]) << 16 | uint32_t(rgb[i + 1]) << 8 | rgb[i + 2]) == colour;
        return n;
    }
};

bool read_png(const std::string& path, Picture& picture)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
    image.format = PNG_FORMAT_RGB;
    picture.width = image.width;
    picture.height = image.height;
    picture.rgb.resize(PNG_IMAGE_SIZE(image));
    return png_image_finish_read(&image, nullptr, picture.rgb.data(), 0, nullptr) != 0;
}

// Runs the tool in a fresh folder holding `music` as Orlenwade.ogg (none when
// empty); its exit code, or -1 when it hangs.
long run_tool(const Bytes& music, const std::string& folder)
{
    if (!music.empty() && !write_file(folder + "\\Orlenwade.ogg", music)) return -2;
    Child tool = start_child(program_path("screenshot.exe"), folder, {}, "shot.png 1");
    if (!tool.started) return -3;
    long code = wait_child(tool, 60000);
    if (code == -1) kill_child(tool);
    return code;
}
} // namespace

TEST(ScreenshotTool, PicturesTheWindowWhileTheMusicPlaysAndEndsTheProgram)
{
    std::string folder = make_temp_folder("shot");
    long code = run_tool(ogg_encode(pcm_demo_music(44100, 4.0), 2, 44100), folder);
    Picture picture;
    bool read = read_png(folder + "\\shot.png", picture);
    remove_folder(folder);
    ASSERT_EQ(0, code) << "expected: the picture written and the program ended with 0";
    ASSERT_TRUE(read) << "shot.png is not a readable PNG";
    ASSERT_EQ(1000u, picture.width);
    ASSERT_EQ(600u, picture.height);
    long upper = 1000L * 300;
    EXPECT_GT(picture.count(0, 300, 0x000000), upper * 9 / 10) << "the oscilloscope's black";
    // On silence every point lies under the axis line: green shows the music.
    EXPECT_GT(picture.count(0, 300, 0x00FF00), 50) << "the trace of the music";
    EXPECT_GT(picture.count(300, 600, 0x130103), upper / 2) << "the spectrum's background";
    EXPECT_GT(picture.count(300, 600, 0xC90613), 100) << "the spectrum bars";
}

TEST(ScreenshotTool, FailsWithoutAPictureWhenTheProgramCannotPlay)
{
    std::string folder = make_temp_folder("shot");
    long code = run_tool(Bytes{}, folder);
    bool written = ::GetFileAttributesA((folder + "\\shot.png").c_str()) != INVALID_FILE_ATTRIBUTES;
    remove_folder(folder);
    EXPECT_EQ(1, code) << "expected: failure when the program shows its message box";
    EXPECT_FALSE(written) << "no picture of a program that could not play";
}
