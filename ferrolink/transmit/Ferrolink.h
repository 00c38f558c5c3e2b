// Bulk print-data transmission, the one function exported under a plain C name. A host needs only
// this header to send print data: it brings CActualPrintData with it.
#pragma once

#include <ferrolink/FerrolinkExport.h>
#include <ferrolink/transmit/ActualPrintData.h>

// Sends every packet of `printData` from m_startPacketIndex on, as print-data frames with random
// padding and `frameIndex` in every frame, through one send queue on the live capture handle
// `pcapHandle` (a pcap_t*). The caller must have exclusive use of the handle for the call.
extern "C" FERROLINK_API bool FLK_SendPrintData(void* pcapHandle, CActualPrintData* printData,
                                                int frameIndex);
