// How many bands the sender keeps in flight and in memory: enough to keep the wire busy while
// earlier bands await their answers, few enough to stay within the sender's memory bound and a
// quarter of the board's memory. Asked by CPrintJob before each new band.
#pragma once

#include <cstddef>

#include "SendOptions.h"

class CBandWindow {
public:
    explicit CBandWindow(const SPrintJobOptions& options);
    // Bands in flight for these options.
    static int WindowFor(const SPrintJobOptions& options);
    // Band buffers the sender holds at most.
    static std::size_t BuffersFor(const SPrintJobOptions& options);

    int Size() const { return m_window; }
    std::size_t Buffers() const { return m_buffers; }
    // Whether another band may start while `unfinished` await their answer and `held` (finished
    // ones among them, waiting to be reported in order) are listed.
    bool Admits(std::size_t unfinished, std::size_t held) const;

private:
    int m_window;
    std::size_t m_buffers;
};
