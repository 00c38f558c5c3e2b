// What the operating system says about a network interface beyond what the capture library
// gives: whether its link is up, whether its administrator switched it off, the right a capture
// needs, and room in the send buffer of an open capture. `interfaceName` is the name without the
// "rpcap://" prefix.
#pragma once

#include <cstddef>
#include <string>

// What the operating system says about the adapter's link.
enum class ELinkState { Up, Down, Gone };

namespace ferrolink::tools {

class CNetworkInterface {
public:
    static ELinkState LinkState(const std::string& interfaceName);
    // Empty unless the interface is switched off; then what to do about it, e.g. "the interface
    // IF is down: bring it up with `ip link set IF up`".
    static std::string SwitchedOff(const std::string& interfaceName);
    // Who may capture and send frames here, for a refused open.
    static const char* CaptureRight();
    // Makes the send buffer of the open capture `captureHandle` (a pcap_t) hold `bytes` of
    // frames, within what the system allows.
    static void ReserveSendBuffer(void* captureHandle, std::size_t bytes);
};

}  // namespace ferrolink::tools
