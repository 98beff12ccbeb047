#pragma once
// The wait cursor for the life of the object, for long blocking steps
// (connecting, a service call). Nests; does nothing without a GUI.
class ScopedWaitCursor {
public:
    ScopedWaitCursor();
    ~ScopedWaitCursor();
    ScopedWaitCursor(const ScopedWaitCursor&) = delete;
    ScopedWaitCursor& operator=(const ScopedWaitCursor&) = delete;

private:
    bool shown_ = false;
};
