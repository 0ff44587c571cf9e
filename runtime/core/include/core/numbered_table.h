// Numbered records: a table on the main heap indexed by number and grown on
// demand, plus dynamic records on the object heap known by their address.
// Every record begins with its handle, a pointer that is null while it is free.
#pragma once
#include <cstddef>
#include <cstdint>

#include "core/object_heap.h"

// Numbers run from 0 to TABLE_NUMBER_LIMIT - 1. Windows never maps the first
// 64 KiB, so no record address falls among them (a number never meets a
// dynamic identifier), and the table's size stays far from overflowing 32 bits.
constexpr intptr_t TABLE_NUMBER_LIMIT = 0xFFFF;

struct NumberedTable {
    void* records;       // capacity records on the main heap
    int32_t capacity;    // the numbers below it index a record
    int32_t growth;      // a number past the table grows it to number + growth
    size_t record_size;  // bytes
    ObjectNode* dynamic; // dynamic records, newest first
};

// An empty table of zeroed records; false when the main heap has no room (the
// first claim then tries again).
bool table_init(NumberedTable* table, size_t record_size, int32_t capacity, int32_t growth);
bool table_is_number(const NumberedTable* table, intptr_t id);
// The record of a number or of a live dynamic identifier, if its handle is set.
void* table_find(const NumberedTable* table, intptr_t id);
// The live record holding this handle, or null.
void* table_find_handle(const NumberedTable* table, const void* handle);
// The record of a number whether free or not (the table's start at 0), or null.
void* table_at(const NumberedTable* table, intptr_t number);
// The number of a record in the table, or else its dynamic identifier.
intptr_t table_id(const NumberedTable* table, const void* record);
// The record for a number about to be opened (growing the table), or a new
// zeroed dynamic record for -1; null for any other value or when there is no room.
void* table_claim(NumberedTable* table, intptr_t number);
// A number's record gets a null handle; a dynamic record goes back to the object heap.
void table_release(NumberedTable* table, intptr_t id);
// Every dynamic identifier, newest first, then every number.
void table_for_each(NumberedTable* table, void (*action)(intptr_t id), bool numbers_downward);
