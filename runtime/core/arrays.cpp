#include "core/arrays.h"
#include "core/runtime.h"

constexpr uint32_t HEADER_BYTES = 20;
static_assert(sizeof(ArrayHeader) >= HEADER_BYTES, "header layout");

// On 64-bit builds the header's pointers make it larger than 20 bytes; the
// elements always follow it directly.
constexpr size_t header_size()
{
    return sizeof(ArrayHeader);
}

ArrayHeader* array_header(void* array)
{
    return reinterpret_cast<ArrayHeader*>(static_cast<char*>(array) - header_size());
}

void* array_alloc(int32_t last_index, uint32_t element_size, const int32_t* field_list, void** variable,
                  int32_t type_code)
{
    void* array = nullptr;
    // The block size must fit in 32 bits, as the shipped 32-bit program counts it.
    uint64_t count = static_cast<uint64_t>(static_cast<int64_t>(last_index) + 1);
    uint64_t bytes = count * element_size + header_size();
    if (last_index >= -1 && bytes <= 0xFFFFFFFFull) {
        auto* header =
            static_cast<ArrayHeader*>(::HeapAlloc(main_heap(), HEAP_ZERO_MEMORY, static_cast<size_t>(bytes)));
        if (header) {
            header->element_size = element_size;
            header->field_list = field_list;
            header->array_variable = variable;
            header->last_index = last_index;
            header->type_code = type_code;
            array = reinterpret_cast<char*>(header) + header_size();
        }
    }
    if (variable) *variable = array;
    return array;
}

void array_free(void* array)
{
    if (array) ::HeapFree(main_heap(), 0, array_header(array));
}

void record_strings_free(void* record, const int32_t* list)
{
    if (!list) return;
    char* base = static_cast<char*>(record);
    for (const int32_t* entry = list; *entry != FIELD_END;) {
        if (*entry == FIELD_NESTED) {
            int32_t count = entry[1], offset = entry[2], stride = entry[3];
            // The nested list's address takes the fifth word (two on 64-bit builds).
            const int32_t* nested;
            __builtin_memcpy(&nested, entry + 4, sizeof nested);
            for (int32_t j = 0; j < count; ++j) record_strings_free(base + offset + j * stride, nested);
            entry += 4 + sizeof(nested) / sizeof(int32_t);
        } else {
            char* text;
            __builtin_memcpy(&text, base + *entry, sizeof text);
            if (text) ::HeapFree(main_heap(), 0, text);
            ++entry;
        }
    }
}

void array_free_records(void* array)
{
    if (!array) return;
    ArrayHeader* header = array_header(array);
    char* element = static_cast<char*>(array);
    for (int32_t i = 0; i <= header->last_index; ++i)
        record_strings_free(element + static_cast<size_t>(i) * header->element_size, header->field_list);
    ::HeapFree(main_heap(), 0, header);
}

void delay_ms(int32_t milliseconds)
{
    // A negative count would read as INFINITE or as weeks: it waits not at all.
    ::Sleep(milliseconds > 0 ? static_cast<DWORD>(milliseconds) : 0);
}
