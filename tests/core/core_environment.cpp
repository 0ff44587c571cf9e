// Every core test runs on a freshly started runtime: main heap, object heap and string buffer.
#include "service_start.h"

namespace {
const auto* environment = ::testing::AddGlobalTestEnvironment(new ServicesEnvironment<START_CORE>);
} // namespace
