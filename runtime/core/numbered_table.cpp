#include "core/numbered_table.h"

#include "core/runtime.h"

static void* handle_of(void* record)
{
    return record ? *static_cast<void**>(record) : nullptr;
}

bool table_init(NumberedTable* table, size_t record_size, int32_t capacity, int32_t growth)
{
    *table = NumberedTable{nullptr, 0, growth, record_size, nullptr};
    table->records = ::HeapAlloc(main_heap(), HEAP_ZERO_MEMORY, capacity * record_size);
    if (table->records) table->capacity = capacity;
    return table->records != nullptr;
}

bool table_is_number(const NumberedTable* table, intptr_t id)
{
    return id >= 0 && id < table->capacity;
}

void* table_find(const NumberedTable* table, intptr_t id)
{
    void* record = table_at(table, id);
    if (!record && object_in_list(table->dynamic, reinterpret_cast<const void*>(id)))
        record = reinterpret_cast<void*>(id);
    return handle_of(record) ? record : nullptr;
}

void* table_find_handle(const NumberedTable* table, const void* handle)
{
    if (!handle) return nullptr; // free records hold null
    for (ObjectNode* node = table->dynamic; node; node = node->next)
        if (handle_of(object_payload(node)) == handle) return object_payload(node);
    for (int32_t number = 0; number < table->capacity; ++number)
        if (handle_of(table_at(table, number)) == handle) return table_at(table, number);
    return nullptr;
}

void* table_at(const NumberedTable* table, intptr_t number)
{
    if (!table_is_number(table, number)) return nullptr;
    return static_cast<char*>(table->records) + static_cast<size_t>(number) * table->record_size;
}

intptr_t table_id(const NumberedTable* table, const void* record)
{
    const auto first = reinterpret_cast<uintptr_t>(table->records), at = reinterpret_cast<uintptr_t>(record);
    const uintptr_t number = (at - first) / table->record_size;
    return first && at >= first && number < uintptr_t(table->capacity) ? intptr_t(number) : intptr_t(at);
}

void* table_claim(NumberedTable* table, intptr_t number)
{
    if (number == -1) return object_alloc(&table->dynamic, sizeof(ObjectNode) + table->record_size);
    if (number < 0 || number >= TABLE_NUMBER_LIMIT) return nullptr;
    if (number >= table->capacity) {
        intptr_t capacity = number + table->growth < TABLE_NUMBER_LIMIT ? number + table->growth : TABLE_NUMBER_LIMIT;
        size_t bytes = static_cast<size_t>(capacity) * table->record_size;
        void* records = table->records ? ::HeapReAlloc(main_heap(), HEAP_ZERO_MEMORY, table->records, bytes)
                                       : ::HeapAlloc(main_heap(), HEAP_ZERO_MEMORY, bytes);
        if (!records) return nullptr; // the old table stays as it was
        table->records = records;
        table->capacity = static_cast<int32_t>(capacity);
    }
    return table_at(table, number);
}

void table_release(NumberedTable* table, intptr_t id)
{
    if (void* record = table_at(table, id))
        *static_cast<void**>(record) = nullptr;
    else if (object_in_list(table->dynamic, reinterpret_cast<const void*>(id)))
        object_free(&table->dynamic, reinterpret_cast<void*>(id));
}

void table_for_each(NumberedTable* table, void (*action)(intptr_t id), bool numbers_downward)
{
    for (ObjectNode* node = table->dynamic; node;) {
        ObjectNode* next = node->next; // the action may free the node
        action(reinterpret_cast<intptr_t>(object_payload(node)));
        node = next;
    }
    const int32_t count = table->capacity;
    for (int32_t n = 0; n < count; ++n) action(numbers_downward ? count - 1 - n : n);
}
