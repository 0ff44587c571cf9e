// Every image test program starts the services the image runtime builds on, in
// the program's own order.
#include "core/object_heap.h"
#include "core/runtime.h"
#include "image/decoders.h"
#include "image/drawing.h"
#include "image/image.h"
#include "window/window.h"

#include <gtest/gtest.h>

namespace {
struct ImageEnvironment : ::testing::Environment {
    void SetUp() override
    {
        ASSERT_TRUE(runtime_start(::GetModuleHandleA(nullptr))) << "the main heap could not be created";
        drawing_init();
        decoders_init();
        ASSERT_TRUE(object_heap_create()) << "the object heap could not be created";
        images_init();
        windows_init();
        picture_init();
        png_decoder_register();
        picture_decoder_register();
    }
    void TearDown() override
    {
        picture_shutdown();
        windows_close_all();
        images_free_all();
        object_heap_destroy();
    }
};
const auto* environment = ::testing::AddGlobalTestEnvironment(new ImageEnvironment);
} // namespace
