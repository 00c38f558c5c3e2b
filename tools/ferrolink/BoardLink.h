// The tool's connection to a board: the opened adapter, the claim on the board, the receive
// thread, and commands answered by a status reply. Replies are matched to this process's own
// commands by sequence numbers that start at a random point, so a reply to another process's
// command (or to an earlier, abandoned one of ours) never completes ours.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <ferrolink/adapter/PCapOpen_Network.h>
#include <ferrolink/receive/ReceiveWPCapPacket.h>
#include <ferrolink/reply/SWaitCheckParam.h>

#include "ExitStatus.h"

using namespace ferrolink::core;  // the library's core classes, linked from its archive

namespace ferrolink::core {
class CCustomAutoResetEvent;
}

// What the operating system says about the adapter's link.
enum class ELinkState { Up, Down, Gone };

// A status reply taken from the wire: the frame's band (frameIndex) and the parsed status.
struct SCommandReply {
    std::uint32_t m_frameIndex = 0;
    SWaitCheckParam m_status{true};
};

class CBoardLink {
public:
    // Called on the receive thread for every frame the receiver passes (after its checks).
    using FrameObserver = void (*)(const unsigned char* frame, int length, void* user);

    CBoardLink();
    ~CBoardLink();
    CBoardLink(const CBoardLink&) = delete;
    CBoardLink& operator=(const CBoardLink&) = delete;

    // Opens `device` ("rpcap://IF" or an interface name), or searches automatically when empty.
    // `abort` ends the search early. False with `error` and `status` filled.
    bool Open(const std::string& device, const bool* abort, std::string& error,
              EExitStatus& status);
    // With a named device: learns the board's first MAC byte from what it sends (up to
    // `listenMs`) and claims the board as automatic opening does. Needs the receiver running.
    bool ClaimNamedBoard(unsigned listenMs, std::string& error, EExitStatus& status);
    // Starts the receive thread in `mode`; frames also go to `observer` when given.
    bool StartReceiving(ECaptureMode mode = CaptureMode_BoardToPc, FrameObserver observer = nullptr,
                        void* user = nullptr);
    void StopReceiving();

    // Sends a command with a fresh sequence number, which its reply will carry. 0 when the frame
    // could not be sent.
    std::uint32_t PostCommand(std::uint16_t symbol, std::uint32_t frameIndex,
                              const std::vector<std::uint32_t>& words);
    // The reply to a posted command once it has arrived (the command is then forgotten).
    bool TakeReply(std::uint32_t sequence, SCommandReply& reply);
    // Stops waiting for a command's reply; a late reply is then ignored.
    void Forget(std::uint32_t sequence);
    // Waits until a reply to any posted command arrives or `timeoutMs` pass.
    void WaitForReply(unsigned timeoutMs);
    // Post, then wait up to `timeoutMs` per try, `tries` times. False on time-out or send failure.
    bool Command(std::uint16_t symbol, std::uint32_t frameIndex,
                 const std::vector<std::uint32_t>& words, unsigned timeoutMs, int tries,
                 SCommandReply& reply);
    // Sends print data under the handle lock.
    bool SendBand(class CActualPrintData& band, int frameIndex);

    std::string DeviceName() const { return m_device; }
    // The interface name without the "rpcap://" prefix.
    std::string InterfaceName() const;
    ELinkState LinkState() const;
    void* Handle() { return m_network.GetPCapHandle(1000); }
    std::uint64_t FramesReceived() const;
    std::uint64_t FramesSent() const { return m_framesSent; }
    // Frames received with a board source address that reached no command of ours.
    std::uint64_t RepliesIgnored() const;
    // Drops reported by the capture library for the handle.
    std::uint64_t CaptureDrops();

    // The claim name of a board with this first MAC byte.
    static std::string ClaimName(unsigned char firstByte);

private:
    static bool OnFrame(const unsigned char* frame, int length, void* user);

    CPCapOpen_Network m_network;
    std::unique_ptr<CReceiveWPCapPacket> m_receiver;
    std::unique_ptr<CCustomAutoResetEvent> m_claim;
    std::string m_device;
    FrameObserver m_observer = nullptr;
    void* m_observerUser = nullptr;
    std::uint64_t m_framesSent = 0;

    mutable std::mutex m_mutex;  // guards everything below against the receive thread
    std::condition_variable m_arrived;
    std::map<std::uint32_t, std::unique_ptr<std::vector<unsigned char>>> m_pending;  // by sequence
    std::uint32_t m_nextSequence = 0;
    std::uint64_t m_framesReceived = 0;
    std::uint64_t m_repliesIgnored = 0;
    int m_boardFirstByte = -1;  // first MAC byte of the first board frame heard, -1 before
};
