#pragma once

#include <windows.h>

// Owns one kernel handle (process, thread, pipe end) and closes it once.
class UniqueHandle
{
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle) : m_handle(handle) {}
    ~UniqueHandle() { Reset(); }

    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : m_handle(other.Release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept
    {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }

    HANDLE Get() const { return m_handle; }
    explicit operator bool() const { return m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE; }

    HANDLE Release()
    {
        HANDLE handle = m_handle;
        m_handle = nullptr;
        return handle;
    }

    void Reset(HANDLE handle = nullptr)
    {
        if (*this)
            ::CloseHandle(m_handle);
        m_handle = handle;
    }

private:
    HANDLE m_handle = nullptr;
};
