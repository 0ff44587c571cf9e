// Every image test program starts the services the image runtime builds on, in
// the program's own order, and ends them in the program's end order.
#include "service_start.h"

namespace {
struct ImageEnvironment : ServicesEnvironment<START_IMAGES> {
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
