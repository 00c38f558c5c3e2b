// `ferrolink send`: checks every argument, opens the adapter, starts the job on the board
// (CJobStart), runs it (CPrintJob) and reports it as text or JSON lines. Called by the send
// subcommand once its options are parsed.
#pragma once

#include <atomic>
#include <string>

#include "SendOptions.h"

struct SSendRequest {
    std::string device;  // empty: the configured adapter, else a search
    std::string file;
    SPrintJobOptions options;
    std::string timeline;  // --timeline FILE, empty: none
    bool verbose = false;
    bool asJson = false;
};

// The exit status of the send. `abort` is the library's flag for ending an adapter search.
int RunSend(const SSendRequest& request, const std::atomic<bool>& stop, const bool* abort);
