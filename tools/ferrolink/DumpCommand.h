// `ferrolink dump`: board frames of both directions in words, or saved to a capture file.
#pragma once

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

struct SDumpOptions {
    std::string write;  // capture file, "-" for standard output
    std::string read;   // capture file to read instead of an adapter, "-" for standard input
    long count = 0;
    double seconds = 0;
    std::string direction = "both";
    std::string filter;
    bool brief = false;
};

class CDumpCommand {
public:
    explicit CDumpCommand(CLI::App& app);
    bool Chosen() const { return m_command->parsed(); }
    int Run();

private:
    CLI::App* m_command;
    std::string m_device;
    SDumpOptions m_options;
    std::vector<std::string> m_filterWords;
};
