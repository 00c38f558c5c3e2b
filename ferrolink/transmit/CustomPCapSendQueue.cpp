#include <ferrolink/transmit/CustomPCapSendQueue.h>

#ifdef _WIN32

#include <ferrolink/outside/CustomBoostLog.h>

CCustomPCapSendQueue::CCustomPCapSendQueue(int memorySize)
    : m_queue(memorySize < 0 ? nullptr
                             : ferrolink::platform::pcap_sendqueue_alloc(
                                   static_cast<unsigned int>(memorySize))) {
    if (m_queue == nullptr) {
        FLK_LOG(2) << "memorySize = " << memorySize;
    }
}

CCustomPCapSendQueue::~CCustomPCapSendQueue() {
    if (m_queue != nullptr) {
        ferrolink::platform::pcap_sendqueue_destroy(m_queue);
        m_queue = nullptr;
    }
}

#endif
