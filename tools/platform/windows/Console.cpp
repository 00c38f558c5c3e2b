#include "platform/Console.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace ferrolink::tools {

namespace {

void (*g_onStop)() = nullptr;
UINT g_codePage = 0;  // the console's own, given back at exit

void RestoreCodePage() {
    if (g_codePage) SetConsoleOutputCP(g_codePage);
}

// Runs on a thread the system starts for the event.
BOOL WINAPI OnControl(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            if (g_onStop) g_onStop();
            return TRUE;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            // The process ends when this returns: give the command a few seconds to release the
            // board and write its summary (Windows allows five).
            if (g_onStop) g_onStop();
            Sleep(4000);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

void CConsole::OnStopRequest(void (*onStop)()) {
    g_onStop = onStop;
    SetConsoleCtrlHandler(&OnControl, TRUE);
}

bool CConsole::OutputIsTerminal() {
    // Only a console has a console mode; the null device is a character device too, so the C
    // runtime's _isatty would call it a terminal.
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    return output && output != INVALID_HANDLE_VALUE && GetConsoleMode(output, &mode) != 0;
}

void CConsole::PrepareOutput() {
    // The C runtime has no line buffering (it takes _IOLBF for full buffering); unbuffered, it
    // writes each printf in one piece.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    g_codePage = GetConsoleOutputCP();
    if (g_codePage && g_codePage != CP_UTF8 && SetConsoleOutputCP(CP_UTF8))
        std::atexit(&RestoreCodePage);
}

}  // namespace ferrolink::tools
