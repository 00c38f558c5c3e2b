#include <ferrolink/transmit/Ferrolink.h>

#include <ferrolink/outside/CustomBoostLog.h>
#include <ferrolink/transmit/InternalProcessor.h>

extern "C" FERROLINK_API bool FLK_SendPrintData(void* pcapHandle, CActualPrintData* printData,
                                                int frameIndex) {
    if (pcapHandle == nullptr || printData == nullptr) {
        FLK_LOG(2) << "failure";
        return false;
    }
    return CInternalProcessor::SendPrintData(static_cast<pcap_t*>(pcapHandle), *printData,
                                             frameIndex);
}
