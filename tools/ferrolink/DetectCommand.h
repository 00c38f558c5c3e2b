// `ferrolink detect`: finds the adapter the board is on and claims the board. Reports only a
// board it heard: with -i, the board must answer or report within the listening time.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

class CDetectCommand {
public:
    explicit CDetectCommand(CLI::App& app);
    bool Chosen() const { return m_command->parsed(); }
    int Run();

private:
    CLI::App* m_command;
    std::string m_device;
    bool m_json = false;
};
