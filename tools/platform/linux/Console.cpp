#include "platform/Console.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>

namespace ferrolink::tools {

namespace {

void (*g_onStop)() = nullptr;

void OnSignal(int) {
    if (g_onStop) g_onStop();
}

}  // namespace

void CConsole::OnStopRequest(void (*onStop)()) {
    g_onStop = onStop;
    struct sigaction action {};
    action.sa_handler = &OnSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool CConsole::OutputIsTerminal() {
    return ::isatty(STDOUT_FILENO) != 0;
}

void CConsole::PrepareOutput() {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
}

}  // namespace ferrolink::tools
