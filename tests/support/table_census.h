// What a service's numbered table holds besides its numbers: dynamic records,
// live or not, so that a test sees one that was never given back.
#pragma once
#include "core/numbered_table.h"

inline int table_dynamic_records(NumberedTable* table)
{
    static NumberedTable* counted;
    static int count;
    counted = table;
    count = 0;
    table_for_each(
        table, [](intptr_t id) { count += !table_is_number(counted, id); }, false);
    return count;
}
