#pragma once
// Owns one kernel object handle (a file, a mutex, a token) and closes it
// once, when the object ends. Functions disagree on what "no handle" is:
// CreateFile answers INVALID_HANDLE_VALUE, CreateMutex and OpenProcessToken
// answer null; both count as empty here.

#include <windows.h>

class CHandle {
public:
    CHandle() = default;
    explicit CHandle(HANDLE handle) : m_handle(handle) {}
    ~CHandle() { Close(); }
    CHandle(const CHandle&) = delete;
    CHandle& operator=(const CHandle&) = delete;

    HANDLE Get() const { return m_handle; }
    bool IsValid() const { return m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE; }

    // Takes `handle` over, closing the one held before.
    void Attach(HANDLE handle)
    {
        Close();
        m_handle = handle;
    }

    void Close()
    {
        if (IsValid())
            ::CloseHandle(m_handle);
        m_handle = nullptr;
    }

private:
    HANDLE m_handle = nullptr;
};
