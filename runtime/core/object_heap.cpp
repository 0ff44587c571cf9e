#include "core/object_heap.h"
#include "core/runtime.h"

#include <windows.h>

static struct ObjectHeapState {
    HANDLE heap;
} object_heap;

bool object_heap_create()
{
    object_heap.heap = ::HeapCreate(0, 1024, 0);
    if (!object_heap.heap) core_report("no heap for dynamic objects (error %lu)", ::GetLastError());
    return object_heap.heap != nullptr;
}

void object_heap_destroy()
{
    if (object_heap.heap) ::HeapDestroy(object_heap.heap);
    object_heap.heap = nullptr;
}

ObjectNode* object_node(void* payload)
{
    return reinterpret_cast<ObjectNode*>(static_cast<char*>(payload) - sizeof(ObjectNode));
}
void* object_payload(ObjectNode* node)
{
    return reinterpret_cast<char*>(node) + sizeof(ObjectNode);
}

void* object_alloc(ObjectNode** list, size_t node_size)
{
    if (!object_heap.heap || node_size < sizeof(ObjectNode)) return nullptr;
    auto* node = static_cast<ObjectNode*>(::HeapAlloc(object_heap.heap, HEAP_ZERO_MEMORY, node_size));
    if (!node) return nullptr;
    if (*list) {
        (*list)->previous = node;
        node->next = *list;
    }
    *list = node;
    return object_payload(node);
}

void object_free(ObjectNode** list, void* payload)
{
    ObjectNode* node = object_node(payload);
    if (*list == node) {
        *list = node->next;
    } else {
        node->previous->next = node->next;
        if (node->next) node->next->previous = node->previous;
    }
    ::HeapFree(object_heap.heap, 0, node);
}

bool object_in_list(ObjectNode* list, const void* payload)
{
    if (!payload) return false;
    for (ObjectNode* node = list; node; node = node->next)
        if (object_payload(node) == payload) return true;
    return false;
}
