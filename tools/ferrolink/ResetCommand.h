// `ferrolink reset`: the board's Reset command. The board then forgets its bands and every error
// bit it latched; a fatal fault stays raised until this (or a power cycle).
#pragma once

#include <CLI/CLI.hpp>

#include <string>

class CResetCommand {
public:
    explicit CResetCommand(CLI::App& app);
    bool Chosen() const { return m_command->parsed(); }
    int Run();

private:
    CLI::App* m_command;
    std::string m_device;
    unsigned m_replyTimeoutMs = 500;
    int m_tries = 3;
    bool m_json = false;
};
