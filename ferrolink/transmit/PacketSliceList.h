// The ordered list of slices of CActualPrintData: one slice per frame, in sending order. A list
// type of our own, not a standard container, so that its layout is the same whatever compiler and
// standard library a host builds with: a pointer to the first slice and two 32-bit counts.
// Complete in this header. The host's side allocates and frees the block (new[]/delete[] compiled
// by the host); the library only reads size() and the slices.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>
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
    CPacketSliceList(std::initializer_list<SPacketSlice> slices) {
        assign(slices.begin(), slices.end());
    }
    CPacketSliceList& operator=(std::initializer_list<SPacketSlice> slices) {
        assign(slices.begin(), slices.end());
        return *this;
    }
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

    SPacketSlice& front() { return m_data[0]; }
    const SPacketSlice& front() const { return m_data[0]; }
    SPacketSlice& back() { return m_data[m_size - 1]; }
    const SPacketSlice& back() const { return m_data[m_size - 1]; }

    void clear() { m_size = 0; }
    void pop_back() { --m_size; }
    // New slices are empty ({0, 0}).
    void resize(size_type count) {
        reserve(count);
        for (size_type i = size(); i < count; ++i) m_data[i] = SPacketSlice{};
        m_size = static_cast<std::int32_t>(count);
    }
    void swap(CPacketSliceList& other) noexcept {
        std::swap(m_data, other.m_data);
        std::swap(m_size, other.m_size);
        std::swap(m_capacity, other.m_capacity);
    }
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
    template <class InputIt>
    void assign(InputIt first, InputIt last) {
        clear();
        reserve(static_cast<size_type>(std::distance(first, last)));
        for (; first != last; ++first) m_data[m_size++] = *first;
    }

private:
    SPacketSlice* m_data = nullptr;
    std::int32_t m_size = 0;
    std::int32_t m_capacity = 0;
};
