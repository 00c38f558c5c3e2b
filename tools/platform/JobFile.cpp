// What both systems' job files share: a band read into memory of its own when the file cannot be
// mapped.
#include "platform/JobFile.h"

#include <cstdlib>

bool CJobFile::ReadInto(std::uint64_t offset, std::size_t length, SJobView& view,
                        std::string& error) const {
    auto* copy = static_cast<unsigned char*>(std::malloc(length));
    if (!copy) {
        error = "out of memory for a band of " + std::to_string(length) + " bytes";
        return false;
    }
    for (std::size_t done = 0; done < length;) {
        std::size_t got = 0;
        const bool read = ReadAt(offset + done, copy + done, length - done, got, error);
        if (!read || got == 0) {
            if (read) error = "the file shrank while it was sent";
            std::free(copy);
            return false;
        }
        done += got;
    }
    view.m_base = copy;
    view.m_mapped = 0;  // not a mapping
    view.m_data = copy;
    view.m_length = length;
    return true;
}
