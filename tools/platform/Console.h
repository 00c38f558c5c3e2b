// The console the tool runs in: the user's (or the system's) request to stop, whether standard
// output is a terminal a person reads, and how standard output is buffered. The commands call
// this; each system has its own implementation beside it.
#pragma once

namespace ferrolink::tools {

class CConsole {
public:
    // `onStop` runs when the user presses Ctrl-C (Ctrl-Break or closes the console window on
    // Windows) or the system asks the process to end. It may run in a signal handler or on a
    // thread of the system's: it may only store to atomics. The commands then end on their own.
    static void OnStopRequest(void (*onStop)());
    // True when standard output is a terminal (not a file, a pipe or the null device).
    static bool OutputIsTerminal();
    // Standard output leaves in whole lines, so that log records on standard error never cut
    // one of its lines in two; a console shows the UTF-8 text the tool writes (the board's error
    // descriptions).
    static void PrepareOutput();
};

}  // namespace ferrolink::tools
