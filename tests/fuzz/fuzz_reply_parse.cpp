// Board status replies into SWaitCheckParam: arbitrary data areas, records without a block and
// records whose length is shorter than their block or negative, with errors examined or not.
// Byte 0 steers the record; the rest is the data area.
//   bit 0  m_bCheckError
//   bit 1  no block at all; the claimed length comes from kNullLengths by the upper bits
//   bit 2  the record claims (byte 0 >> 3) bytes fewer than its block holds, possibly below zero
#include <ferrolink/api/ferrolink.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>

#include <ferrolink/reply/SWaitCheckParam.h>

using namespace ferrolink::core;  // the library's core classes, linked from its archive

namespace {

const int kNullLengths[] = {0,
                            -1,
                            11,
                            12,
                            15,
                            16,
                            31,
                            32,
                            40,
                            60,
                            1500,
                            std::numeric_limits<int>::max(),
                            std::numeric_limits<int>::min()};

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

}  // namespace

// Board errors and refusals log; with no sink Boost.Log would print each one.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    flk_log_set_handler(nullptr, nullptr, nullptr);  // no handler: records are dropped unformatted
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0 || size > 4096) return 0;
    const std::uint8_t control = data[0];
    const std::size_t n = size - 1;
    // Exact-size copy so that any read past the block is caught.
    std::unique_ptr<unsigned char[]> block(n ? new unsigned char[n] : nullptr);
    if (n) std::memcpy(block.get(), data + 1, n);

    SPacketData record{};
    if (control & 2) {
        record.actualData = nullptr;
        record.actualDataLen = kNullLengths[(control >> 2) % (sizeof kNullLengths / sizeof(int))];
    } else {
        record.actualData = block.get();
        record.actualDataLen = static_cast<int>(n) - ((control & 4) ? (control >> 3) : 0);
    }
    const bool check = (control & 1) != 0;
    const bool hasBlock = record.actualData != nullptr;

    SWaitCheckParam param(check);
    const bool parsed = param.ParseInfo(record);
    Check(parsed == (hasBlock && record.actualDataLen >= 32));
    Check(!param.m_b9);
    if (check && hasBlock && record.actualDataLen >= 12) {
        Check(param.m_b0_Re_Frame_Ver_Err == ((block[3] & 1) != 0));
        Check(param.m_b13_DDR2_Empty == ((block[3] & 0x40) != 0 && (block[2] & 0x20) != 0));
    }
    if (!check) {
        Check(!param.ExistError() && param.m_frameIndexOfResend == -1 &&
              param.m_frameIndexOfCurMax == -1);
    }
    Check(param.ExistError() == (param.ExistError_Resend() || param.ExistError_Fatal()));
    const int next = param.GetFrameIndexOfResend();
    if (param.ExistError_Resend()) Check(next == param.m_frameIndexOfResend);
    SBoardErrorInfo info{};
    Check(param.GetErrorInfo(info));
    Check(info.m_b13_DDR2_Empty == param.m_b13_DDR2_Empty);

    // A second reply into the same object, and the single steps on their own.
    SWaitCheckParam copy = param;
    copy.m_bCheckError = !check;
    copy.ParseInfo(record);
    copy.Parse_VersionInfo(record);
    copy.Parse_BandInfo(record);
    return 0;
}
