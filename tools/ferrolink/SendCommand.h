// `ferrolink send FILE`: sends a file to the board as print data, band by band. The options are
// parsed here; the send itself is RunSend (SendJob.h).
#pragma once

#include <CLI/CLI.hpp>

#include "SendJob.h"

class CSendCommand {
public:
    explicit CSendCommand(CLI::App& app);
    bool Chosen() const { return m_command->parsed(); }
    int Run();

private:
    CLI::App* m_command;
    SSendRequest m_request;
    bool m_noDigest = false;
};
