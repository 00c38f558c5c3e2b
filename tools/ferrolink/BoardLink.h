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

#include <ferrolink/transmit/ActualPrintData.h>

#include "ExitStatus.h"
#include "JobLink.h"

using namespace ferrolink::core;  // the library's core classes, linked from its archive

namespace ferrolink::core {
class CCustomAutoResetEvent;
}

class CBoardLink : public CJobLink {
public:
    // Called on the receive thread for every frame the receiver passes (after its checks).
    using FrameObserver = void (*)(const unsigned char* frame, int length, void* user);

    CBoardLink();
    ~CBoardLink() override;
    CBoardLink(const CBoardLink&) = delete;
    CBoardLink& operator=(const CBoardLink&) = delete;

    // Opens `device` ("rpcap://IF" or an interface name), or searches automatically when empty.
    // `abort` ends the search early. False with `error` and `status` filled.
    bool Open(const std::string& device, const bool* abort, std::string& error,
              EExitStatus& status);
    // With a named device: learns the board's first MAC byte from what it sends (up to
    // `listenMs`) and claims the board as automatic opening does. Needs the receiver running.
    // `firstByte` (0..255) names the board instead: the one that answered a status query.
    bool ClaimNamedBoard(unsigned listenMs, std::string& error, EExitStatus& status,
                         int firstByte = -1);
    // Starts the receive thread in `mode`; frames also go to `observer` when given.
    bool StartReceiving(ECaptureMode mode = CaptureMode_BoardToPc, FrameObserver observer = nullptr,
                        void* user = nullptr);
    void StopReceiving();

    std::uint32_t PostCommand(std::uint16_t symbol, std::uint32_t frameIndex,
                              const std::vector<std::uint32_t>& words) override;
    bool TakeReply(std::uint32_t sequence, SCommandReply& reply) override;
    void Forget(std::uint32_t sequence) override;
    void WaitForReply(unsigned timeoutMs) override;
    // Print data under the handle lock, in one bulk send of the library.
    bool SendPackets(const unsigned char* data, std::size_t bytes, int packetSize,
                     std::uint32_t band, std::uint32_t from, std::uint32_t end) override;
    unsigned char BoardAddress() const override;
    void UseBoardAddress(unsigned char firstByte) override;
    std::vector<unsigned char> BoardsHeard() const override;
    // Makes the adapter's send buffer hold `bytes` of frames (the bands in flight), within what
    // the system allows.
    void SizeSendBuffer(std::size_t bytes);

    std::string DeviceName() const { return m_device; }
    // The interface name without the "rpcap://" prefix.
    std::string InterfaceName() const override;
    ELinkState LinkState() const override;
    void* Handle() { return m_network.GetPCapHandle(1000); }
    std::uint64_t FramesReceived() const;
    std::uint64_t FramesSent() const { return m_framesSent; }
    // Frames received with a board source address that reached no command of ours.
    std::uint64_t RepliesIgnored() const override;
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
    CActualPrintData m_print;  // reused from send to send

    mutable std::mutex m_mutex;  // guards everything below against the receive thread
    std::condition_variable m_arrived;
    // By sequence: the board asked (first MAC byte) and its reply once it came.
    struct SPending {
        unsigned char board = 0;
        std::unique_ptr<std::vector<unsigned char>> reply;
    };
    std::map<std::uint32_t, SPending> m_pending;
    std::uint32_t m_nextSequence = 0;
    std::uint64_t m_framesReceived = 0;
    std::uint64_t m_repliesIgnored = 0;
    int m_boardFirstByte = -1;  // first MAC byte of the first board frame heard, -1 before
    std::vector<unsigned char> m_boardsHeard;  // first MAC bytes, in the order heard
};
