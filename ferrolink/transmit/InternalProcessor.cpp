#include <ferrolink/transmit/InternalProcessor.h>

#include <cstring>
#include <limits>
#include <string>

#include <ferrolink/outside/CustomBoostLog.h>
#include <ferrolink/protocol/BoardFrame.h>
#include <ferrolink/protocol/ConstValue.h>
#include <ferrolink/protocol/NetworkHelper.h>
#include <ferrolink/transmit/CustomPCapSendQueue.h>
#include <ferrolink/transmit/PrintFrameBatch.h>

namespace platform = ferrolink::platform;
namespace frame = ferrolink::protocol::frame;

long long CInternalProcessor::QueueSize(CActualPrintData& printData) {
    const long long slices = static_cast<long long>(printData.m_packetList.size());
    if (printData.m_startPacketIndex < 0 || printData.m_startPacketIndex > slices) {
        FLK_LOG(2) << "m_startPacketIndex outside the packet list: m_startPacketIndex = "
                   << printData.m_startPacketIndex << ", packets = " << slices;
        return -1;
    }
    const int capacity = CNetworkHelper::GetActualPrintDataCapacity(printData.m_packetDataSize);
    if (capacity < 0) return -1;
    const long long record = static_cast<long long>(platform::SENDQUEUE_RECORD_HEADER_SIZE) +
                             capacity + CConstValue::GetFrameHeaderAndCheckSumSize();
    const long long size = (slices - printData.m_startPacketIndex) * record;
    if (size > std::numeric_limits<int>::max()) {
        FLK_LOG(2) << "send queue too large: memorySize = " << size;
        return -1;
    }
    return size;
}

// The size of the block is the host's option: a job that gives it has every slice checked
// against it; a job that leaves it at 0 vouches for its slices itself. A slice before the block
// is never inside it.
bool CInternalProcessor::IsSliceInsideBuffer(const CActualPrintData& printData,
                                             const SPacketSlice& slice) {
    if (slice.offset < 0) return false;
    if (printData.m_printDataSize == 0 || slice.length == 0) return true;
    return printData.m_printDataBuffer != nullptr && slice.length > 0 &&
           static_cast<long long>(slice.offset) + slice.length <= printData.m_printDataSize;
}

bool CInternalProcessor::SendPrintData(pcap_t* handle, CActualPrintData& printData,
                                       int frameIndex) {
    if (printData.m_packetList.size() == 0) {
        FLK_LOG(2) << "all print data is already sent.";
        return true;
    }
    const long long memorySize = QueueSize(printData);
    if (memorySize < 0) {
        FLK_LOG(2) << "failure";
        return false;
    }
#ifdef _WIN32
    CCustomPCapSendQueue queue(static_cast<int>(memorySize));
    if (queue.m_queue == nullptr) {
        FLK_LOG(2) << "pcap_sendqueue_alloc(...) failure.";
        return false;
    }
    if (!AddPrintDataToQueue(queue.m_queue, printData, frameIndex)) {
        FLK_LOG(2) << "failure";
        return false;  // the queue is destroyed untransmitted
    }
    if (!SendQueueData(handle, queue.m_queue)) {
        FLK_LOG(2) << "failure";
        return false;
    }
    return true;
#else
    int capacity = -1;
    if (!CheckPackets(printData, frameIndex, capacity) ||
        !SendFrames(handle, printData, frameIndex, capacity)) {
        FLK_LOG(2) << "failure";
        return false;
    }
    return true;
#endif
}

bool CInternalProcessor::CheckPackets(CActualPrintData& printData, int frameIndex, int& capacity) {
    const long long slices = static_cast<long long>(printData.m_packetList.size());
    if (printData.m_startPacketIndex < 0 || printData.m_startPacketIndex > slices) {
        FLK_LOG(2) << "m_startPacketIndex outside the packet list: m_startPacketIndex = "
                   << printData.m_startPacketIndex << ", packets = " << slices;
        return false;
    }
    for (long long i = printData.m_startPacketIndex; i < slices; ++i) {
        const SPacketSlice& slice = printData.m_packetList[static_cast<std::size_t>(i)];
        if (!IsSliceInsideBuffer(printData, slice)) {
            FLK_LOG(2) << "packet outside the print data: packetIndex = " << i
                       << ", offset = " << slice.offset << ", length = " << slice.length;
            return false;
        }
        if (i == printData.m_startPacketIndex) {
            capacity = CNetworkHelper::GetActualPrintDataCapacity(printData.m_packetDataSize);
            if (capacity < 0 || capacity > frame::kMaximumActualDataCapacity) {
                FLK_LOG(2) << "capacity basis too large: capacityBasis = "
                           << printData.m_packetDataSize;
                return false;
            }
        }
        const unsigned char* data = slice.length > 0 && printData.m_printDataBuffer != nullptr
                                        ? printData.m_printDataBuffer + slice.offset
                                        : nullptr;
        if (slice.length < 0 || slice.length > capacity || (data == nullptr && slice.length > 0)) {
            // A frame the builder refuses: it words the reason, exactly as for a single frame.
            SBufferData<unsigned char> refused;
            CNetworkHelper::PreparePacket_Print(frameIndex, static_cast<std::uint32_t>(i),
                                                PaddingValue_Random, printData.m_packetDataSize,
                                                data, slice.length, refused);
            return false;
        }
    }
    return true;
}

std::size_t CInternalProcessor::MakeFrames(CActualPrintData& printData, int frameIndex,
                                           int capacity, FTakeFrames take, void* context) {
    const std::size_t slices = printData.m_packetList.size();
    std::size_t i = static_cast<std::size_t>(printData.m_startPacketIndex);
    if (i >= slices) return 0;
    CPrintFrameBatch batch(static_cast<std::uint32_t>(frameIndex), capacity);
    std::size_t taken = 0;
    while (i < slices) {
        batch.Clear();
        for (; i < slices; ++i) {
            const SPacketSlice& slice = printData.m_packetList[i];
            const unsigned char* data =
                slice.length > 0 ? printData.m_printDataBuffer + slice.offset : nullptr;
            if (!batch.Add(static_cast<std::uint32_t>(i), data, slice.length)) break;
        }
        const std::size_t took = take(context, batch.Frames(), batch.Count());
        taken += took;
        if (took < batch.Count()) break;
    }
    return taken;
}

void CInternalProcessor::LogShortSend(pcap_t* handle, unsigned long long sendCount) {
    const char* error = pcap_geterr(handle);
    const std::size_t errorLength = error ? std::strlen(error) : 0;
    if (errorLength < 100) {
        FLK_LOG(1) << "sendCount = " << sendCount << ", " << (error ? error : "");
    } else {
        FLK_LOG(1) << "sendCount = " << sendCount;
    }
}

#ifdef _WIN32

bool CInternalProcessor::AddPrintDataToQueue(platform::pcap_send_queue* queue,
                                             CActualPrintData& printData, int frameIndex) {
    if (queue == nullptr) {
        FLK_LOG(2) << "failure";
        return false;
    }
    int capacity = -1;
    if (!CheckPackets(printData, frameIndex, capacity)) return false;
    const std::size_t wanted =
        printData.m_packetList.size() - static_cast<std::size_t>(printData.m_startPacketIndex);
    const auto append = [](void* context, const platform::SOutgoingFrame* frames,
                           std::size_t count) {
        auto* q = static_cast<platform::pcap_send_queue*>(context);
        std::size_t k = 0;
        while (k < count && CPrintFrameBatch::AppendRecord(frames[k], q->buffer, q->maxlen, q->len))
            ++k;
        return k;
    };
    if (MakeFrames(printData, frameIndex, capacity, append, queue) < wanted)
        FLK_LOG(2) << "pcap_sendqueue_queue(...) failure: packet buffer too small, not all "
                      "the packets will be sent.";
    return true;
}

bool CInternalProcessor::SendQueueData(pcap_t* handle, platform::pcap_send_queue* queue) {
    if (handle == nullptr || queue == nullptr) {
        FLK_LOG(2) << "failure";
        return false;
    }
    const unsigned int sendCount = platform::pcap_sendqueue_transmit(handle, queue, 1);
    if (sendCount < queue->len) LogShortSend(handle, sendCount);
    return true;
}

#else

// The frames leave as they are made, a batch at a time, gathered by the kernel straight from the
// host's data: the first frame is on the wire as soon as its batch is made, and no memory the
// size of the job is ever needed.
bool CInternalProcessor::SendFrames(pcap_t* handle, CActualPrintData& printData, int frameIndex,
                                    int capacity) {
    if (handle == nullptr) {
        FLK_LOG(2) << "failure";
        return false;
    }
    const std::size_t wanted =
        printData.m_packetList.size() - static_cast<std::size_t>(printData.m_startPacketIndex);
    if (wanted == 0) return true;
    const auto frameLength =
        static_cast<unsigned long long>(capacity + CConstValue::GetFrameHeaderAndCheckSumSize());
    platform::CFrameSender sender(handle, wanted * frameLength);
    std::size_t sent = 0;
    if (sender.IsReady()) {
        const auto send = [](void* context, const platform::SOutgoingFrame* frames,
                             std::size_t count) {
            return static_cast<platform::CFrameSender*>(context)->Send(frames, count);
        };
        sent = MakeFrames(printData, frameIndex, capacity, send, &sender);
    }
    if (sent < wanted)
        LogShortSend(handle, sent * (platform::SENDQUEUE_RECORD_HEADER_SIZE + frameLength));
    return true;
}

#endif
