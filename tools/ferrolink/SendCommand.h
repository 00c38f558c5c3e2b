// `ferrolink send FILE`: sends a file to the board as print data, band by band.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

#include "PrintJob.h"

class CSendCommand {
public:
    explicit CSendCommand(CLI::App& app);
    bool Chosen() const { return m_command->parsed(); }
    int Run();

private:
    CLI::App* m_command;
    std::string m_device;
    std::string m_file;
    SPrintJobOptions m_options;
    bool m_verbose = false;
    bool m_json = false;
};
