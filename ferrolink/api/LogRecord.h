// One log record of the library or of its header-only classes: formatted only when the installed
// log handler wants its severity, then handed across the C interface together with the logging
// function's signature, the file and the line. Nothing here depends on a logging library.
#pragma once

#include <optional>
#include <sstream>
#include <string>

#include <ferrolink/api/ferrolink.h>

// The enclosing function's full signature as the compiler prints it.
#if defined(_MSC_VER)
#define FLK_FUNCTION_SIGNATURE __FUNCSIG__
#else
#define FLK_FUNCTION_SIGNATURE __PRETTY_FUNCTION__
#endif

namespace ferrolink {

class CLogRecord {
public:
    // `function` and `file` are literals: they stay valid while the library is loaded, so a
    // receiver may keep them without copying.
    CLogRecord(int severity, const char* function, const char* file, unsigned line)
        : m_severity(severity),
          m_function(function),
          m_file(file),
          m_line(line),
          m_pending(flk_log_enabled(severity) != 0) {}
    CLogRecord(const CLogRecord&) = delete;
    CLogRecord& operator=(const CLogRecord&) = delete;

    bool Pending() const { return m_pending; }
    std::ostream& Stream() {
        if (!m_stream) m_stream.emplace();
        return *m_stream;
    }
    void Done() {
        if (m_pending) {
            const std::string text = m_stream ? m_stream->str() : std::string();
            flk_log_write(m_severity, text.c_str(), m_function, m_file, m_line);
        }
        m_pending = false;
    }

private:
    int m_severity;
    const char* m_function;
    const char* m_file;
    unsigned m_line;
    bool m_pending;
    std::optional<std::ostringstream> m_stream;
};

}  // namespace ferrolink

// FLK_LOG(1) << "text" << value;   severity 1 = notice, 2 = failure.
// The stream is evaluated only when the handler wants the record. Safe as the sole statement of
// an unbraced if.
#define FLK_LOG(severity)                                                                     \
    for (::ferrolink::CLogRecord flk_log_record_(static_cast<int>(severity),                  \
                                                 FLK_FUNCTION_SIGNATURE, __FILE__, __LINE__); \
         flk_log_record_.Pending(); flk_log_record_.Done())                                   \
    flk_log_record_.Stream()
