#include "BandWindow.h"

#include <algorithm>
#include <cstdint>

CBandWindow::CBandWindow(const SPrintJobOptions& o)
    : m_window(WindowFor(o)),
      // One band more than the window where memory allows: the reader fills it meanwhile.
      m_buffers(std::min(static_cast<std::size_t>(m_window) + 1,
                         std::max(BuffersFor(o), static_cast<std::size_t>(m_window)))) {}

std::size_t CBandWindow::BuffersFor(const SPrintJobOptions& o) {
    // Each band in memory is a buffer here and, while it is sent, a send queue in the library;
    // with the library's own rings that leaves room for about 16 MiB of buffers beyond one.
    return static_cast<std::size_t>(
        std::max<std::uint64_t>(1 + (std::uint64_t{16} << 20) / o.bandSize, 2));
}

int CBandWindow::WindowFor(const SPrintJobOptions& o) {
    // Each band in flight holds a buffer: a window asked for is kept within the memory bound.
    if (o.window > 0)
        return static_cast<int>(
            std::min<std::uint64_t>(static_cast<std::uint64_t>(o.window), BuffersFor(o)));
    // Enough bands in flight to cover what the kernel queues ahead of the wire (a shaped
    // gigabit link holds 50 ms, 6 MB), at least three so that a band's resend round trips
    // overlap two others, within a quarter of the board's memory so that resends and a slow
    // printer never fill it, and within the buffers the sender may hold.
    const std::uint64_t boardPackets = o.boardMemoryMiB * 512;  // 2 KiB per packet held
    const std::uint64_t byMemory = boardPackets / 4 / std::max<std::uint64_t>(PacketsPerBand(o), 1);
    const std::uint64_t byBytes =
        std::max<std::uint64_t>((std::uint64_t{12} << 20) / o.bandSize, 3);
    return static_cast<int>(
        std::clamp<std::uint64_t>(std::min({byMemory, byBytes, BuffersFor(o)}), 1, 32));
}

bool CBandWindow::Admits(std::size_t unfinished, std::size_t held) const {
    const auto window = static_cast<std::size_t>(m_window);
    return unfinished < window && held < 4 * window;
}
