// Frame building with arbitrary arguments: nothing may be written outside the frame, and every
// frame reported as built must be complete and carry a valid checksum when its capacity allows.
#include <ferrolink/api/ferrolink.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include <ferrolink/protocol/NetworkHelper.h>

using namespace ferrolink::core;  // the library's core classes, linked from its archive

namespace {

template <typename T>
T Take(const std::uint8_t*& p, std::size_t& n) {
    T v{};
    const std::size_t k = n < sizeof(T) ? n : sizeof(T);
    std::memcpy(&v, p, k);
    p += k;
    n -= k;
    return v;
}

}  // namespace

// Refusals log; with no sink Boost.Log would print each one, which only slows the fuzzer.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    flk_log_set_handler(nullptr, nullptr, nullptr);  // no handler: records are dropped unformatted
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto dataSymbol = Take<std::uint16_t>(data, size);
    const auto frameIndex = Take<std::uint32_t>(data, size);
    const auto packetIndex = Take<std::uint32_t>(data, size);
    const auto padding = static_cast<PaddingValueType>(Take<std::uint8_t>(data, size) % 4);
    const auto capacity = Take<std::uint16_t>(data, size);
    const auto lengthDelta = Take<std::int16_t>(data, size);
    const bool usePrint = Take<std::uint8_t>(data, size) & 1;

    std::vector<unsigned char> payload(data, data + size);
    int length = static_cast<int>(payload.size()) + lengthDelta % 8;  // sometimes lies a little
    if (length > static_cast<int>(payload.size())) length = static_cast<int>(payload.size());

    SBufferData<unsigned char> frame;
    bool built;
    if (usePrint) {
        built = CNetworkHelper::PreparePacket_Print(
            static_cast<int>(frameIndex), packetIndex, padding, static_cast<std::int16_t>(capacity),
            payload.empty() ? nullptr : payload.data(), length, frame);
    } else {
        built = CNetworkHelper::PreparePacket(dataSymbol, frameIndex, packetIndex,
                                              payload.empty() ? nullptr : payload.data(), length,
                                              capacity, padding, frame);
    }
    if (built) {
        if (frame.m_count < 28) __builtin_trap();
        const int frameLength = (frame.m_pBuffer[12] << 8) | frame.m_pBuffer[13];
        if (frameLength != frame.m_count) __builtin_trap();
        if ((frame.m_count - 28) % 4 == 0 &&
            !CNetworkHelper::IsValidCheckSum(frame.m_pBuffer, frame.m_count))
            __builtin_trap();
        if (length > 0 && std::memcmp(frame.m_pBuffer + 24, payload.data(),
                                      static_cast<std::size_t>(length)) != 0)
            __builtin_trap();
    }
    return 0;
}
