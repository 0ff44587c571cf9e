// The DirectX multimedia base built at every start.
#pragma once

struct DisplayObject;

// The display object table, or null when the base window, the keyboard or
// DirectDraw could not be set up.
DisplayObject* multimedia_init();
void multimedia_shutdown();
