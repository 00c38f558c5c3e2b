// The live capture handle on the board's adapter, guarded by one re-entrant mutex: opened by one
// of three selections (automatic with board detection and claim, console choice, device name),
// lent to the host's threads, locked while a thread sends, and closed.
#pragma once

#include <pcap/pcap.h>

#include <memory>
#include <string>
#include <vector>

#include <ferrolink/FerrolinkExport.h>
#include <ferrolink/outside/AdapterInfo.h>
#include <ferrolink/outside/CustomMutex.h>

#ifdef FERROLINK_TEST_PROBES
class CPCapOpen_NetworkProbe;  // white-box tests' probe, at global scope
#endif

namespace ferrolink::core {

class CCustomAutoResetEvent;

class CPCapOpen_Network_Internal {
public:
    CPCapOpen_Network_Internal();
    virtual ~CPCapOpen_Network_Internal();
    CPCapOpen_Network_Internal(const CPCapOpen_Network_Internal&) = delete;
    CPCapOpen_Network_Internal& operator=(const CPCapOpen_Network_Internal&) = delete;

    // The wait pair: longest wait for the handle mutex in ms (0xFFFFFFFF: none), abort flag.
    pcap* GetPCapHandle(unsigned int milliseconds, const bool* abortFlag);
    bool IsOpen(unsigned int milliseconds, const bool* abortFlag);
    bool Open_ByAuto(unsigned int milliseconds, const bool* abortFlag);
    bool Open_ByConsoleInput(unsigned int milliseconds, const bool* abortFlag);
    // Opens the named device without looking for the board; a handle already open is closed.
    bool Open_ByDeviceName(const char* deviceName);
    bool Close(unsigned int milliseconds, const bool* abortFlag);
    // The handle with the mutex held (release with Handle_UnLock), or null with it free.
    pcap* Handle_Lock(unsigned int milliseconds, const bool* abortFlag);
    void Handle_UnLock();

    const std::string& GetDeviceName() const { return *m_deviceName; }

private:
#ifdef FERROLINK_TEST_PROBES  // set only for what tests, benchmarks and fuzz targets build
    friend class ::CPCapOpen_NetworkProbe;  // reaches the handle mutex
#endif

    // Handle management.
    void SetPCapHandle(pcap* handle);
    bool ClosePCap();
    static bool ClosePCapHandle_Static(pcap* handle);
    static pcap* OpenPCapHandle_Static(const char* deviceName);
    bool Initialize_DeviceName(const char* deviceName);
    bool Initialize_DeviceName_ConsoleInput();
    bool IsHandleOpen();

    // Selection.
    bool AutoOpenNetwork(const bool* abortFlag);
    bool OpenNetwork_PreviousName(std::vector<SAdapterInfo>& adapters, pcap_if* devices);
    bool OpenNetwork_GB_Adapter(std::vector<SAdapterInfo>& adapters, pcap_if* devices,
                                std::string gigabitName);
    bool OpenNetwork_LoopDetect(std::vector<SAdapterInfo>& adapters, pcap_if* devices,
                                const bool* abortFlag);
    bool AllAdpaterInfo_Get(std::vector<SAdapterInfo>& adapters);

    // Detection and claim.
    bool OpenCertainAdapter_ConfirmFeedback(std::vector<SAdapterInfo>& adapters, pcap_if* device);
    bool ExistPacket_Board2PC(pcap* handle, unsigned int milliseconds);
    bool IsMatchBoardMac(const unsigned char* sourceMac);
    bool Create_Event_MacFlag(unsigned char firstByte);
    bool SetCustomFilter(pcap_if* device, pcap* handle);

    CCustomMutex m_mutex;
    pcap* m_handle = nullptr;
    std::string* m_deviceName;
    CCustomAutoResetEvent* m_macFlagEvent = nullptr;
};

}  // namespace ferrolink::core
