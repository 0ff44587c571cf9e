#include "multimedia_internal.h"

#include "core/runtime.h"

DisplayObject* display_object_find(intptr_t id)
{
    return static_cast<DisplayObject*>(table_find(&multimedia().display_objects, id));
}

void display_object_free(intptr_t id)
{
    DisplayObject* slot = display_object_find(id);
    if (!slot) return;
    if (slot->kind == OBJECT_KIND_MEMORY)
        ::HeapFree(main_heap(), 0, slot->object);
    else
        static_cast<IUnknown*>(slot->object)->Release();
    if (slot->extra) ::HeapFree(main_heap(), 0, slot->extra);
    slot->extra = nullptr; // a reused slot must not free the old block a second time
    table_release(&multimedia().display_objects, id);
}

void display_objects_free_all()
{
    table_for_each(&multimedia().display_objects, display_object_free, false);
}
