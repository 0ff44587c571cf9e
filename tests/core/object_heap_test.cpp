#include "core/object_heap.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {
struct Payload {
    int32_t words[6];
};
constexpr size_t NODE = object_node_size<Payload>();
} // namespace

TEST(ObjectHeap, NewNodesGoInAtTheHeadZeroed)
{
    ObjectNode* list = nullptr;
    auto* first = static_cast<Payload*>(object_alloc(&list, NODE));
    ASSERT_NE(nullptr, first);
    for (int32_t word : first->words) EXPECT_EQ(0, word);
    first->words[0] = 7;
    auto* second = static_cast<Payload*>(object_alloc(&list, NODE));
    ASSERT_NE(nullptr, second);
    EXPECT_EQ(object_node(second), list) << "the newest node is the head";
    EXPECT_EQ(object_node(first), list->next);
    EXPECT_EQ(object_node(second), object_node(first)->previous);
    EXPECT_EQ(reinterpret_cast<char*>(second) - sizeof(ObjectNode), reinterpret_cast<char*>(object_node(second)));
    EXPECT_EQ(7, first->words[0]);
    object_free(&list, second);
    object_free(&list, first);
    EXPECT_EQ(nullptr, list);
}

TEST(ObjectHeap, FreeingRelinksNeighboursInBothDirections)
{
    ObjectNode* list = nullptr;
    void* c = object_alloc(&list, NODE);
    void* b = object_alloc(&list, NODE);
    void* a = object_alloc(&list, NODE); // list: a, b, c
    object_free(&list, b);
    EXPECT_EQ(object_node(a), list);
    EXPECT_EQ(object_node(c), list->next);
    EXPECT_EQ(object_node(a), object_node(c)->previous);
    EXPECT_FALSE(object_in_list(list, b));

    object_free(&list, a); // the head
    EXPECT_EQ(object_node(c), list);
    EXPECT_EQ(nullptr, list->next);
    object_free(&list, c); // the only node
    EXPECT_EQ(nullptr, list);
}

TEST(ObjectHeap, FreeingTheTailClearsItsPredecessorsLink)
{
    ObjectNode* list = nullptr;
    void* tail = object_alloc(&list, NODE);
    void* head = object_alloc(&list, NODE);
    object_free(&list, tail);
    EXPECT_EQ(object_node(head), list);
    EXPECT_EQ(nullptr, list->next);
    object_free(&list, head);
}

TEST(ObjectHeap, NoRoomGivesNullAndLeavesTheListAlone)
{
    ObjectNode* list = nullptr;
    void* kept = object_alloc(&list, NODE);
    EXPECT_EQ(nullptr, object_alloc(&list, SIZE_MAX / 2)) << "an allocation the heap cannot hold";
    EXPECT_EQ(object_node(kept), list);
    EXPECT_EQ(nullptr, list->next);
    EXPECT_EQ(nullptr, object_alloc(&list, 4)) << "a size smaller than the links is refused";
    object_free(&list, kept);
}

TEST(ObjectHeap, MembershipIsCheckedByWalkingTheList)
{
    ObjectNode* list = nullptr;
    ObjectNode* other = nullptr;
    void* mine = object_alloc(&list, NODE);
    void* theirs = object_alloc(&other, NODE);
    EXPECT_TRUE(object_in_list(list, mine));
    EXPECT_FALSE(object_in_list(list, theirs));
    EXPECT_FALSE(object_in_list(list, nullptr));
    object_free(&list, mine);
    object_free(&other, theirs);
}
