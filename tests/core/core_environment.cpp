// Every core test runs on a freshly started runtime: main heap and object heap.
#include "core/object_heap.h"
#include "core/runtime.h"
#include "core/strings.h"

#include <gtest/gtest.h>

namespace {
struct CoreEnvironment : ::testing::Environment {
    void SetUp() override
    {
        ASSERT_TRUE(runtime_start(::GetModuleHandleA(nullptr))) << "the main heap could not be created";
        ASSERT_TRUE(object_heap_create()) << "the object heap could not be created";
        string_buffer_init();
    }
};
const auto* environment = ::testing::AddGlobalTestEnvironment(new CoreEnvironment);
} // namespace
