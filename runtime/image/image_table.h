// Inside the image runtime only: the size of the numbered image table.
#pragma once
#include <cstdint>

// The numbers below it index a record.
int32_t image_table_capacity();
