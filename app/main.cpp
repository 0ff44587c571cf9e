#include "core/runtime.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    program_entry();
}
