// Inside the image runtime only: the size of the numbered image table.
#pragma once
#include <cstdint>

// N: the numbers 0 to N index a record.
int32_t image_table_capacity();
