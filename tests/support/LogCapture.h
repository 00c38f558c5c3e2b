// Collects the library's log records while it lives, so tests assert on message text, severity
// and scope instead of scraping a console.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct SCapturedRecord {
    std::string message;
    int severity = 0;
    std::string scope;  // innermost named scope: the logging function's signature
    std::string file;
    unsigned line = 0;
};

class CLogCapture {
public:
    CLogCapture();
    ~CLogCapture();
    CLogCapture(const CLogCapture&) = delete;
    CLogCapture& operator=(const CLogCapture&) = delete;

    std::vector<SCapturedRecord> Records() const;
    std::vector<std::string> Messages() const;
    // Number of records whose message equals `message` exactly (and severity, when given).
    int Count(const std::string& message, int severity = 0) const;

    struct SState;

private:
    std::shared_ptr<SState> m_state;
    struct SSinkHolder;
    std::unique_ptr<SSinkHolder> m_sink;
};
