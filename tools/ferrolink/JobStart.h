// What `ferrolink send` does between opening the adapter and the first print frame: it asks the
// board at once (a status query to the board address the configuration names, rather than
// waiting for a periodic report), refuses a board whose status already carries a fatal bit,
// claims the board that answered, and resets it; the Reset's answer is the status the job starts
// from. The boards heard on the link are asked too: one of them gets the job when the named
// address stays silent, never while the named board answers.
// Each step's time is kept for `send -v`.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ExitStatus.h"
#include "JobLink.h"

struct SJobStartResult {
    bool ok = false;
    EExitStatus status = ExitStatus_JobFailed;
    std::string error;
    std::string notice;  // said before the job: more than one board heard
    std::size_t boardsNamed = 1;  // boards the notice names (1: no notice)
    unsigned char board = 0;
    SCommandReply reset;  // the Reset's answer
    double queryMs = 0;   // until the status answer
    double claimMs = 0;
    double resetMs = 0;
};

class CJobStart {
public:
    // Claims the board with this first MAC byte for this process.
    using Claim =
        std::function<bool(unsigned char firstByte, std::string& error, EExitStatus& status)>;

    CJobStart(CJobLink& link, unsigned replyTimeoutMs, int tries);
    SJobStartResult Run(const Claim& claim);
    // "boards heard on IF (first MAC byte): 06, 12; this job goes to 12, ...".
    static std::string BoardsNotice(const std::string& interface, std::vector<unsigned char> heard,
                                    unsigned char board, const char* goes);

private:
    // How much longer the configured board may take to answer than another board heard on the
    // link: a board answers in well under a millisecond, an emulator on a busy machine in tens.
    static constexpr std::chrono::milliseconds kConfiguredBoardGrace{200};

    bool Query(SJobStartResult& result, SCommandReply& status);

    CJobLink& m_link;
    unsigned m_timeoutMs;
    int m_tries;
};
