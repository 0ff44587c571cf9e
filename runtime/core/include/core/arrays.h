// Heap arrays: an ArrayHeader directly in front of element 0, on the main heap.
#pragma once
#include <cstdint>

struct ArrayHeader {
    uint32_t element_size;
    const int32_t* field_list; // FieldList, or null for plain numeric elements
    void* array_variable;      // address of the variable holding the array
    int32_t last_index;        // n: the array holds n + 1 elements
    int32_t type_code;
};
#ifndef _WIN64
static_assert(sizeof(ArrayHeader) == 20, "the header sits 20 bytes in front of element 0");
#endif

constexpr int32_t FIELD_END = -1;
constexpr int32_t FIELD_NESTED = -2;
constexpr int32_t TYPE_INT8 = 1;
constexpr int32_t TYPE_FLOAT32 = 9;

ArrayHeader* array_header(void* array);
// Stores the new array (or null) into *variable and returns it. Refuses a last
// index below -1 and sizes that do not fit in 32 bits.
void* array_alloc(int32_t last_index, uint32_t element_size, const int32_t* field_list, void** variable,
                  int32_t type_code);
void array_free(void* array);
void array_free_records(void* array);
void record_strings_free(void* record, const int32_t* list);
void delay_ms(int32_t milliseconds);
