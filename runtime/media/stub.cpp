// Placeholder until the multimedia base lands.
#include "runtime/media/multimedia.h"
DisplayObject* multimedia_init() { return nullptr; }
void multimedia_shutdown() {}
