// Text splitting for the packet driver's name blocks.
#pragma once

#include <string>
#include <vector>

#include <ferrolink/FerrolinkExport.h>

class StringUtils {
public:
    // Splits `text` at every occurrence of `separator` and appends the pieces, in order, to
    // `pieces` (cleared first when `clearOutput`). Empty pieces are kept only with `keepEmpty`.
    static void Split(const std::string& text, std::string separator,
                      std::vector<std::string>& pieces, bool keepEmpty, bool clearOutput);
};
