// A read-only array that either owns its elements or lies in memory someone
// else keeps alive (a loaded index cache file), so a cached index is used
// where it was read to instead of being copied again.
#pragma once

#include <cstddef>
#include <vector>

namespace tarnvik {

template <typename T>
class Array
{
public:
    Array() = default;
    Array(std::vector<T> owned)
        : m_owned(std::move(owned))
        , m_data(m_owned.data())
        , m_size(m_owned.size())
    {
    }
    static Array view(const T *data, size_t size)
    {
        Array a;
        a.m_data = data;
        a.m_size = size;
        return a;
    }
    // Moving a vector keeps its buffer, so the pointer stays right; a copy would not.
    Array(Array &&) = default;
    Array &operator=(Array &&) = default;
    Array(const Array &) = delete;
    Array &operator=(const Array &) = delete;

    const T &operator[](size_t i) const { return m_data[i]; }
    const T *data() const { return m_data; }
    size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    const T *begin() const { return m_data; }
    const T *end() const { return m_data + m_size; }
    // Heap bytes in use; a view holds none. (Reserved room never written costs
    // address space only.)
    size_t ownedBytes() const { return m_owned.size() * sizeof(T); }

private:
    std::vector<T> m_owned;
    const T *m_data = nullptr;
    size_t m_size = 0;
};

} // namespace tarnvik
