#include "multimedia_internal.h"

#include "core/runtime.h"

DisplayObject* display_objects_create()
{
    multimedia.display_objects = static_cast<DisplayObject*>(
        ::HeapAlloc(main_heap(), HEAP_ZERO_MEMORY, DISPLAY_OBJECT_CAPACITY * sizeof(DisplayObject)));
    // Without the block there are no slots to sweep or index.
    multimedia.display_object_capacity = multimedia.display_objects ? DISPLAY_OBJECT_CAPACITY : 0;
    return multimedia.display_objects;
}

DisplayObject* display_object_find(intptr_t id)
{
    if (id >= 0 && id < multimedia.display_object_capacity) return &multimedia.display_objects[id];
    auto* payload = reinterpret_cast<DisplayObject*>(id);
    if (object_in_list(multimedia.display_object_list, payload)) return payload;
    return nullptr;
}

void display_object_free(intptr_t id)
{
    DisplayObject* slot = display_object_find(id);
    if (!slot || !slot->object) return;
    if (slot->kind == OBJECT_KIND_MEMORY)
        ::HeapFree(main_heap(), 0, slot->object);
    else
        static_cast<IUnknown*>(slot->object)->Release();
    if (slot->extra) ::HeapFree(main_heap(), 0, slot->extra);

    if (id >= 0 && id < multimedia.display_object_capacity) {
        slot->object = nullptr;
        // A reused slot must not free the old block a second time.
        slot->extra = nullptr;
    } else {
        object_free(&multimedia.display_object_list, slot);
    }
}

void display_objects_free_all()
{
    for (ObjectNode* node = multimedia.display_object_list; node;) {
        ObjectNode* next = node->next; // the node is gone after the free
        display_object_free(reinterpret_cast<intptr_t>(object_payload(node)));
        node = next;
    }
    for (int32_t number = 0; number < multimedia.display_object_capacity; ++number) display_object_free(number);
}
