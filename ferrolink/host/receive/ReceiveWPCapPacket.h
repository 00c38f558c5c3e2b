// The receive thread: runs the capture library's dispatch loop on a borrowed handle, keeps the
// frames that are long enough, captured whole, travel in the selected direction and carry a valid
// checksum, and hands each one, uncopied, to the host's callback. Logs gaps in the board's traffic
// of more than 2000 ms. The handle stays its opener's: the receiver never closes it.
// Header-only: the thread is the host's (CQuonBaseThread), each loop step runs in the library.
#pragma once

#include <cstdint>
#include <new>

#include <ferrolink/api/LogRecord.h>
#include <ferrolink/api/ferrolink.h>
#include <ferrolink/receive/QuonBaseThread.h>

enum ECaptureMode : std::int32_t {
    CaptureMode_PcToBoard = FLK_CAPTURE_PC_TO_BOARD,       // source PC MAC, destination board MAC
    CaptureMode_BoardToPc = FLK_CAPTURE_BOARD_TO_PC,       // source board MAC, destination PC MAC
    CaptureMode_ToPcOrBoard = FLK_CAPTURE_TO_PC_OR_BOARD,  // destination PC or board MAC
};

// Runs on the receive thread once per delivered frame; the bytes are valid only until it returns.
using ReceiveCallback = bool (*)(const unsigned char* frame, int length, void* userData);

class CReceiveWPCapPacket : public CQuonBaseThread<CReceiveWPCapPacket> {
public:
    enum EProcessState : std::int32_t {
        ProcessState_Initialize = 1,
        ProcessState_Process = 2,
    };

    // Raises std::bad_alloc when the library cannot make the receiver.
    CReceiveWPCapPacket() : m_receiver(flk_receiver_create()) {
        if (m_receiver == nullptr) throw std::bad_alloc();
    }
    // Stops and waits for a thread the host left running: it must not outlive the object.
    ~CReceiveWPCapPacket() override {
        if (m_threadHandle != nullptr) {
            Stop();
            WaitExit(0xFFFFFFFFu);
        }
        flk_receiver_destroy(m_receiver);
    }
    // Copies would share the borrowed handle and the running thread's state.
    CReceiveWPCapPacket(const CReceiveWPCapPacket&) = delete;
    CReceiveWPCapPacket& operator=(const CReceiveWPCapPacket&) = delete;

    // Stores the arguments and starts the thread; false (logged) with a null handle or when the
    // thread cannot start.
    bool Create(ECaptureMode mode, void* pcapHandle, ReceiveCallback callback, void* userData) {
        // The callback's type is the C interface's, spelled for C++.
        flk_receiver_setup(m_receiver, mode, pcapHandle, reinterpret_cast<flk_receive_fn>(callback),
                           userData);
        if (pcapHandle == nullptr) {
            FLK_LOG(2) << "failure";
            return false;
        }
        if (!Start("CReceiveWPCapPacket")) {
            FLK_LOG(2) << "failure";
            return false;
        }
        return true;
    }
    // Ends the loop and breaks a dispatch in progress; forgets the handle without closing it.
    void Stop() override {
        PellBaseThread::Stop();
        flk_receiver_stop(m_receiver);
    }

    // Prints "received check packet." and answers false for a check frame from the board.
    static bool ProcessPacket_Check(const unsigned char* frame, int length) {
        return flk_receiver_process_check(frame, length) != 0;
    }

protected:
    bool OneLoop() override { return flk_receiver_one_loop(m_receiver) != 0; }
    bool Prepare() override {
        if (!PellBaseThread::Prepare()) {
            FLK_LOG(2) << "failure";
            return false;
        }
        return flk_receiver_prepare(m_receiver) != 0;
    }
    void Finally() override {
        flk_receiver_finally(m_receiver);
        PellBaseThread::Finally();
    }

private:
    flk_receiver* m_receiver;
};
