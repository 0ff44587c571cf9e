#include "app/program.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    program_entry();
}
