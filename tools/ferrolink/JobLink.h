// What the send path needs of a board link: commands answered by status replies, print packets,
// and the adapter's link state. CBoardLink is the one on the wire; the unit tests give the send
// path a board that answers in-process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <ferrolink/reply/SWaitCheckParam.h>

#include "platform/NetworkInterface.h"

using ferrolink::core::SWaitCheckParam;  // the library's core classes, linked from its archive

// A status reply taken from the wire: the answering board's first MAC byte, the frame's band
// (frameIndex) and the parsed status.
struct SCommandReply {
    unsigned char m_board = 0;
    std::uint32_t m_frameIndex = 0;
    SWaitCheckParam m_status{true};
};

class CJobLink {
public:
    virtual ~CJobLink() = default;

    // Sends a command with a fresh sequence number to the board at BoardAddress(); its reply
    // carries the number. 0 when the frame could not be sent.
    virtual std::uint32_t PostCommand(std::uint16_t symbol, std::uint32_t frameIndex,
                                      const std::vector<std::uint32_t>& words) = 0;
    // The reply to a posted command once it has arrived (the command is then forgotten).
    virtual bool TakeReply(std::uint32_t sequence, SCommandReply& reply) = 0;
    // Stops waiting for a command's reply; a late reply is then ignored.
    virtual void Forget(std::uint32_t sequence) = 0;
    // Waits until a reply to any posted command arrives or `timeoutMs` pass.
    virtual void WaitForReply(unsigned timeoutMs) = 0;
    // Sends packets [from, end) of the band of `bytes` at `data`, cut into `packetSize` pieces.
    virtual bool SendPackets(const unsigned char* data, std::size_t bytes, int packetSize,
                             std::uint32_t band, std::uint32_t from, std::uint32_t end) = 0;
    virtual ELinkState LinkState() const = 0;
    // The interface name without the "rpcap://" prefix.
    virtual std::string InterfaceName() const = 0;
    // Frames with a board's source address that answered no command of ours.
    virtual std::uint64_t RepliesIgnored() const = 0;
    // The first MAC byte of the board commands go to, and the boards heard so far.
    virtual unsigned char BoardAddress() const = 0;
    virtual void UseBoardAddress(unsigned char firstByte) = 0;
    virtual std::vector<unsigned char> BoardsHeard() const = 0;

    // Post, then wait up to `timeoutMs` per try, `tries` times. False on time-out or send failure.
    bool Command(std::uint16_t symbol, std::uint32_t frameIndex,
                 const std::vector<std::uint32_t>& words, unsigned timeoutMs, int tries,
                 SCommandReply& reply);
};
