// Owns one send queue for the length of one bulk transmission; destroys it on every way out.
// Windows only: Linux sends a job's frames without a queue (CInternalProcessor).
#pragma once

#include <ferrolink/platform/PcapSendQueue.h>

#ifdef _WIN32
class CCustomPCapSendQueue {
public:
    explicit CCustomPCapSendQueue(int memorySize);
    ~CCustomPCapSendQueue();
    CCustomPCapSendQueue(const CCustomPCapSendQueue&) = delete;
    CCustomPCapSendQueue& operator=(const CCustomPCapSendQueue&) = delete;

    ferrolink::platform::pcap_send_queue* m_queue;  // null when the allocation failed
};
#endif
