#include <ferrolink/adapter/PCapOpen_Network_Internal.h>

#include <cstring>

#include <ferrolink/adapter/FindAllDevice.h>
#include <ferrolink/adapter/FindAllDevice_Internal.h>
#include <ferrolink/adapter/NpfPacketHelper.h>
#include <ferrolink/outside/CustomAutoResetEvent.h>
#include <ferrolink/outside/CustomBoostLog.h>
#include <ferrolink/outside/Serialize_NetworkCommon.h>
#include <ferrolink/outside/WaitReleaseMutex.h>
#include <ferrolink/outside/WaitSupport.h>
#include <ferrolink/platform/Link.h>
#include <ferrolink/platform/MonotonicClock.h>
#include <ferrolink/protocol/ConstValue.h>

namespace ferrolink::core {

namespace flk = ferrolink::platform;
using ferrolink::outside::kInfinite;

namespace {
constexpr unsigned int kOpenCheckWaitMs = 100;
constexpr unsigned int kCloseCheckWaitMs = 1000;
constexpr unsigned int kCloseWaitMs = 10000;
constexpr unsigned int kListenMs = 1000;
constexpr int kReadTimeoutMs = 10;
constexpr const char* kCustomFilter = "ether dst 7B:23:FC:98:10:99";
constexpr const char* kDevicePrefix = "rpcap://";
constexpr std::size_t kDevicePrefixLength = 8;
}  // namespace

CPCapOpen_Network_Internal::CPCapOpen_Network_Internal() : m_deviceName(new std::string()) {}

CPCapOpen_Network_Internal::~CPCapOpen_Network_Internal() {
    Close(kOpenCheckWaitMs, nullptr);
    delete m_macFlagEvent;  // releases the claim on the board
    m_macFlagEvent = nullptr;
    delete m_deviceName;
}

// --- the handle and its lock ---

pcap* CPCapOpen_Network_Internal::GetPCapHandle(unsigned int milliseconds, const bool* abortFlag) {
    CWaitReleaseMutex lock(m_mutex, milliseconds, abortFlag);
    if (!lock.IsOwnMutex()) {
        FLK_LOG(2) << "failure";
        return nullptr;
    }
    return m_handle;
}

bool CPCapOpen_Network_Internal::IsOpen(unsigned int milliseconds, const bool* abortFlag) {
    return GetPCapHandle(milliseconds, abortFlag) != nullptr;
}

bool CPCapOpen_Network_Internal::IsHandleOpen() {
    return GetPCapHandle(kOpenCheckWaitMs, nullptr) != nullptr;
}

pcap* CPCapOpen_Network_Internal::Handle_Lock(unsigned int milliseconds, const bool* abortFlag) {
    if (!m_mutex.WaitOne(milliseconds, abortFlag)) return nullptr;
    if (m_handle != nullptr) return m_handle;
    m_mutex.ReleaseOne();
    return nullptr;
}

void CPCapOpen_Network_Internal::Handle_UnLock() {
    m_mutex.ReleaseOne();
}

bool CPCapOpen_Network_Internal::Close(unsigned int milliseconds, const bool* abortFlag) {
    if (GetPCapHandle(kCloseCheckWaitMs, nullptr) == nullptr) return true;
    CWaitReleaseMutex lock(m_mutex, milliseconds, abortFlag);
    if (!lock.IsOwnMutex()) {
        FLK_LOG(2) << "failure";
        return false;
    }
    if (!ClosePCap()) {
        FLK_LOG(2) << "failure";
        return false;
    }
    return true;
}

bool CPCapOpen_Network_Internal::ClosePCap() {
    pcap* handle = GetPCapHandle(kCloseWaitMs, nullptr);
    if (handle == nullptr) return true;
    if (!ClosePCapHandle_Static(handle)) {
        FLK_LOG(2) << "failure";
        return false;
    }
    CWaitReleaseMutex lock(m_mutex, kInfinite);
    m_handle = nullptr;
    return true;
}

bool CPCapOpen_Network_Internal::ClosePCapHandle_Static(pcap* handle) {
    if (handle == nullptr) {
        FLK_LOG(2) << "failure";
        return false;
    }
    flk::CLink::Break(handle);
    flk::CLink::Close(handle);
    return true;
}

void CPCapOpen_Network_Internal::SetPCapHandle(pcap* handle) {
    CWaitReleaseMutex lock(m_mutex, kInfinite);
    m_handle = handle;
}

pcap* CPCapOpen_Network_Internal::OpenPCapHandle_Static(const char* deviceName) {
    if (deviceName == nullptr) {
        FLK_LOG(2) << "failure";
        return nullptr;
    }
    // Listed devices carry the capture source prefix; a bare adapter name is taken as it is.
    const bool prefixed = std::strncmp(deviceName, kDevicePrefix, kDevicePrefixLength) == 0;
    flk::SLinkOptions options;
    options.snapLength = CConstValue::GetFrameMaximumSize();
    options.promiscuous = true;
    options.readTimeoutMs = kReadTimeoutMs;
    options.immediate = true;  // a reply must not wait for the read time-out
    std::string error;
    pcap* handle =
        flk::CLink::OpenLive(deviceName + (prefixed ? kDevicePrefixLength : 0), options, error);
    if (handle == nullptr) {
        // Only a capture library that is missing altogether is worth the host's attention here.
        std::string why;
        if (!flk::CLink::Available(why)) FLK_LOG(2) << why;
        FLK_LOG(2) << "open adaptor failure. Name = " << deviceName;
        return nullptr;
    }
    return handle;
}

bool CPCapOpen_Network_Internal::Initialize_DeviceName(const char* deviceName) {
    if (deviceName != nullptr) *m_deviceName = deviceName;
    if (!OC_NetworkCommon.Previous_PCapDeviceName_Set(*m_deviceName)) {
        FLK_LOG(2) << "failure";
        return false;
    }
    return true;
}

bool CPCapOpen_Network_Internal::Initialize_DeviceName_ConsoleInput() {
    CFindAllDevice_Internal finder;
    return finder.GetSelectedDeviceName(*m_deviceName) && !m_deviceName->empty();
}

// --- selection ---

bool CPCapOpen_Network_Internal::Open_ByAuto(unsigned int, const bool* abortFlag) {
    if (IsHandleOpen()) return true;
    return AutoOpenNetwork(abortFlag);
}

bool CPCapOpen_Network_Internal::AutoOpenNetwork(const bool* abortFlag) {
    std::vector<SAdapterInfo> adapters;
    if (!AllAdpaterInfo_Get(adapters)) return false;
    CFindAllDevice_Internal finder;  // releases the device list on every way out
    pcap_if* devices = finder.FindAllDevice();
    if (devices == nullptr) return false;

    if (OpenNetwork_PreviousName(adapters, devices)) return true;
    if (ferrolink::outside::IsAbortSet(abortFlag)) return false;

    std::string gigabit;
    if (CNpfPacketHelper::GB_AdapterName_Get(gigabit) &&
        OC_NetworkCommon.Previous_PCapDeviceName_Get().find(gigabit) == std::string::npos) {
        if (OpenNetwork_GB_Adapter(adapters, devices, gigabit)) return true;
    }
    if (!ferrolink::outside::IsAbortSet(abortFlag) &&
        OpenNetwork_LoopDetect(adapters, devices, abortFlag))
        return true;
    return false;
}

bool CPCapOpen_Network_Internal::OpenNetwork_PreviousName(std::vector<SAdapterInfo>& adapters,
                                                          pcap_if* devices) {
    if (devices == nullptr) return IsHandleOpen();
    for (pcap_if* device = devices; device != nullptr; device = device->next) {
        const std::string previous = OC_NetworkCommon.Previous_PCapDeviceName_Get();
        if (device->name != nullptr && previous == device->name) {
            OpenCertainAdapter_ConfirmFeedback(adapters, device);
            break;
        }
    }
    return IsHandleOpen();
}

bool CPCapOpen_Network_Internal::OpenNetwork_GB_Adapter(std::vector<SAdapterInfo>& adapters,
                                                        pcap_if* devices, std::string gigabitName) {
    for (pcap_if* device = devices; device != nullptr; device = device->next) {
        if (device->name != nullptr && std::strstr(device->name, gigabitName.c_str()) != nullptr) {
            OpenCertainAdapter_ConfirmFeedback(adapters, device);
            break;
        }
    }
    return IsHandleOpen();
}

bool CPCapOpen_Network_Internal::OpenNetwork_LoopDetect(std::vector<SAdapterInfo>& adapters,
                                                        pcap_if* devices, const bool* abortFlag) {
    if (devices == nullptr) return IsHandleOpen();
    for (pcap_if* device = devices; device != nullptr; device = device->next) {
        if (ferrolink::outside::IsAbortSet(abortFlag)) break;
        // Every listed name carries the prefix; anything else cannot be a driver adapter.
        if (device->name == nullptr || std::strlen(device->name) < kDevicePrefixLength) continue;
        const std::string driverName = device->name + kDevicePrefixLength;

        std::vector<unsigned char> mac;
        if (!CNpfPacketHelper::AdapterName_2_MacAddress(driverName, mac)) {
            FLK_LOG(2) << "failure";
            return false;
        }
        if (mac.size() != 6) continue;
        std::uint64_t speed = 0;
        if (!CNpfPacketHelper::AdapterName_2_LinkSpeed(driverName, speed)) {
            FLK_LOG(2) << "failure";
            return false;
        }
        bool connected = false;
        for (const SAdapterInfo& a : adapters) {
            if (a.addressLength == 6 && std::memcmp(a.address, mac.data(), 6) == 0 &&
                a.status == CAdapterInfo::Status_Connected) {
                connected = true;
                break;
            }
        }
        if (!connected) continue;
        if (OpenCertainAdapter_ConfirmFeedback(adapters, device)) break;
    }
    return IsHandleOpen();
}

bool CPCapOpen_Network_Internal::AllAdpaterInfo_Get(std::vector<SAdapterInfo>& adapters) {
    if (!CAdapterInfo::AllAdpaterInfo_Get(adapters)) {
        FLK_LOG(2) << "failure";
        return false;
    }
    return true;
}

bool CPCapOpen_Network_Internal::Open_ByConsoleInput(unsigned int, const bool*) {
    if (IsHandleOpen()) return true;
    CFindAllDevice finder;
    if (!finder.GetSelectedDeviceName(*m_deviceName)) return false;
    pcap* handle = OpenPCapHandle_Static(m_deviceName->c_str());
    if (handle == nullptr) {
        FLK_LOG(2) << "open adaptor failure. Name = " << *m_deviceName;
        return false;
    }
    SetPCapHandle(handle);
    return true;
}

bool CPCapOpen_Network_Internal::Open_ByDeviceName(const char* deviceName) {
    pcap* handle = OpenPCapHandle_Static(deviceName);
    if (handle == nullptr) {
        FLK_LOG(2) << "open adaptor failure. Name = " << (deviceName ? deviceName : "");
        return false;
    }
    if (!Initialize_DeviceName(deviceName)) {
        ClosePCapHandle_Static(handle);
        return false;
    }
    CWaitReleaseMutex lock(m_mutex, kInfinite);
    // The named device replaces an open handle rather than leaking it.
    if (m_handle != nullptr) ClosePCapHandle_Static(m_handle);
    m_handle = handle;
    return true;
}

// --- detection and claim ---

bool CPCapOpen_Network_Internal::OpenCertainAdapter_ConfirmFeedback(
    std::vector<SAdapterInfo>& adapters, pcap_if* device) {
    std::vector<unsigned char> mac;
    if (!CNpfPacketHelper::Device_2_MacAddress(device, mac)) {
        FLK_LOG(2) << "failure";
        return false;
    }
    if (!CAdapterInfo::IsAdapterConnected(mac, adapters)) return false;
    pcap* handle = OpenPCapHandle_Static(device->name);
    if (handle == nullptr) return false;
    if (!ExistPacket_Board2PC(handle, kListenMs)) {
        ClosePCapHandle_Static(handle);
        return false;
    }
    FLK_LOG(1) << "Open adaptor successfully. name = " << device->name
               << "; description =" << (device->description ? device->description : "");
    if (!Initialize_DeviceName(device->name)) {
        FLK_LOG(2) << "failure";
        ClosePCapHandle_Static(handle);
        return false;
    }
    if (!SetCustomFilter(device, handle)) {
        FLK_LOG(2) << "failure";
        ClosePCapHandle_Static(handle);
        return false;
    }
    SetPCapHandle(handle);
    return true;
}

bool CPCapOpen_Network_Internal::ExistPacket_Board2PC(pcap* handle, unsigned int milliseconds) {
    if (handle == nullptr) {
        FLK_LOG(2) << "failure";
        return false;
    }
    const std::uint32_t start = flk::CMonotonicClock::Ticks();
    for (;;) {
        if (static_cast<std::uint32_t>(flk::CMonotonicClock::Ticks() - start) >= milliseconds)
            return false;
        struct pcap_pkthdr* header = nullptr;
        const u_char* data = nullptr;
        const int result = flk::CLink::ReadOne(handle, &header, &data);
        if (result < 0) return false;
        if (result == 0 || header == nullptr || data == nullptr) continue;
        if (header->caplen < 12) continue;
        if (!CConstValue::IsPcMac(data)) continue;
        if (IsMatchBoardMac(data + 6)) return true;
    }
}

bool CPCapOpen_Network_Internal::IsMatchBoardMac(const unsigned char* sourceMac) {
    if (sourceMac == nullptr) return false;
    const ESoftwareMacMode mode = OC_NetworkCommon.SoftwareMac_Mode_Get();
    if (mode != SoftwareMacMode_AnyFirstByte && mode != SoftwareMacMode_FixedFirstByte)
        return false;
    if (std::memcmp(sourceMac + 1, CConstValue::BoardMac_Get() + 1, 5) != 0) return false;
    if (mode == SoftwareMacMode_FixedFirstByte &&
        sourceMac[0] != CSerialize_NetworkCommon::Address_Enum_2_Value(
                            OC_NetworkCommon.SoftwareMac_Address_Get()))
        return false;
    if (!Create_Event_MacFlag(sourceMac[0])) return false;
    CConstValue::BoardMac_FirstByte_Update(sourceMac[0]);
    return true;
}

bool CPCapOpen_Network_Internal::Create_Event_MacFlag(unsigned char firstByte) {
    delete m_macFlagEvent;
    m_macFlagEvent = nullptr;
    const std::string name =
        "Quon_PCap_" + CSerialize_NetworkCommon::Address_Enum_2_String(
                           CSerialize_NetworkCommon::Address_Value_2_Enum(firstByte));
    auto* event = new CCustomAutoResetEvent(name.c_str(), false);
    if (!event->IsCreated()) {
        delete event;
        return false;
    }
    m_macFlagEvent = event;
    return true;
}

bool CPCapOpen_Network_Internal::SetCustomFilter(pcap_if* device, pcap* handle) {
    if (handle == nullptr || device == nullptr) {
        FLK_LOG(2) << "failure";
        return false;
    }
    bpf_u_int32 netmask = 0xFFFFFF;
    if (device->addresses != nullptr && device->addresses->netmask != nullptr) {
        // An IPv4 address word follows the family and the port in the netmask's sockaddr_in.
        constexpr std::size_t kAddressOffset = 4;
        std::memcpy(
            &netmask,
            reinterpret_cast<const unsigned char*>(device->addresses->netmask) + kAddressOffset,
            sizeof netmask);
    }
    bpf_program program{};
    if (pcap_compile(handle, &program, kCustomFilter, 1, netmask) < 0) {
        FLK_LOG(2) << "failure";
        return false;
    }
    const int installed = pcap_setfilter(handle, &program);
    pcap_freecode(&program);
    if (installed < 0) {
        FLK_LOG(2) << "failure";
        return false;
    }
    return true;
}

}  // namespace ferrolink::core
