// `ferrolink monitor`: prints the board's status reports as they come, and its silences.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

class CMonitorCommand {
public:
    explicit CMonitorCommand(CLI::App& app);
    bool Chosen() const { return m_command->parsed(); }
    int Run();

private:
    CLI::App* m_command;
    std::string m_device;
    double m_seconds = 0;
    long m_count = 0;
    bool m_json = false;
};
