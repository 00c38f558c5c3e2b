// The ordered list of slices of CActualPrintData: one slice per frame, in sending order. A list
// type of our own, not a standard container, so that its layout is the same whatever compiler and
// standard library a host builds with: a pointer to the first slice and two 32-bit counts.
// Complete in this header. The host's side allocates and frees the block (new[]/delete[] compiled
// by the host); the library only reads size() and the slices.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>
#include <utility>

struct SPacketSlice {
    std::int32_t offset = 0;  // first byte of the packet in m_printDataBuffer
    std::int32_t length = 0;  // bytes in the packet
};

class CPacketSliceList {
public:
    using value_type = SPacketSlice;
    using size_type = std::size_t;
    using iterator = SPacketSlice*;
    using const_iterator = const SPacketSlice*;

    CPacketSliceList() = default;
    ~CPacketSliceList() { delete[] m_data; }
    CPacketSliceList(const CPacketSliceList& other) { assign(other.begin(), other.end()); }
    CPacketSliceList& operator=(const CPacketSliceList& other) {
        if (this != &other) {
            clear();
            assign(other.begin(), other.end());
        }
        return *this;
    }
    CPacketSliceList(CPacketSliceList&& other) noexcept
        : m_data(std::exchange(other.m_data, nullptr)),
          m_size(std::exchange(other.m_size, 0)),
          m_capacity(std::exchange(other.m_capacity, 0)) {}
    CPacketSliceList& operator=(CPacketSliceList&& other) noexcept {
        if (this != &other) {
            delete[] m_data;
            m_data = std::exchange(other.m_data, nullptr);
            m_size = std::exchange(other.m_size, 0);
            m_capacity = std::exchange(other.m_capacity, 0);
        }
        return *this;
    }

    size_type size() const { return static_cast<size_type>(m_size); }
    bool empty() const { return m_size == 0; }
    size_type capacity() const { return static_cast<size_type>(m_capacity); }
    SPacketSlice* data() { return m_data; }
    const SPacketSlice* data() const { return m_data; }
    SPacketSlice& operator[](size_type i) { return m_data[i]; }
    const SPacketSlice& operator[](size_type i) const { return m_data[i]; }
    iterator begin() { return m_data; }
    iterator end() { return m_data + m_size; }
    const_iterator begin() const { return m_data; }
    const_iterator end() const { return m_data + m_size; }

    void clear() { m_size = 0; }
    // Raises std::bad_alloc beyond 2^31 - 1 slices, the most a frame's packet index can count.
    void reserve(size_type count) {
        if (count <= capacity()) return;
        if (count > static_cast<size_type>(std::numeric_limits<std::int32_t>::max()))
            throw std::bad_alloc();
        auto* block = new SPacketSlice[count];
        std::copy(begin(), end(), block);
        delete[] m_data;
        m_data = block;
        m_capacity = static_cast<std::int32_t>(count);
    }
    void push_back(const SPacketSlice& slice) {
        if (m_size == m_capacity) reserve(m_capacity == 0 ? 16 : capacity() * 2);
        m_data[m_size++] = slice;
    }
    void assign(const SPacketSlice* first, const SPacketSlice* last) {
        clear();
        reserve(static_cast<size_type>(last - first));
        for (; first != last; ++first) m_data[m_size++] = *first;
    }

private:
    SPacketSlice* m_data = nullptr;
    std::int32_t m_size = 0;
    std::int32_t m_capacity = 0;
};
