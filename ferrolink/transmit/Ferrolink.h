// Bulk print-data transmission, the one function exported under a plain C name beside the C
// interface. A host needs only this header to send print data: it brings CActualPrintData with it.
#pragma once

#include <ferrolink/api/ferrolink.h>
#include <ferrolink/transmit/ActualPrintData.h>

// Sends every packet of `printData` from m_startPacketIndex on, as print-data frames with random
// padding and `frameIndex` in every frame, through one send queue on the live capture handle
// `pcapHandle` (a pcap_t*). The caller must have exclusive use of the handle for the call.
extern "C" FLK_API bool FLK_CALL FLK_SendPrintData(void* pcapHandle, CActualPrintData* printData,
                                                   int frameIndex);
