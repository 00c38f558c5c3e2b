// The tools' console sink: repeated records are cut to a few per second and summarised with
// their count; records that differ only in their numbers are one kind, other places or texts
// are not.
#include <gtest/gtest.h>

#include <string>

#include <ferrolink/outside/CustomBoostLog.h>

#include "common/ConsoleLog.h"

namespace {

using ferrolink::tools::CConsoleLog;

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

TEST(ConsoleLog, RepeatedRecordsAreLimitedAndCounted) {
    // As the tool does: off until the command line gives the level. The counts stay small enough
    // to be logged well inside one rate window, also under the thread sanitizer.
    ASSERT_TRUE(CConsoleLog::Install("off"));
    ASSERT_TRUE(CConsoleLog::Install("notice"));
    struct SCase {
        int frames;  // "bad frame N" records from one place
        int others;  // records of another text from another place
        std::size_t shownFrames;
        const char* summary;  // expected summary of the frames, or nullptr for none
    };
    const SCase cases[] = {
        {3, 0, 3, nullptr},
        {CConsoleLog::kBurst, 2, CConsoleLog::kBurst, nullptr},
        {CConsoleLog::kBurst + 1, 1, CConsoleLog::kBurst, "and 1 more like it in"},
        {1234 + CConsoleLog::kBurst, 3, CConsoleLog::kBurst, "and 1,234 more like it in"},
    };
    for (const SCase& c : cases) {
        testing::internal::CaptureStderr();
        for (int i = 0; i < c.frames; ++i) FLK_LOG(2) << "bad frame " << i;
        for (int i = 0; i < c.others; ++i) FLK_LOG(1) << "link down";
        CConsoleLog::Flush(true);
        const std::string out = testing::internal::GetCapturedStderr();
        SCOPED_TRACE(out.substr(0, 2000));
        EXPECT_EQ(Count(out, "[failure] bad frame "), c.shownFrames) << c.frames;
        EXPECT_EQ(Count(out, "[notice] link down ("), static_cast<std::size_t>(c.others));
        EXPECT_EQ(Count(out, "more like it"), c.summary ? 1u : 0u);
        if (c.summary) {
            EXPECT_NE(out.find(c.summary), std::string::npos);
        }
        // Where it was logged, without the build's path.
        EXPECT_NE(out.find("ConsoleLogTest.cpp:"), std::string::npos);
        EXPECT_EQ(out.find("/ConsoleLogTest.cpp"), std::string::npos);
    }
}

}  // namespace
