// `ferrolink dump`: board frames of both directions, one line each (hexadecimal with -x/-X), or
// saved to a capture file, with tcpdump's letters for tcpdump's ideas.
#pragma once

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

struct SDumpOptions {
    std::string write;  // capture file, "-" for standard output
    std::string read;   // capture file to read instead of an adapter, "-" for standard input
    long count = 0;
    double seconds = 0;
    int snapshotLength = 0;           // bytes kept of each frame; 0: all
    std::string direction = "inout";  // in: board > PC, out: PC > board
    std::string filter;
    int hex = 0;  // 1: -x, 2: -X (with text)
    bool json = false;
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
    bool m_hex = false;
    bool m_hexText = false;
};
