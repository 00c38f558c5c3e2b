// Where a thread waiting for one kind of board frame meets the receive thread: the receive
// callback offers frames with SetFrameData, the waiter waits on this manual-reset event and then
// reads the last accepted frame.
#pragma once

#include <ferrolink/FerrolinkExport.h>
#include <ferrolink/outside/CustomManualResetEvent.h>
#include <ferrolink/protocol/BoardFrame.h>
#include <ferrolink/protocol/PacketDataWrapper.h>
#include <ferrolink/protocol/SBufferData.h>

namespace ferrolink::core {

class CWaitReceivePacket : public CCustomManualResetEvent {
public:
    // Accepts `count` frames of `dataSymbol` (a negative count: any number; 0: none).
    CWaitReceivePacket(MacDataSymbolType dataSymbol, int count);
    ~CWaitReceivePacket() override;
    // The stored frame has one owner: copies are refused.
    CWaitReceivePacket(const CWaitReceivePacket&) = delete;
    CWaitReceivePacket& operator=(const CWaitReceivePacket&) = delete;

    // Offers one received frame whose dataSymbol field read `dataSymbol`; on the receive thread.
    void SetFrameData(MacDataSymbolType dataSymbol, SBufferData<unsigned char>& frame);
    bool IsProperDataSymbol(MacDataSymbolType dataSymbol) const;

    // The last accepted frame (m_packetData.PacketData()); read it only while no further frame
    // can be accepted.
    const SPacketData& PacketData() const { return m_packetData.PacketData(); }
    int RemainCount() const { return m_remainCount; }

    // The waiting side reads m_packetData after its wait returns; SetFrameData alone writes them.
    MacDataSymbolType m_dataSymbol;
    CPacketDataWrapper m_packetData;
    int m_remainCount;
};

}  // namespace ferrolink::core
