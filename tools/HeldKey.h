#pragma once

#include <windows.h>

// Holds one key down on the keyboard, as a user's finger would, until it is
// released or the object goes. The key state is the desktop's: every program
// started meanwhile sees the key held (GetAsyncKeyState, and GetKeyState
// before its thread has read any input).
class HeldKey
{
public:
    explicit HeldKey(WORD virtualKey);
    ~HeldKey() { Release(); }
    HeldKey(const HeldKey&) = delete;
    HeldKey& operator=(const HeldKey&) = delete;

    bool IsHeld() const { return m_held; }
    void Release();

private:
    bool Send(bool up) const;

    WORD m_key;
    bool m_held;
};
