#include "ListCommand.h"

#include <pcap/pcap.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include <ferrolink/adapter/FindAllDevice.h>
#include <ferrolink/adapter/NpfPacketHelper.h>
#include <ferrolink/outside/AdapterInfo.h>

#include "CommandSupport.h"

using json = nlohmann::json;

CListCommand::CListCommand(CLI::App& app)
    : m_command(app.add_subcommand("list", "list the Ethernet adapters")) {
    m_command->add_flag("-a,--all", m_all,
                        "also show loopback and other non-Ethernet capture devices");
    m_command->add_flag("--json", m_json, "one JSON array, for scripts");
}

int CListCommand::Run() {
    CFindAllDevice finder;
    auto* devices = static_cast<pcap_if*>(finder.FindAllDevice());
    if (!devices && !m_all) {
        // Say why, in the capture library's words, rather than guess at a permission.
        pcap_if_t* any = nullptr;
        char why[PCAP_ERRBUF_SIZE] = "";
        if (pcap_findalldevs(&any, why) != 0)
            return Fail(ExitStatus_LinkFailed, std::string("cannot list the adapters: ") + why);
        int others = 0;
        for (pcap_if_t* d = any; d; d = d->next) ++others;
        pcap_freealldevs(any);
        return Fail(ExitStatus_LinkFailed, "no Ethernet adapters found (" + std::to_string(others) +
                                               " other capture devices: -a shows them)");
    }
    // The library lists Ethernet adapters only; -a adds the capture library's other devices
    // (loopback, "any", nflog, tunnels), which cannot reach a board.
    std::vector<std::pair<std::string, std::string>> entries;  // name, description
    std::size_t ethernetCount = 0;
    for (pcap_if* d = devices; d; d = d->next, ++ethernetCount)
        entries.emplace_back(d->name, d->description ? d->description : "");
    pcap_if_t* everything = nullptr;
    char errors[PCAP_ERRBUF_SIZE];
    if (m_all && pcap_findalldevs(&everything, errors) == 0) {
        for (pcap_if_t* d = everything; d; d = d->next) {
            const std::string name = std::string("rpcap://") + d->name;
            bool known = false;
            for (std::size_t i = 0; i < ethernetCount; ++i)
                known = known || entries[i].first == name;
            if (!known) entries.emplace_back(name, d->description ? d->description : "");
        }
        pcap_freealldevs(everything);
    }
    std::vector<SAdapterInfo> adapters;
    CAdapterInfo::AllAdpaterInfo_Get(adapters);
    json out = json::array();
    for (std::size_t index = 0; index < entries.size(); ++index) {
        const bool ethernet = index < ethernetCount;
        const std::string& name = entries[index].first;
        std::string adapter;
        CNpfPacketHelper::DeviceName_2_AdapterName(name.c_str(), adapter);
        std::uint64_t speed = 0;
        std::vector<unsigned char> mac;
        if (ethernet) {
            CNpfPacketHelper::AdapterName_2_LinkSpeed(adapter, speed);
            CNpfPacketHelper::AdapterName_2_MacAddress(adapter, mac);
        }
        const bool connected = ethernet && CAdapterInfo::IsAdapterConnected(mac, adapters);
        const std::string macText = mac.size() == 6 ? MacText(mac.data()) : "";
        char speedText[32] = "unknown";
        if (speed > 0)
            std::snprintf(speedText, sizeof speedText, "%.1f Gbit/s",
                          static_cast<double>(speed) / 1e9);
        const std::string& description = entries[index].second;
        if (m_json) {
            out.push_back({{"index", ethernet ? json(index) : json(nullptr)},
                           {"name", name},
                           {"description", description},
                           {"mac", macText.empty() ? json(nullptr) : json(macText)},
                           {"speed_bps", speed > 0 ? json(speed) : json(nullptr)},
                           {"connected", connected},
                           {"ethernet", ethernet}});
            continue;
        }
        if (ethernet)
            std::printf("%zu. %s  %s  %s  %s  %s\n", index, name.c_str(),
                        description.empty() ? "(no description)" : description.c_str(),
                        macText.empty() ? "--:--:--:--:--:--" : macText.c_str(), speedText,
                        connected ? "connected" : "not connected");
        else
            std::printf("-. %s  %s  (not Ethernet)\n", name.c_str(),
                        description.empty() ? "(no description)" : description.c_str());
    }
    if (m_json) PrintJsonLine(out.dump());
    return ExitStatus_Ok;
}
