#include "core/runtime.h"
#include "core/strings.h"

#include <gtest/gtest.h>
#include <cstring>
#include <string>

TEST(StringCompare, NullReadsAsTheEmptyString)
{
    EXPECT_EQ(1, string_equal(nullptr, "")) << "null and \"\" are the same string";
    EXPECT_EQ(1, string_equal(nullptr, nullptr));
    EXPECT_EQ(0, string_equal(nullptr, "a"));
    EXPECT_EQ(1, string_less(nullptr, "a"));
    EXPECT_EQ(0, string_greater(nullptr, ""));
}

TEST(StringCompare, OrdersByUnsignedBytesWithoutFolding)
{
    EXPECT_EQ(1, string_less("abc", "abd"));
    EXPECT_EQ(1, string_greater("abd", "abc"));
    EXPECT_EQ(0, string_less("abd", "abc"));
    EXPECT_EQ(1, string_less("ab", "abc")) << "a proper prefix sorts first";
    EXPECT_EQ(1, string_greater("abc", "ab"));
    EXPECT_EQ(1, string_less("A", "a")) << "no case folding";
    EXPECT_EQ(1, string_greater("\x80", "z")) << "bytes 0x80 and up sort after ASCII";
    EXPECT_EQ(1, string_less("z", "\xff"));
}

TEST(StringCompare, EqualStringsAreNeitherLessNorGreater)
{
    EXPECT_EQ(1, string_equal("same", "same"));
    EXPECT_EQ(0, string_less("same", "same"));
    EXPECT_EQ(0, string_greater("same", "same"));
}

TEST(StringBuild, PiecesJoinAndTheCursorReturnsToTheStart)
{
    char* start = string_cursor();
    ASSERT_NE(nullptr, start);
    string_append("Orlen");
    string_append(nullptr); // ends the text without moving
    EXPECT_EQ(start + 5, string_cursor());
    string_append("wade");
    char* value = nullptr;
    string_store_built(&value, start);
    ASSERT_NE(nullptr, value);
    EXPECT_STREQ("Orlenwade", value);
    EXPECT_EQ(start, string_cursor());
    string_free(value);
}

TEST(StringBuild, AnEmptyBuildStoresAnEmptyStringNotNull)
{
    char* start = string_cursor();
    string_append(nullptr);
    char* value = nullptr;
    string_assign(&value, "old");
    string_store_built(&value, start);
    ASSERT_NE(nullptr, value) << "expected a one-byte block";
    EXPECT_STREQ("", value);
    EXPECT_EQ(1u, ::HeapSize(main_heap(), 0, value));
    EXPECT_EQ(start, string_cursor());
    string_free(value);
}

TEST(StringBuild, TextBeyondTheBufferIsCutShortNeverOverrun)
{
    char* start = string_cursor();
    std::string chunk(10000, 'x');
    for (int i = 0; i < 8; ++i) // 80000 bytes into a 64000-byte buffer
        string_append(chunk.c_str());
    char* end = string_cursor();
    EXPECT_LE(end, start + STRING_BUFFER_BYTES - 1) << "the cursor left the buffer";
    EXPECT_GE(end, start + 60000) << "the text should fill the buffer up to its end";
    EXPECT_EQ(0, *end);
    char* value = nullptr;
    string_store_built(&value, start);
    ASSERT_NE(nullptr, value);
    EXPECT_EQ(size_t(end - start), std::strlen(value));
    EXPECT_TRUE(::HeapValidate(main_heap(), 0, nullptr)) << "the main heap was corrupted";
    string_free(value);
}

TEST(StringBuild, AStartOutsideTheBuiltTextIsRefused)
{
    char* start = string_cursor();
    string_append("built");
    char* value = nullptr;
    string_assign(&value, "old");
    char outside[8] = "foreign";
    for (char* wrong : {outside, start + 6, start - 1, start + STRING_BUFFER_BYTES}) {
        string_store_built(&value, wrong);
        EXPECT_EQ(start + 5, string_cursor()) << "the cursor must stay inside the buffer, where the text ends";
        EXPECT_STREQ("old", value) << "a refused store leaves the variable as it was";
    }
    // The bound still holds: a full buffer's worth of text stays inside it.
    std::string chunk(70000, 'y');
    string_append(chunk.c_str());
    EXPECT_EQ(start + STRING_BUFFER_BYTES - 1, string_cursor());
    EXPECT_TRUE(::HeapValidate(main_heap(), 0, nullptr)) << "the main heap was corrupted";
    string_store_built(&value, start);
    EXPECT_EQ(start, string_cursor());
    string_free(value);
}

TEST(StringBuild, ASecondInitKeepsTheBuffer)
{
    char* before = string_cursor();
    string_buffer_init();
    EXPECT_EQ(before, string_cursor());
}

TEST(StringAssign, NullFreesTheOldValue)
{
    char* value = nullptr;
    string_assign(&value, "text");
    ASSERT_NE(nullptr, value);
    EXPECT_STREQ("text", value);
    string_assign(&value, nullptr);
    EXPECT_EQ(nullptr, value);
}
