// The tool's connection to a board: the opened adapter, the receive thread, and commands that are
// answered by a status reply, matched by their sequence number.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <ferrolink/adapter/PCapOpen_Network.h>
#include <ferrolink/receive/ReceiveWPCapPacket.h>
#include <ferrolink/reply/SWaitCheckParam.h>
#include <ferrolink/reply/WaitReceivePacket.h>

class CBoardLink {
public:
    // Called on the receive thread for every frame from the board (after the library's checks).
    using FrameObserver = void (*)(const unsigned char* frame, int length, void* user);

    CBoardLink();
    ~CBoardLink();
    CBoardLink(const CBoardLink&) = delete;
    CBoardLink& operator=(const CBoardLink&) = delete;

    // Opens `device` ("rpcap://IF" or an interface name), or searches automatically when empty.
    // `abort` ends the search early. False with `error` filled.
    bool Open(const std::string& device, const bool* abort, std::string& error);
    // Starts the receive thread; frames also go to `observer` when given.
    bool StartReceiving(FrameObserver observer = nullptr, void* user = nullptr);
    void StopReceiving();

    // Sends a command frame and waits up to `timeoutMs` per try for its reply, trying `tries`
    // times. False on time-out or a send failure.
    bool Command(std::uint16_t symbol, std::uint32_t frameIndex,
                 const std::vector<std::uint32_t>& words, unsigned timeoutMs, int tries,
                 SWaitCheckParam& reply);
    // Sends print data under the handle lock.
    bool SendBand(class CActualPrintData& band, int frameIndex);

    std::string DeviceName() const;
    void* Handle() { return m_network.GetPCapHandle(1000); }
    std::uint64_t FramesReceived() const { return m_framesReceived.load(); }
    std::uint64_t FramesSent() const { return m_framesSent; }
    // Drops reported by the capture library for the handle.
    std::uint64_t CaptureDrops();

private:
    static bool OnFrame(const unsigned char* frame, int length, void* user);

    CPCapOpen_Network m_network;
    std::unique_ptr<CReceiveWPCapPacket> m_receiver;
    std::string m_device;
    FrameObserver m_observer = nullptr;
    void* m_observerUser = nullptr;
    std::atomic<std::uint64_t> m_framesReceived{0};
    std::uint64_t m_framesSent = 0;

    std::mutex m_waitMutex;  // guards the awaited reply and its sequence against the receive thread
    CWaitReceivePacket* m_awaited = nullptr;
    std::uint32_t m_awaitedSequence = 0;
    std::uint32_t m_nextSequence = 1;
};
