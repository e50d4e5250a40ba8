#include "HeldKey.h"

HeldKey::HeldKey(WORD virtualKey) : m_key(virtualKey), m_held(false)
{
    m_held = Send(false);
}

void HeldKey::Release()
{
    // Released in any case: a key left down would reach every later program.
    if (m_held)
        Send(true);
    m_held = false;
}

bool HeldKey::Send(bool up) const
{
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = m_key;
    input.ki.wScan = static_cast<WORD>(::MapVirtualKeyA(m_key, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    return ::SendInput(1, &input, sizeof(input)) == 1;
}
