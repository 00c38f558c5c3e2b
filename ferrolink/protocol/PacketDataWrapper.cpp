#include <ferrolink/protocol/PacketDataWrapper.h>

#include <cstring>
#include <new>

#include <ferrolink/outside/CustomBoostLog.h>
#include <ferrolink/protocol/BoardFrame.h>
#include <ferrolink/protocol/WireBytes.h>

namespace ferrolink::core {

namespace {

namespace frame = ferrolink::protocol::frame;

// A data area this large or larger cannot come from a board.
constexpr int kActualDataLimit = 102400;

}  // namespace

CPacketDataWrapper::CPacketDataWrapper() {
    m_packetData.actualData = nullptr;
    m_packetData.actualDataLen = 0;
}

CPacketDataWrapper::~CPacketDataWrapper() {
    Release_PacketActualData(m_packetData);
}

bool CPacketDataWrapper::FrameData2PacketHeader(const unsigned char* frame,
                                                std::uint32_t frameLength, SPacketHeader& header) {
    const ferrolink::protocol::CWireReader in(frame, frameLength);
    if (!in.Fits(0, frame::kActualDataOffset)) {  // the whole header, or nothing is read
        FLK_LOG(2) << "failure";
        return false;
    }
    std::memcpy(header.destinationMac, frame + frame::kDestinationMacOffset, 6);
    std::memcpy(header.sourceMac, frame + frame::kSourceMacOffset, 6);
    in.Load16(frame::kFrameLengthOffset, header.frameLength);
    in.Load16(frame::kDataSymbolOffset, header.dataSymbol);
    in.Load32(frame::kFrameIndexOffset, header.frameIndex);
    in.Load32(frame::kPacketIndexOffset, header.packetIndex);
    return true;
}

bool CPacketDataWrapper::ActualData2PacketData(const unsigned char* data, int length,
                                               SPacketData& packetData) {
    const bool accepted = length < kActualDataLimit &&
                          ((data != nullptr && length >= 1) || (data == nullptr && length < 1));
    if (!accepted) {
        FLK_LOG(2) << "failure";
        return false;
    }
    Release_PacketActualData(packetData);
    packetData.actualDataLen = length;
    if (length < 1) return true;
    unsigned char* block = new (std::nothrow) unsigned char[static_cast<std::size_t>(length)];
    if (block == nullptr) {
        packetData.actualDataLen = 0;
        FLK_LOG(2) << "failure";
        return false;
    }
    std::memcpy(block, data, static_cast<std::size_t>(length));
    packetData.actualData = block;
    return true;
}

void CPacketDataWrapper::Release_PacketActualData(SPacketData& packetData) {
    delete[] packetData.actualData;
    packetData.actualData = nullptr;
}

bool CPacketDataWrapper::Parse(const unsigned char* frame, std::uint32_t frameLength,
                               SPacketData& packetData) {
    if (!FrameData2PacketHeader(frame, frameLength, packetData)) return false;
    // Unsigned difference taken as int: frames of 24 to 27 bytes give a negative length here.
    const int length =
        static_cast<int>(frameLength - static_cast<std::uint32_t>(frame::kHeaderAndCheckSumSize));
    return ActualData2PacketData(frame + frame::kActualDataOffset, length, packetData);
}

bool CPacketDataWrapper::InitializeByFrameData(const unsigned char* frame,
                                               std::uint32_t frameLength) {
    if (!Parse(frame, frameLength, m_packetData)) {
        FLK_LOG(2) << "failure";
        return false;
    }
    return true;
}

bool CPacketDataWrapper::FrameData2PacketData(const unsigned char* frame, std::uint32_t frameLength,
                                              SPacketData& packetData) {
    if (!Parse(frame, frameLength, packetData)) {
        FLK_LOG(2) << "failure";
        return false;
    }
    return true;
}

SPacketData* CPacketDataWrapper::Clone_PacketData() const {
    auto* copy = new SPacketData(m_packetData);  // header fields; the block is copied below
    copy->actualData = nullptr;
    copy->actualDataLen = 0;
    if (!ActualData2PacketData(m_packetData.actualData, m_packetData.actualDataLen, *copy)) {
        delete copy;
        return nullptr;
    }
    return copy;
}

CPacketDataWrapper* CPacketDataWrapper::Clone_PacketDataWrapper() const {
    auto* copy = new CPacketDataWrapper();
    static_cast<SPacketHeader&>(copy->m_packetData) = m_packetData;
    if (!ActualData2PacketData(m_packetData.actualData, m_packetData.actualDataLen,
                               copy->m_packetData)) {
        delete copy;  // its destructor releases whatever block it holds
        return nullptr;
    }
    return copy;
}

}  // namespace ferrolink::core
