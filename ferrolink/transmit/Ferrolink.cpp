#include <ferrolink/transmit/Ferrolink.h>

#include <new>

#include <ferrolink/outside/CustomBoostLog.h>
#include <ferrolink/transmit/InternalProcessor.h>

extern "C" FLK_API bool FLK_CALL FLK_SendPrintData(void* pcapHandle, CActualPrintData* printData,
                                                   int frameIndex) {
    if (pcapHandle == nullptr || printData == nullptr) {
        FLK_LOG(2) << "failure";
        return false;
    }
    // No exception crosses the boundary: an exhausted allocator is a failed send.
    try {
        return CInternalProcessor::SendPrintData(static_cast<pcap_t*>(pcapHandle), *printData,
                                                 frameIndex);
    } catch (const std::bad_alloc&) {
        FLK_LOG(2) << "failure: out of memory";
    } catch (...) {
        FLK_LOG(2) << "failure";
    }
    return false;
}
