// The tool's exit statuses, documented in docs/ferrolink-tool.md: scripts tell a fault of the
// board from a failure of the link or adapter by them.
#pragma once

enum EExitStatus {
    ExitStatus_Ok = 0,
    ExitStatus_JobFailed = 1,   // the job or the board did not finish: no answer, bad file, ...
    ExitStatus_Usage = 2,       // bad arguments
    ExitStatus_LinkFailed = 3,  // the adapter cannot be opened, vanished, or its link stayed down
    ExitStatus_BoardFault = 4,  // the board reported a fatal error bit
    ExitStatus_BoardHeld = 5,   // another process holds the board
    // The board cannot be claimed: something that is no claim (or an unfit claim folder) is in
    // the way; the claim folder's file system is full; this user may not take claims there.
    ExitStatus_ClaimBlocked = 6,
    ExitStatus_ClaimNoSpace = 7,
    ExitStatus_ClaimDenied = 8,
    ExitStatus_Interrupted = 130,  // Ctrl-C or SIGTERM
};
