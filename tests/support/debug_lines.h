// The "sondrel: " lines this process writes with OutputDebugStringA, caught
// where the platform raises them as a debug-print exception.
#pragma once
#include <string>
#include <vector>

// Collects, while it lives, every string any thread of the process passes to
// OutputDebugStringA. One at a time.
class DebugLines {
public:
    DebugLines();
    ~DebugLines();
    DebugLines(const DebugLines&) = delete;
    DebugLines& operator=(const DebugLines&) = delete;
    std::vector<std::string> lines() const;
    // Whether a line caught so far holds the text.
    bool contains(const std::string& text) const;
    // Every line caught so far, one a line, for an assertion's message.
    std::string all() const;

private:
    void* handler_ = nullptr;
};
