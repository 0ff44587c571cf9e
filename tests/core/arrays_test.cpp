#include "core/arrays.h"
#include "core/object_heap.h"
#include "core/runtime.h"
#include "core/strings.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {
// Busy blocks on the main heap, to see what a free released.
int busy_blocks()
{
    int count = 0;
    PROCESS_HEAP_ENTRY entry{};
    ::HeapLock(main_heap());
    while (::HeapWalk(main_heap(), &entry))
        if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) ++count;
    ::HeapUnlock(main_heap());
    return count;
}

size_t block_size(void* array)
{
    return ::HeapSize(main_heap(), 0, array_header(array));
}
} // namespace

TEST(ArrayAlloc, BlockIsHeaderPlusElementsAllZero)
{
    void* spectrum = nullptr;
    void* result = array_alloc(2048, 4, nullptr, &spectrum, TYPE_FLOAT32);
    ASSERT_NE(nullptr, result);
    EXPECT_EQ(result, spectrum) << "the variable receives the array";
    EXPECT_EQ(sizeof(ArrayHeader) + 2049 * 4, block_size(spectrum));
    ArrayHeader* header = array_header(spectrum);
    EXPECT_EQ(static_cast<char*>(spectrum) - sizeof(ArrayHeader), reinterpret_cast<char*>(header));
    EXPECT_EQ(4u, header->element_size);
    EXPECT_EQ(2048, header->last_index);
    EXPECT_EQ(TYPE_FLOAT32, header->type_code);
    EXPECT_EQ(&spectrum, header->array_variable);
    const float* values = static_cast<float*>(spectrum);
    for (int i = 0; i <= 2048; ++i) ASSERT_EQ(0.0f, values[i]) << "element " << i;
    array_free(spectrum);

    void* samples = nullptr;
    array_alloc(2048, 1, nullptr, &samples, TYPE_INT8);
    EXPECT_EQ(sizeof(ArrayHeader) + 2049, block_size(samples));
    array_free(samples);

    void* one = nullptr;
    array_alloc(0, 8, nullptr, &one, TYPE_INT8);
    EXPECT_EQ(sizeof(ArrayHeader) + 8, block_size(one)) << "last index 0 is one element";
    array_free(one);
}

TEST(ArrayAlloc, ImpossibleSizesAreRefusedAndStoreNull)
{
    void* variable = reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(nullptr, array_alloc(-2, 4, nullptr, &variable, TYPE_FLOAT32));
    EXPECT_EQ(nullptr, variable) << "a last index below -1 stores null";

    variable = reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(nullptr, array_alloc(0x7FFFFFFE, 4, nullptr, &variable, TYPE_FLOAT32));
    EXPECT_EQ(nullptr, variable) << "a size beyond 32 bits stores null";

    variable = reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(nullptr, array_alloc(0x3FFFFFFF, 4, nullptr, &variable, TYPE_FLOAT32));
    EXPECT_EQ(nullptr, variable) << "(n + 1) * size + header just past 32 bits must not wrap";

    void* empty = nullptr;
    EXPECT_NE(nullptr, array_alloc(-1, 4, nullptr, &empty, TYPE_FLOAT32)) << "last index -1 is a valid empty array";
    EXPECT_EQ(sizeof(ArrayHeader), block_size(empty));
    array_free(empty);
}

TEST(ArrayFree, NullIsIgnored)
{
    int before = busy_blocks();
    array_free(nullptr);
    array_free_records(nullptr);
    EXPECT_EQ(before, busy_blocks());
}

namespace {
struct Inner {
    char* label;
    int32_t value;
};
struct Record {
    int32_t id;
    char* name;
    Inner inner[3];
    char* note;
};
} // namespace

// Builds a FieldList with a nested entry whose last words hold a list's address.
static void field_list(int32_t* out, const int32_t* nested, int32_t nested_count)
{
    int n = 0;
    out[n++] = static_cast<int32_t>(offsetof(Record, name));
    out[n++] = FIELD_NESTED;
    out[n++] = nested_count;
    out[n++] = static_cast<int32_t>(offsetof(Record, inner));
    out[n++] = static_cast<int32_t>(sizeof(Inner));
    std::memcpy(out + n, &nested, sizeof nested);
    n += sizeof(nested) / sizeof(int32_t);
    out[n++] = static_cast<int32_t>(offsetof(Record, note));
    out[n++] = FIELD_END;
}

TEST(ArrayFreeRecords, FreesEveryStringOfEveryElementIncludingNested)
{
    static const int32_t inner_list[] = {static_cast<int32_t>(offsetof(Inner, label)), FIELD_END};
    int32_t list[16];
    field_list(list, inner_list, 3);

    int before = busy_blocks();
    void* array = nullptr;
    array_alloc(2, sizeof(Record), list, &array, 0);
    auto* records = static_cast<Record*>(array);
    for (int i = 0; i < 3; ++i) {
        string_assign(&records[i].name, "name");
        if (i != 1) string_assign(&records[i].note, "note"); // element 1 keeps a null string
        for (int j = 0; j < 3; ++j) string_assign(&records[i].inner[j].label, "label");
    }
    EXPECT_EQ(before + 1 + 3 + 2 + 9, busy_blocks());
    array_free_records(array);
    EXPECT_EQ(before, busy_blocks()) << "every string and the array itself are freed";
}

TEST(ArrayFreeRecords, NestedCountZeroFreesNothingAndTheWalkGoesOn)
{
    static const int32_t inner_list[] = {static_cast<int32_t>(offsetof(Inner, label)), FIELD_END};
    int32_t list[16];
    field_list(list, inner_list, 0);

    int before = busy_blocks();
    void* array = nullptr;
    array_alloc(0, sizeof(Record), list, &array, 0);
    auto* record = static_cast<Record*>(array);
    string_assign(&record->note, "after the nested entry");
    array_free_records(array);
    EXPECT_EQ(before, busy_blocks()) << "the string after a count-0 nested entry is still freed";
}

TEST(ArrayFreeRecords, AnEndOnlyListFreesOnlyTheArray)
{
    static const int32_t end_only[] = {FIELD_END};
    int before = busy_blocks();
    void* array = nullptr;
    array_alloc(4, sizeof(Record), end_only, &array, 0);
    char* kept = nullptr;
    string_assign(&kept, "kept");
    static_cast<Record*>(array)[0].name = kept;
    array_free_records(array);
    EXPECT_EQ(before + 1, busy_blocks()) << "only the array block goes";
    EXPECT_STREQ("kept", kept);
    string_free(kept);
}

TEST(Delay, SuspendsForAboutTheGivenTime)
{
    // The tick count is too coarse here; the performance counter is not.
    LARGE_INTEGER frequency, start, end;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    delay_ms(30);
    ::QueryPerformanceCounter(&end);
    EXPECT_GE((end.QuadPart - start.QuadPart) * 1000 / frequency.QuadPart, 25);
}

static DWORD WINAPI delay_negative(LPVOID)
{
    delay_ms(-1);
    delay_ms(INT32_MIN);
    return 0;
}

TEST(Delay, ANegativeCountDoesNotWait)
{
    // On a thread of its own, so that a delay that never ends fails the test
    // instead of hanging the run.
    HANDLE thread = ::CreateThread(nullptr, 0, delay_negative, nullptr, 0, nullptr);
    ASSERT_NE(nullptr, thread);
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(thread, 2000)) << "a negative count must return at once";
    ::CloseHandle(thread);
}

// The layouts other code reads through raw offsets, measured on live blocks:
// element 0 lies 20 bytes into its block and a payload 8 bytes into its node
// in the 32-bit program.
TEST(Layout, HeaderAndLinksSitWhereTheProgramExpectsThem)
{
    const size_t header = sizeof(void*) == 4 ? 20 : 32;
    void* array = nullptr;
    array_alloc(3, 4, nullptr, &array, TYPE_FLOAT32);
    ASSERT_NE(nullptr, array);
    void* block = array_header(array);
    EXPECT_EQ(header, size_t(static_cast<char*>(array) - static_cast<char*>(block)));
    EXPECT_EQ(header + 16, ::HeapSize(main_heap(), 0, block)) << "the header, then four elements";
    array_free(array);

    const size_t links = 2 * sizeof(void*);
    ObjectNode* list = nullptr;
    void* payload = object_alloc(&list, links + 4);
    ASSERT_NE(nullptr, payload);
    EXPECT_EQ(links, size_t(static_cast<char*>(payload) - reinterpret_cast<char*>(list)));
    object_free(&list, payload);
}
