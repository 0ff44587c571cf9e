#include "debug_lines.h"

#include <windows.h>

namespace {
struct Caught {
    SRWLOCK lock = SRWLOCK_INIT; // std::mutex is not in this toolchain's thread model
    std::vector<std::string> lines;
    bool listening = false;
} caught;

// Holds the lock for the life of a block.
struct Hold {
    Hold() { ::AcquireSRWLockExclusive(&caught.lock); }
    ~Hold() { ::ReleaseSRWLockExclusive(&caught.lock); }
};

// OutputDebugStringA raises DBG_PRINTEXCEPTION_C (length with its null, then
// the text) before it looks for a debugger or a monitor; vectored handlers see
// it first. Searching on leaves the platform's own path as it was.
LONG CALLBACK debug_print_seen(EXCEPTION_POINTERS* info)
{
    const EXCEPTION_RECORD* r = info->ExceptionRecord;
    if (r->ExceptionCode == DBG_PRINTEXCEPTION_C && r->NumberParameters >= 2 && r->ExceptionInformation[1]) {
        Hold hold;
        if (caught.listening) caught.lines.emplace_back(reinterpret_cast<const char*>(r->ExceptionInformation[1]));
    }
    return EXCEPTION_CONTINUE_SEARCH;
}
} // namespace

DebugLines::DebugLines()
{
    Hold hold;
    caught.lines.clear();
    caught.listening = true;
    handler_ = ::AddVectoredExceptionHandler(1, debug_print_seen);
}

DebugLines::~DebugLines()
{
    ::RemoveVectoredExceptionHandler(handler_);
    Hold hold;
    caught.listening = false;
}

std::vector<std::string> DebugLines::lines() const
{
    Hold hold;
    return caught.lines;
}

bool DebugLines::contains(const std::string& text) const
{
    for (const std::string& line : lines())
        if (line.find(text) != std::string::npos) return true;
    return false;
}

std::string DebugLines::all() const
{
    std::string text;
    for (const std::string& line : lines()) text += line + (line.empty() || line.back() != '\n' ? "\n" : "");
    return text;
}
