#include "InterfaceCheck.h"

#include <pcap/pcap.h>

#include "platform/NetworkInterface.h"

using ferrolink::tools::CNetworkInterface;

std::string CInterfaceCheck::OpenFailure(const std::string& interfaceName) {
    const std::string switchedOff = CNetworkInterface::SwitchedOff(interfaceName);
    if (!switchedOff.empty()) return switchedOff;
    // Open it again the plain way, only to learn what the capture library says.
    char errors[PCAP_ERRBUF_SIZE] = "";
    pcap_t* probe = pcap_create(interfaceName.c_str(), errors);
    std::string cause = errors;
    int result = 0;
    if (probe) {
        result = pcap_activate(probe);
        if (result < 0) {
            const std::string text = pcap_geterr(probe);
            cause = text.empty() ? pcap_statustostr(result) : text;
        }
        pcap_close(probe);
    }
    if (cause.empty())
        cause = result > 0 ? pcap_statustostr(result)
                           : "it opens here but not through the library (-v shows its records)";
    std::string message = "cannot open rpcap://" + interfaceName + ": " + cause;
    if (result == PCAP_ERROR_PERM_DENIED)
        message += std::string(" (") + CNetworkInterface::CaptureRight() + ")";
    return message;
}
