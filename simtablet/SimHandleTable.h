#pragma once
// Opaque values handed out to the caller (device handles, preparsed data,
// device information sets, notification registrations) and what each stands for.
//
// Values are never reused, so a value that was freed stays refused instead of
// silently naming something newer. Each kind of value gets its own range, so
// passing one kind where another belongs is refused as well. Iteration
// follows creation order.

#include <cstddef>
#include <cstdint>
#include <map>

template <typename T>
class SimHandleTable {
public:
    SimHandleTable(std::uintptr_t base, std::uintptr_t step) : m_base(base), m_step(step) {}

    std::uintptr_t Add(T item)
    {
        const std::uintptr_t value = m_base + m_step * ++m_issued;
        m_items.emplace(value, std::move(item));
        return value;
    }

    template <typename V>
    T* Find(V value)
    {
        const auto found = m_items.find(reinterpret_cast<std::uintptr_t>(value));
        return found == m_items.end() ? nullptr : &found->second;
    }

    template <typename V>
    bool Remove(V value)
    {
        return m_items.erase(reinterpret_cast<std::uintptr_t>(value)) != 0;
    }

    std::size_t Size() const { return m_items.size(); }
    std::map<std::uintptr_t, T>& Items() { return m_items; }
    const std::map<std::uintptr_t, T>& Items() const { return m_items; }

private:
    std::uintptr_t m_base;
    std::uintptr_t m_step;
    std::uintptr_t m_issued = 0;
    std::map<std::uintptr_t, T> m_items;
};
