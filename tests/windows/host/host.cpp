// A host program: builds a frame, then lists the capture devices through wpcap.dll, showing the
// library's log records on standard output. Exit 0 when devices were listed, 3 when there are
// none (Npcap missing: the records say so), 2 when the frame is wrong.
#include <boost/log/utility/setup/console.hpp>
#include <cstdio>
#include <cstring>
#include <iostream>

#include <pcap/pcap.h>

#include <ferrolink/adapter/FindAllDevice.h>
#include <ferrolink/outside/CustomBoostLog.h>
#include <ferrolink/protocol/NetworkHelper.h>

int main() {
    boost::log::add_console_log(std::cout);

    SBufferData<unsigned char> frame;
    const unsigned char data[] = {'a', 'b', 'c'};
    if (!CNetworkHelper::PreparePacket_Print(1, 0, PaddingValue_Zero, 3, data, 3, frame) ||
        frame.m_count != 88 || !CNetworkHelper::IsValidCheckSum(frame.m_pBuffer, frame.m_count))
        return 2;

    CFindAllDevice devices;
    const auto* list = static_cast<const pcap_if_t*>(devices.FindAllDevice());
    if (!list) {
        std::cout << "host: no capture device" << std::endl;
        return 3;
    }
    for (const pcap_if_t* d = list; d; d = d->next)
        std::cout << "host: device " << d->name << " (" << (d->description ? d->description : "")
                  << ")" << std::endl;
    return 0;
}
