// `ferrolink list`: the Ethernet adapters, their addresses, speeds and links.
#pragma once

#include <CLI/CLI.hpp>

class CListCommand {
public:
    explicit CListCommand(CLI::App& app);
    bool Chosen() const { return m_command->parsed(); }
    int Run();

private:
    CLI::App* m_command;
    bool m_all = false;
    bool m_json = false;
};
