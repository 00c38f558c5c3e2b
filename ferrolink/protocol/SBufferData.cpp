#include <ferrolink/protocol/SBufferData.h>

#include <ferrolink/outside/CustomBoostLog.h>

template <typename T>
bool SBufferData<T>::AllocateBuffer(int size) {
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

template <typename T>
T* SBufferData<T>::New_ElementBuffer(int size) {
    T* block = size > 0 ? new T[static_cast<std::size_t>(size)] : nullptr;
    if (block == nullptr) {
        FLK_LOG(2) << "Allocate memory failure. size = " << size;
    }
    return block;
}

template struct SBufferData<unsigned char>;
