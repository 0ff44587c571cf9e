// The pure tables of the multimedia base: alpha values and the keyboard format.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "multimedia_internal.h"

TEST(AlphaTable, KnownEntries)
{
    struct Case {
        int i, j, expected;
    } cases[] = {{0, 0, 0},      {0, 255, 0},     {255, 0, 1},    {254, 0, 0},     {1, 255, 1},
                 {128, 127, 64}, {255, 127, 128}, {100, 200, 79}, {255, 254, 255}, {255, 255, 256}};
    for (const Case& c : cases) EXPECT_EQ(alpha_entry(c.i, c.j), c.expected) << "entry (" << c.i << ", " << c.j << ")";
}

TEST(AlphaTable, RowByRowAndOnlyTheCornerAbove255)
{
    std::vector<int32_t> table(ALPHA_SIZE * ALPHA_SIZE, -1);
    alpha_table_build(table.data());
    int above = 0;
    for (int i = 0; i < ALPHA_SIZE; ++i) {
        EXPECT_EQ(table[i * ALPHA_SIZE], alpha_entry(i, 0)) << "row " << i;
        EXPECT_EQ(table[i], 0) << "entry (0, " << i << ")";
        for (int j = 0; j < ALPHA_SIZE; ++j) {
            int32_t value = table[i * ALPHA_SIZE + j];
            ASSERT_EQ(value, alpha_entry(i, j)) << "entry (" << i << ", " << j << ")";
            ASSERT_GE(value, 0);
            // Never more than one step away from the exact fraction i * (j + 1) / 255.
            ASSERT_LE(std::abs(value * 255 - i * (j + 1)), 255 * 2) << "entry (" << i << ", " << j << ")";
            if (value > 255) ++above;
        }
    }
    EXPECT_EQ(table[255 * ALPHA_SIZE + 255], 256);
    EXPECT_EQ(above, 1) << "expected only (255, 255) above 255";
}

TEST(KeyboardFormat, OneOptionalButtonPerKey)
{
    std::vector<DIOBJECTDATAFORMAT> table(KEYBOARD_KEYS);
    keyboard_format_fill(table.data(), &GUID_Key);
    for (int k = 0; k < KEYBOARD_KEYS; ++k) {
        EXPECT_EQ(table[k].pguid, &GUID_Key) << "key " << k;
        EXPECT_EQ(table[k].dwOfs, DWORD(k)) << "key " << k;
        EXPECT_EQ(table[k].dwType, 0x8000000Cu | (DWORD(k) << 8)) << "key " << k;
        EXPECT_EQ(table[k].dwFlags, 0u) << "key " << k;
    }
    EXPECT_EQ(table[255].dwType, 0x8000FF0Cu);
}

TEST(KeyboardFormat, DataFormatDescribesTheTable)
{
    std::vector<DIOBJECTDATAFORMAT> table(KEYBOARD_KEYS);
    DIDATAFORMAT format{};
    keyboard_data_format_fill(&format, table.data());
    EXPECT_EQ(format.dwSize, sizeof(DIDATAFORMAT));
    EXPECT_EQ(format.dwObjSize, sizeof(DIOBJECTDATAFORMAT));
    EXPECT_EQ(format.dwFlags, DWORD(DIDF_RELAXIS));
    EXPECT_EQ(format.dwDataSize, 256u);
    EXPECT_EQ(format.dwNumObjs, 256u);
    EXPECT_EQ(format.rgodf, table.data());
}

// c_dfDIKeyboard is the platform's own keyboard format, linked from its static library.
TEST(KeyboardFormat, MatchesThePlatformKeyboardFormat)
{
    std::vector<DIOBJECTDATAFORMAT> table(KEYBOARD_KEYS);
    DIDATAFORMAT format{};
    keyboard_format_fill(table.data(), &GUID_Key);
    keyboard_data_format_fill(&format, table.data());
    EXPECT_EQ(format.dwSize, c_dfDIKeyboard.dwSize);
    EXPECT_EQ(format.dwObjSize, c_dfDIKeyboard.dwObjSize);
    EXPECT_EQ(format.dwFlags, c_dfDIKeyboard.dwFlags);
    EXPECT_EQ(format.dwDataSize, c_dfDIKeyboard.dwDataSize);
    ASSERT_EQ(format.dwNumObjs, c_dfDIKeyboard.dwNumObjs);
    for (int k = 0; k < KEYBOARD_KEYS; ++k) {
        const DIOBJECTDATAFORMAT& theirs = c_dfDIKeyboard.rgodf[k];
        EXPECT_TRUE(theirs.pguid && IsEqualGUID(*table[k].pguid, *theirs.pguid)) << "key " << k;
        EXPECT_EQ(table[k].dwOfs, theirs.dwOfs) << "key " << k;
        EXPECT_EQ(table[k].dwType, theirs.dwType) << "key " << k;
        EXPECT_EQ(table[k].dwFlags, theirs.dwFlags) << "key " << k;
    }
}
