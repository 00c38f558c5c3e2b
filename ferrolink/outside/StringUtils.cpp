#include <ferrolink/outside/StringUtils.h>

void StringUtils::Split(const std::string& text, std::string separator,
                        std::vector<std::string>& pieces, bool keepEmpty, bool clearOutput) {
    if (clearOutput) pieces.clear();
    if (separator.empty()) {
        if (keepEmpty || !text.empty()) pieces.push_back(text);
        return;
    }
    std::size_t start = 0;
    for (;;) {
        const std::size_t at = text.find(separator, start);
        const std::size_t end = at == std::string::npos ? text.size() : at;
        if (keepEmpty || end > start) pieces.push_back(text.substr(start, end - start));
        if (at == std::string::npos) break;
        start = at + separator.size();
    }
}
