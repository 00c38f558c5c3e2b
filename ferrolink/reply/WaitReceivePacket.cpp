#include <ferrolink/reply/WaitReceivePacket.h>

namespace ferrolink::core {

CWaitReceivePacket::CWaitReceivePacket(MacDataSymbolType dataSymbol, int count)
    : CCustomManualResetEvent(true), m_dataSymbol(dataSymbol), m_remainCount(count) {
    Reset();
}

CWaitReceivePacket::~CWaitReceivePacket() = default;

void CWaitReceivePacket::SetFrameData(MacDataSymbolType dataSymbol,
                                      SBufferData<unsigned char>& frame) {
    if (dataSymbol != m_dataSymbol || m_remainCount == 0) return;
    // A frame that cannot be parsed still counts as accepted: the waiter learns of it either way.
    m_packetData.InitializeByFrameData(frame.m_pBuffer, static_cast<std::uint32_t>(frame.m_count));
    if (m_remainCount > 0) --m_remainCount;
    Set();
}

bool CWaitReceivePacket::IsProperDataSymbol(MacDataSymbolType dataSymbol) const {
    return dataSymbol == m_dataSymbol;
}

}  // namespace ferrolink::core
