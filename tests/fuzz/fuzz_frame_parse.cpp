// Frames from the wire into parsed records: both parse entry points and the clone.
#include <ferrolink/api/ferrolink.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include <ferrolink/protocol/PacketDataWrapper.h>

using namespace ferrolink::core;  // the library's core classes, linked from its archive

// Refusals log; with no sink Boost.Log would print each one, which only slows the fuzzer.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    flk_log_set_handler(nullptr, nullptr, nullptr);  // no handler: records are dropped unformatted
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Exact-size copy so that any read past the frame is caught.
    std::unique_ptr<unsigned char[]> frame(new unsigned char[size ? size : 1]);
    if (size) std::memcpy(frame.get(), data, size);
    const auto length = static_cast<std::uint32_t>(size);

    SPacketData record{};
    if (CPacketDataWrapper::FrameData2PacketData(frame.get(), length, record)) {
        if (record.actualDataLen > 0 &&
            record.actualData[record.actualDataLen - 1] != frame[size - 5])
            __builtin_trap();
    }
    delete[] record.actualData;

    CPacketDataWrapper wrapper;
    const bool parsed = wrapper.InitializeByFrameData(frame.get(), length);
    wrapper.InitializeByFrameData(frame.get(), length / 2);  // re-parse releases the first block
    std::unique_ptr<CPacketDataWrapper> clone(wrapper.Clone_PacketDataWrapper());
    if (parsed && !clone) __builtin_trap();
    return 0;
}
