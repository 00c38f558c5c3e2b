// The receive thread: runs the capture library's dispatch loop on a borrowed handle, keeps the
// frames that are long enough, captured whole, travel in the selected direction and carry a valid
// checksum, and hands each one, uncopied, to the host's callback. Logs gaps in the board's traffic
// of more than 2000 ms. The handle stays its opener's: the receiver never closes it.
#pragma once

#include <atomic>
#include <cstdint>

#include <ferrolink/FerrolinkExport.h>
#include <ferrolink/receive/QuonBaseThread.h>

struct pcap_pkthdr;

#ifdef FERROLINK_TEST_PROBES
class CReceiveWPCapPacketProbe;  // white-box tests' probe, at global scope
#endif

namespace ferrolink::core {

enum ECaptureMode : std::int32_t {
    CaptureMode_PcToBoard = 1,    // source PC MAC, destination board MAC
    CaptureMode_BoardToPc = 2,    // source board MAC, destination PC MAC
    CaptureMode_ToPcOrBoard = 3,  // destination PC MAC or board MAC, any source
};

// Runs on the receive thread once per delivered frame; the bytes are valid only until it returns.
using ReceiveCallback = bool (*)(const unsigned char* frame, int length, void* userData);

class CReceiveWPCapPacket;
extern template class CQuonBaseThread<CReceiveWPCapPacket>;

class CReceiveWPCapPacket : public CQuonBaseThread<CReceiveWPCapPacket> {
public:
    enum EProcessState : std::int32_t {
        ProcessState_Initialize = 1,
        ProcessState_Process = 2,
    };

    CReceiveWPCapPacket();
    // Stops and waits for a thread the host left running: it must not outlive the object.
    ~CReceiveWPCapPacket() override;
    // Copies would share the borrowed handle and the running thread's state.
    CReceiveWPCapPacket(const CReceiveWPCapPacket&) = delete;
    CReceiveWPCapPacket& operator=(const CReceiveWPCapPacket&) = delete;

    // Stores the arguments and starts the thread; false (logged) with a null handle or when the
    // thread cannot start.
    bool Create(ECaptureMode mode, void* pcapHandle, ReceiveCallback callback, void* userData);
    // Stores the arguments without starting a thread (for a thread that is the caller's).
    void Setup(ECaptureMode mode, void* pcapHandle, ReceiveCallback callback, void* userData);
    // Ends the loop and breaks a dispatch in progress; forgets the handle without closing it.
    void Stop() override;

    // Prints "received check packet." and answers false for a check frame from the board.
    static bool ProcessPacket_Check(const unsigned char* frame, int length);

protected:
    bool OneLoop() override;
    bool Prepare() override;
    void Finally() override;

private:
#ifdef FERROLINK_TEST_PROBES  // set only for what tests, benchmarks and fuzz targets build
    friend class ::CReceiveWPCapPacketProbe;  // drives the per-frame path without a thread
#endif

    bool Initialize();
    bool Process();
    static void ReceivePacketHandler(unsigned char* user, const struct pcap_pkthdr* header,
                                     const unsigned char* bytes);
    bool ReceivePacketHandler_Internal(const struct pcap_pkthdr* header,
                                       const unsigned char* bytes);
    bool IsMatch_CaptureMode(const unsigned char* frame, int length) const;
    bool ProcessOriginDataBuffer(const unsigned char* frame, int length);

    std::int32_t m_processState = 0;
    ECaptureMode m_captureMode = static_cast<ECaptureMode>(0);
    std::atomic<void*> m_pcapHandle{nullptr};
    std::uint32_t m_lastPacketTick = 0;
    ReceiveCallback m_receiveCallback = nullptr;
    void* m_userData = nullptr;
};

}  // namespace ferrolink::core
