// Starts the program's services for a test program, in program_start's order
// (app/program.cpp; keep the two in step), but only those of the libraries
// the program links: a lower library's tests never pull in the layers above.
// Header only, so that each test program, not the support library, links them.
#pragma once
#include "core/object_heap.h"
#include "core/runtime.h"
#include "core/strings.h"
#include "image/decoders.h"
#include "image/drawing.h"
#include "image/image.h"
#include "window/message_box.h"
#include "window/window.h"

#include <gtest/gtest.h>

// The core (main heap, object heap, string buffer) always starts. The media
// tests call multimedia_init themselves: its result is what they test.
enum StartedServices : unsigned { START_CORE = 0, START_WINDOWS = 1, START_IMAGES = 2 | START_WINDOWS };

// False when the main heap or the object heap cannot be made.
template <unsigned services>
bool services_start()
{
    if (!runtime_start(::GetModuleHandleA(nullptr))) return false;
    if constexpr ((services & START_IMAGES) == START_IMAGES) {
        drawing_init();
        decoders_init();
    }
    const bool objects = object_heap_create();
    if constexpr ((services & START_IMAGES) == START_IMAGES) images_init();
    if constexpr ((services & START_WINDOWS) != 0) {
        common_controls_init();
        windows_init();
    }
    if constexpr ((services & START_IMAGES) == START_IMAGES) picture_init();
    string_buffer_init();
    if constexpr ((services & START_IMAGES) == START_IMAGES) {
        png_decoder_register();
        picture_decoder_register();
    }
    return objects;
}

template <unsigned services>
struct ServicesEnvironment : ::testing::Environment {
    void SetUp() override
    {
        ASSERT_TRUE(services_start<services>()) << "expected the main heap and the object heap to be made";
    }
};
