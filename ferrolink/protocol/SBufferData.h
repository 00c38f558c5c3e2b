// An owned block of elements with its count: frames and MAC addresses travel in
// SBufferData<unsigned char>. Copies are deep, so two buffers never share one block.
// Complete in this header: the host's compiler instantiates it, the library does the same for its
// own use, and nothing of it crosses the binary boundary. Failures are logged through the C
// interface.
#pragma once

#include <algorithm>
#include <cstddef>
#include <utility>

#include <ferrolink/api/LogRecord.h>

template <typename T>
struct SBufferData {
    T* m_pBuffer = nullptr;  // null exactly when m_count is 0
    int m_count = 0;

    SBufferData() = default;
    ~SBufferData() { Release(); }

    SBufferData(const SBufferData& other) { CopyFrom(other); }
    SBufferData& operator=(const SBufferData& other) {
        if (this != &other) {
            Release();
            CopyFrom(other);
        }
        return *this;
    }
    SBufferData(SBufferData&& other) noexcept
        : m_pBuffer(std::exchange(other.m_pBuffer, nullptr)),
          m_count(std::exchange(other.m_count, 0)) {}
    SBufferData& operator=(SBufferData&& other) noexcept {
        if (this != &other) {
            Release();
            m_pBuffer = std::exchange(other.m_pBuffer, nullptr);
            m_count = std::exchange(other.m_count, 0);
        }
        return *this;
    }

    // Makes the buffer hold `size` zero-valued elements, reusing the block when the size is
    // unchanged so that frame after frame of one length is built without allocating.
    bool AllocateBuffer(int size) {
        if (size == m_count) {
            std::fill_n(m_pBuffer, m_count, T());
            return true;
        }
        Release();
        if (size < 0) {
            FLK_LOG(2) << "failure";
            return false;
        }
        if (size == 0) return true;
        T* block = New_ElementBuffer(size);
        if (block == nullptr) {
            FLK_LOG(2) << "failure";
            return false;
        }
        std::fill_n(block, size, T());
        m_pBuffer = block;
        m_count = size;
        return true;
    }

    // An uninitialised block of `size` elements that the caller owns; null (and a record) when
    // none is obtained. Exhaustion of the standard allocator still raises std::bad_alloc.
    static T* New_ElementBuffer(int size) {
        T* block = size > 0 ? new T[static_cast<std::size_t>(size)] : nullptr;
        if (block == nullptr) FLK_LOG(2) << "Allocate memory failure. size = " << size;
        return block;
    }

    // Takes ownership of a block of `count` elements, releasing the current one.
    void Install(T* block, int count) {
        Release();
        m_pBuffer = block;
        m_count = block ? count : 0;
    }

    void Release() {
        delete[] m_pBuffer;
        m_pBuffer = nullptr;
        m_count = 0;
    }

private:
    void CopyFrom(const SBufferData& other) {
        if (other.m_count > 0) {
            m_pBuffer = new T[static_cast<std::size_t>(other.m_count)];
            std::copy_n(other.m_pBuffer, other.m_count, m_pBuffer);
            m_count = other.m_count;
        }
    }
};
