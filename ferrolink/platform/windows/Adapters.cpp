// Windows: Npcap's devices ("\Device\NPF_{GUID}") from wpcap.dll, each joined by its interface
// GUID with what the IP Helper API knows of it. Error codes are Windows system error codes.
#include <ferrolink/platform/Adapters.h>

// In this order: iphlpapi.h needs winsock2.h, which must come before windows.h.
#include <winsock2.h>
// (kept apart so that include sorting leaves the order alone)
#include <iphlpapi.h>
#include <pcap/pcap.h>

#include <cctype>
#include <cstring>
#include <memory>

#include <ferrolink/platform/windows/WpcapLibrary.h>

namespace ferrolink::platform {

namespace {

constexpr const char* NpfPrefix = "\\Device\\NPF_";

SSystemError Failure(unsigned long code, const std::string& what) {
    return {code, what + " (Windows error " + std::to_string(code) + ")"};
}

std::string Narrow(const wchar_t* text) {
    if (!text || !*text) return {};
    const int size = ::WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return {};
    std::string out(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text, -1, out.data(), size, nullptr, nullptr);
    out.resize(static_cast<std::size_t>(size - 1));
    return out;
}

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// The interface GUID of an Npcap device name, in upper case (GUIDs compare whatever the case of
// their hex digits), or empty for any other name.
std::string GuidOf(const std::string& name) {
    const std::size_t prefix = std::strlen(NpfPrefix);
    if (name.size() != prefix + 38 || Upper(name.substr(0, prefix)) != Upper(NpfPrefix)) return {};
    const std::string guid = Upper(name.substr(prefix));
    // "{" 8 "-" 4 "-" 4 "-" 4 "-" 12 "}" hex digits, nothing else.
    for (std::size_t i = 0; i < guid.size(); ++i) {
        const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        const char expected = i == 0 ? '{' : i == 37 ? '}' : dash ? '-' : '\0';
        const unsigned char c = static_cast<unsigned char>(guid[i]);
        if (expected ? c != expected : !std::isxdigit(c)) return {};
    }
    return guid;
}

// The IP Helper API's adapters; the list can grow between the sizing call and the next one.
SSystemError IpHelperAdapters(std::unique_ptr<unsigned char[]>& buffer) {
    const ULONG flags = GAA_FLAG_SKIP_UNICAST | GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST |
                        GAA_FLAG_SKIP_DNS_SERVER;
    ULONG size = 16 * 1024;
    ULONG result = ERROR_BUFFER_OVERFLOW;
    for (int round = 0; round < 4 && result == ERROR_BUFFER_OVERFLOW; ++round) {
        buffer.reset(new unsigned char[size]);
        result =
            ::GetAdaptersAddresses(AF_UNSPEC, flags, nullptr,
                                   reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.get()), &size);
    }
    if (result == ERROR_NO_DATA) {
        buffer.reset();
        return {};
    }
    if (result != NO_ERROR) return Failure(result, "GetAdaptersAddresses");
    return {};
}

const IP_ADAPTER_ADDRESSES* Find(const unsigned char* buffer, const std::string& guid) {
    for (auto* a = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer); a && !guid.empty();
         a = a->Next)
        if (a->AdapterName && Upper(a->AdapterName) == guid) return a;
    return nullptr;
}

void Fill(const IP_ADAPTER_ADDRESSES& from, SAdapter& adapter) {
    adapter.description = Narrow(from.Description);
    adapter.index = from.IfIndex;
    adapter.ethernet = from.IfType == IF_TYPE_ETHERNET_CSMACD;
    adapter.hasMac = from.PhysicalAddressLength == sizeof adapter.mac;
    if (adapter.hasMac) std::memcpy(adapter.mac, from.PhysicalAddress, sizeof adapter.mac);
    adapter.linkUp = from.OperStatus == IfOperStatusUp;
    // A down adapter's speed means nothing, and all bits set is how the API says "not known".
    adapter.linkSpeed =
        adapter.linkUp && from.ReceiveLinkSpeed != ~0ULL ? from.ReceiveLinkSpeed : 0;
}

}  // namespace

SSystemError CAdapters::SystemQuery(const std::string& name, SAdapter& adapter) {
    std::unique_ptr<unsigned char[]> buffer;
    if (SSystemError error = IpHelperAdapters(buffer)) return error;
    const IP_ADAPTER_ADDRESSES* found = Find(buffer.get(), GuidOf(name));
    if (!found) return Failure(ERROR_FILE_NOT_FOUND, "no adapter " + name);
    adapter = SAdapter{};
    adapter.name = name;
    Fill(*found, adapter);
    return {};
}

SSystemError CAdapters::SystemList(std::vector<SAdapter>& adapters) {
    char errbuf[PCAP_ERRBUF_SIZE] = "";
    pcap_if_t* devices = nullptr;
    if (::pcap_findalldevs(&devices, errbuf) != 0)
        return {static_cast<unsigned long>(CWpcapLibrary::IsLoaded() ? ERROR_GEN_FAILURE
                                                                     : ERROR_MOD_NOT_FOUND),
                errbuf};
    std::unique_ptr<unsigned char[]> buffer;
    SSystemError error = IpHelperAdapters(buffer);
    for (const pcap_if_t* device = devices; device && !error; device = device->next) {
        if (!device->name) continue;
        SAdapter adapter;
        adapter.name = device->name;
        // Devices of Npcap's own (its loopback) have no interface GUID: no MAC, not Ethernet.
        if (const IP_ADAPTER_ADDRESSES* found = Find(buffer.get(), GuidOf(device->name)))
            Fill(*found, adapter);
        if (adapter.description.empty() && device->description)
            adapter.description = device->description;
        adapters.push_back(std::move(adapter));
    }
    ::pcap_freealldevs(devices);
    return error;
}

}  // namespace ferrolink::platform
