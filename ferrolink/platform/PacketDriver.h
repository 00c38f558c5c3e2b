// The packet driver's adapter queries that the adapter code makes: the driver's adapter names, an
// adapter object, its current MAC address and its link speed. The names and argument shapes are
// those of the Windows packet library, so the calling code reads the same on both systems; on
// Linux the answers come from our device list and from interface ioctls on a socket made in the
// opening thread's network namespace.
//
// The functions live in this namespace, not globally, for the same reason as PcapExtensions.h:
// call them qualified, e.g. ferrolink::platform::PacketOpenAdapter(...).
#pragma once

#include <cstddef>

#include <ferrolink/FerrolinkExport.h>

namespace ferrolink::platform {

// The descriptor value of an adapter that is not open. Windows' headers define
// INVALID_HANDLE_VALUE as a macro, so shared code names it INVALID_ADAPTER_FILE.
constexpr int INVALID_ADAPTER_FILE = -1;
#ifndef _WIN32
constexpr int INVALID_HANDLE_VALUE = INVALID_ADAPTER_FILE;
#endif

// Query for the adapter's current (not its burnt-in) 802.3 address: 6 data bytes.
constexpr unsigned long OID_802_3_CURRENT_ADDRESS = 0x01010102;

// Link types of NetType: every adapter of our device list is an Ethernet one.
constexpr unsigned int NdisMedium802_3 = 0;
constexpr unsigned int NdisMediumNull = 0xFFFFFFFFu;

// Longest adapter name, terminating zero included.
constexpr std::size_t ADAPTER_NAME_LENGTH = 64;

// An open adapter. Made only by PacketOpenAdapter, released only by PacketCloseAdapter.
struct ADAPTER {
    int hFile;  // the query descriptor; INVALID_HANDLE_VALUE when not open
    char Name[ADAPTER_NAME_LENGTH];
};

// A request record. It is allocated with room for Length data bytes behind the header, so Data
// runs past its declared single element; reach the bytes through a pointer to Data.
struct PACKET_OID_DATA {
    unsigned long Oid;
    unsigned long Length;  // in: room in Data; out: bytes the answer uses
    unsigned char Data[1];
};

struct NetType {
    unsigned int LinkType;
    unsigned long long LinkSpeed;  // bits per second
};

// With a null buffer, or a size smaller than needed: false, *size set to the bytes needed and the
// last error ERANGE. Otherwise the buffer receives the adapter names, each ended by a zero byte,
// one more zero byte, then the descriptions in the same form; *size is set to the bytes written.
// The names are those of pcap_findalldevs_ex("rpcap://") without that prefix, in its order.
FERROLINK_API bool PacketGetAdapterNames(char* buffer, unsigned long* size);

// Null on failure with the last error set (ENODEV: no such interface in the caller's network
// namespace). Later queries on the adapter concern that namespace, whatever thread asks.
FERROLINK_API ADAPTER* PacketOpenAdapter(const char* name);

// Releases an adapter of PacketOpenAdapter; null is allowed.
FERROLINK_API void PacketCloseAdapter(ADAPTER* adapter);

// Only queries (set == false) of OID_802_3_CURRENT_ADDRESS are served; anything else fails with
// EOPNOTSUPP. A record with room for fewer than 6 bytes fails with ERANGE.
FERROLINK_API bool PacketRequest(ADAPTER* adapter, bool set, PACKET_OID_DATA* data);

// Link type and link speed in bits per second. An adapter that is down, or that does not know its
// speed (where /sys/class/net/IF/speed gives no positive number), reports 0; only an adapter that
// cannot be asked (gone, not an interface) fails.
FERROLINK_API bool PacketGetNetType(ADAPTER* adapter, NetType* type);

// The error code (an errno value; a Windows system error code on Windows) of the last failed
// call above on this thread; calls that succeed leave it as it was.
FERROLINK_API unsigned long GetLastError();

}  // namespace ferrolink::platform
