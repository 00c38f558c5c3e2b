#include "DetectCommand.h"

#include <cstdio>

#include <ferrolink/protocol/ConstValue.h>

#include "CommandSupport.h"

CDetectCommand::CDetectCommand(CLI::App& app)
    : m_command(app.add_subcommand("detect", "find the adapter the board is on and claim it")) {
    AddDeviceOption(m_command, m_device,
                    "listen only on this interface (IF or rpcap://IF) (default: search all)");
}

int CDetectCommand::Run() {
    CBoardLink link;
    std::printf("looking for the board%s...\n", m_device.empty() ? " on every adapter" : "");
    std::fflush(stdout);
    if (const int status = OpenLink(link, m_device, true)) return status;
    const unsigned char first = CConstValue::BoardMac_Get()[0];
    std::printf("adapter: %s\nboard MAC: %s\nclaim: %s\n", link.DeviceName().c_str(),
                MacText(CConstValue::BoardMac_Get()).c_str(), CBoardLink::ClaimName(first).c_str());
    return ExitStatus_Ok;
}
