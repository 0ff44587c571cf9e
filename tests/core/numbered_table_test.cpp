// The numbered table: numbers that grow it, dynamic records, lookups and the walk.
#include "core/numbered_table.h"

#include <gtest/gtest.h>

#include <vector>

namespace {
struct Record {
    void* handle; // null: free
    int32_t value;
};

void* handle(int n)
{
    return reinterpret_cast<void*>(static_cast<intptr_t>(0x1000 + n));
}

class NumberedTableTest : public ::testing::Test {
protected:
    NumberedTable table{};
    void SetUp() override { ASSERT_TRUE(table_init(&table, sizeof(Record), 4, 6)); }
    Record* open(intptr_t number, int n)
    {
        auto* record = static_cast<Record*>(table_claim(&table, number));
        if (record) *record = Record{handle(n), n};
        return record;
    }
};
} // namespace

TEST_F(NumberedTableTest, NumbersPastTheTableGrowItAndKeepItsRecords)
{
    EXPECT_TRUE(table_is_number(&table, 3));
    EXPECT_FALSE(table_is_number(&table, 4)) << "expected 4 records at first";
    ASSERT_NE(nullptr, open(1, 1));
    ASSERT_NE(nullptr, open(4, 4)) << "a number at the end grows the table";
    EXPECT_TRUE(table_is_number(&table, 9));
    EXPECT_FALSE(table_is_number(&table, 10)) << "expected the number plus the growth";
    ASSERT_NE(nullptr, open(2, 2));
    EXPECT_FALSE(table_is_number(&table, 10)) << "a number inside the table grew it";
    EXPECT_EQ(1, static_cast<Record*>(table_find(&table, 1))->value) << "growing lost a record";
    EXPECT_EQ(nullptr, table_find(&table, 5)) << "new records are free";
    ASSERT_NE(nullptr, table_at(&table, 5)) << "a free record is still there to open";
    EXPECT_EQ(table_at(&table, 0), static_cast<char*>(table_at(&table, 5)) - 5 * sizeof(Record));

    // The last number fits and growth stops at the limit; what lies past it is refused.
    ASSERT_NE(nullptr, open(TABLE_NUMBER_LIMIT - 1, 9));
    EXPECT_FALSE(table_is_number(&table, TABLE_NUMBER_LIMIT));
    for (intptr_t refused : {intptr_t{-2}, TABLE_NUMBER_LIMIT, intptr_t{INT32_MAX}, INTPTR_MIN}) {
        EXPECT_EQ(nullptr, table_claim(&table, refused)) << refused;
        EXPECT_EQ(nullptr, table_at(&table, refused)) << refused;
    }
    EXPECT_EQ(4, static_cast<Record*>(table_find(&table, 4))->value);
}

TEST_F(NumberedTableTest, RecordsAreFoundByNumberIdentifierAndHandle)
{
    Record* two = open(2, 2);
    Record* dynamic = open(-1, 7);
    ASSERT_NE(nullptr, dynamic);
    const auto id = reinterpret_cast<intptr_t>(dynamic);
    EXPECT_GE(id, TABLE_NUMBER_LIMIT) << "an identifier never falls among the numbers";
    EXPECT_EQ(dynamic, table_find(&table, id));
    EXPECT_EQ(two, table_find_handle(&table, handle(2)));
    EXPECT_EQ(dynamic, table_find_handle(&table, handle(7)));
    EXPECT_EQ(nullptr, table_find_handle(&table, nullptr)) << "free records hold null";
    EXPECT_EQ(2, table_id(&table, two));
    EXPECT_EQ(id, table_id(&table, dynamic));
    Record outside{handle(8), 8};
    EXPECT_EQ(nullptr, table_find(&table, reinterpret_cast<intptr_t>(&outside)));

    table_release(&table, 2);
    table_release(&table, id);
    EXPECT_EQ(nullptr, table_find(&table, 2));
    EXPECT_EQ(nullptr, table_find(&table, id)) << "a released identifier finds nothing";
    EXPECT_EQ(nullptr, table_find_handle(&table, handle(7)));
    EXPECT_EQ(nullptr, open(-7, 7));
}

TEST_F(NumberedTableTest, WalkTakesDynamicRecordsNewestFirstThenNumbers)
{
    static std::vector<intptr_t> seen;
    static NumberedTable* walked;
    walked = &table;
    const intptr_t older = reinterpret_cast<intptr_t>(open(-1, 1));
    const intptr_t newer = reinterpret_cast<intptr_t>(open(-1, 2));
    for (bool downward : {false, true}) {
        seen.clear();
        table_for_each(
            &table, [](intptr_t id) { seen.push_back(id); }, downward);
        const std::vector<intptr_t> up{newer, older, 0, 1, 2, 3}, down{newer, older, 3, 2, 1, 0};
        EXPECT_EQ(downward ? down : up, seen);
    }
    // The action may release what it is given.
    seen.clear();
    table_for_each(
        &table,
        [](intptr_t id) {
            seen.push_back(id);
            table_release(walked, id);
        },
        false);
    EXPECT_EQ(6u, seen.size());
    seen.clear();
    table_for_each(
        &table, [](intptr_t id) { seen.push_back(id); }, false);
    EXPECT_EQ((std::vector<intptr_t>{0, 1, 2, 3}), seen) << "released dynamic records stay linked";
}
