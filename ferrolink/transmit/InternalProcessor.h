// The work behind FLK_SendPrintData: every packet becomes a board frame in one send queue, which
// is transmitted in a single call. Static only; not exported.
#pragma once

#include <pcap/pcap.h>

#include <ferrolink/platform/PcapSendQueue.h>
#include <ferrolink/transmit/ActualPrintData.h>

class CInternalProcessor {
public:
    CInternalProcessor() = delete;

    static bool SendPrintData(pcap_t* handle, CActualPrintData& printData, int frameIndex);
    static bool AddPrintDataToQueue(ferrolink::platform::pcap_send_queue* queue,
                                    CActualPrintData& printData, int frameIndex);
    static bool SendQueueData(pcap_t* handle, ferrolink::platform::pcap_send_queue* queue);

private:
    // Queue bytes for the packets from m_startPacketIndex on; -1 (logged) when the request is
    // inconsistent or the size does not fit a signed 32-bit integer.
    static long long QueueSize(const CActualPrintData& printData);
    static bool IsSliceInsideBuffer(const CActualPrintData& printData, const SPacketSlice& slice);
};
