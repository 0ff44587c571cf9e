// The object heap: dynamic objects as nodes of per-service doubly linked lists.
// A dynamic object is known by the address of its payload.
#pragma once
#include <cstddef>

struct ObjectNode {
    ObjectNode* next;
    ObjectNode* previous; // not meaningful in a list's first node
    // the zeroed payload follows
};
#ifndef _WIN64
static_assert(sizeof(ObjectNode) == 8, "the links sit 8 bytes in front of the payload");
#endif

// Node size for a payload of the given record type.
template <typename T>
constexpr size_t object_node_size()
{
    return sizeof(ObjectNode) + sizeof(T);
}

bool object_heap_create();
void object_heap_destroy();
// Returns the zeroed payload of a new node linked at the head, or null when the
// heap has no room (the list is then unchanged).
void* object_alloc(ObjectNode** list, size_t node_size);
void object_free(ObjectNode** list, void* payload);
ObjectNode* object_node(void* payload);
void* object_payload(ObjectNode* node);
// True when payload is the payload of a node on the list (for checking identifiers).
bool object_in_list(ObjectNode* list, const void* payload);
