// The work behind FLK_SendPrintData: every packet from the start index on becomes a board frame,
// and the frames leave back to back. On Linux they leave in batches straight from the host's data
// (nothing of the job is copied or queued first); on Windows through one Npcap send queue that is
// transmitted in a single call. Static only; not exported.
#pragma once

#include <pcap/pcap.h>

#include <cstddef>

#include <ferrolink/platform/FrameSender.h>
#include <ferrolink/platform/PcapSendQueue.h>
#include <ferrolink/transmit/ActualPrintData.h>

class CInternalProcessor {
public:
    CInternalProcessor() = delete;

    static bool SendPrintData(pcap_t* handle, CActualPrintData& printData, int frameIndex);
#ifdef _WIN32
    static bool AddPrintDataToQueue(ferrolink::platform::pcap_send_queue* queue,
                                    CActualPrintData& printData, int frameIndex);
    static bool SendQueueData(pcap_t* handle, ferrolink::platform::pcap_send_queue* queue);
#endif

    // Takes a batch of frames and returns how many of them it took, in order.
    using FTakeFrames = std::size_t (*)(void* context,
                                        const ferrolink::platform::SOutgoingFrame* frames,
                                        std::size_t count);
    // Makes the frames of the packets from m_startPacketIndex on, `capacity` bytes of data area
    // each (the packets checked by CheckPackets), and hands them to `take` batch by batch until
    // a batch is not taken whole. Returns the frames taken.
    static std::size_t MakeFrames(CActualPrintData& printData, int frameIndex, int capacity,
                                  FTakeFrames take, void* context);
    // Checks every packet from m_startPacketIndex on before a frame is made, so that a refused
    // job sends nothing; logs the reason of a refusal. `capacity` is then the data area of every
    // frame of the call (left as it is when there is no packet to send).
    static bool CheckPackets(CActualPrintData& printData, int frameIndex, int& capacity);

private:
    // Queue bytes for the packets from m_startPacketIndex on; -1 (logged) when the request is
    // inconsistent or the size does not fit a signed 32-bit integer. Linux has no queue but
    // refuses the same jobs, and counts a short send in the same bytes.
    static long long QueueSize(CActualPrintData& printData);
    static bool IsSliceInsideBuffer(const CActualPrintData& printData, const SPacketSlice& slice);
#ifndef _WIN32
    static bool SendFrames(pcap_t* handle, CActualPrintData& printData, int frameIndex,
                           int capacity);
#endif
    // A transmission that ended short: the log says how far it came and, if short, why.
    static void LogShortSend(pcap_t* handle, unsigned long long sendCount);
};
