#include <gtest/gtest.h>

#include <ferrolink/protocol/SBufferData.h>
#include "support/LogCapture.h"

namespace {

TEST(BufferDataTest, SameSizeReusesBlockAndZeroesIt) {
    SBufferData<unsigned char> b;
    ASSERT_TRUE(b.AllocateBuffer(16));
    unsigned char* block = b.m_pBuffer;
    for (int i = 0; i < 16; ++i) block[i] = static_cast<unsigned char>(i + 1);
    ASSERT_TRUE(b.AllocateBuffer(16));
    EXPECT_EQ(block, b.m_pBuffer);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(0, b.m_pBuffer[i]);
}

TEST(BufferDataTest, ZeroAndNegativeSizesLeaveItEmpty) {
    CLogCapture log;
    SBufferData<unsigned char> b;
    ASSERT_TRUE(b.AllocateBuffer(8));
    EXPECT_TRUE(b.AllocateBuffer(0));
    EXPECT_EQ(nullptr, b.m_pBuffer);
    EXPECT_EQ(0, b.m_count);
    EXPECT_TRUE(log.Records().empty());

    ASSERT_TRUE(b.AllocateBuffer(8));
    EXPECT_FALSE(b.AllocateBuffer(-1));
    EXPECT_EQ(nullptr, b.m_pBuffer);
    EXPECT_EQ(0, b.m_count);
    EXPECT_EQ(1, log.Count("failure", 2));

    b.Release();
    b.Release();  // second release of an empty buffer is harmless
    EXPECT_EQ(0, b.m_count);
}

TEST(BufferDataTest, CopiesNeverShareABlock) {
    SBufferData<unsigned char> a;
    ASSERT_TRUE(a.AllocateBuffer(4));
    a.m_pBuffer[0] = 7;
    SBufferData<unsigned char> copy(a);
    ASSERT_EQ(4, copy.m_count);
    EXPECT_NE(a.m_pBuffer, copy.m_pBuffer);
    EXPECT_EQ(7, copy.m_pBuffer[0]);
    SBufferData<unsigned char> assigned;
    assigned = a;
    EXPECT_NE(a.m_pBuffer, assigned.m_pBuffer);
    SBufferData<unsigned char> moved(std::move(a));
    EXPECT_EQ(nullptr, a.m_pBuffer);  // NOLINT(bugprone-use-after-move): the source is left empty
    EXPECT_EQ(0, a.m_count);
    EXPECT_EQ(7, moved.m_pBuffer[0]);
}

TEST(BufferDataTest, NewElementBufferLogsSizeWhenNoBlock) {
    CLogCapture log;
    EXPECT_EQ(nullptr, SBufferData<unsigned char>::New_ElementBuffer(0));
    EXPECT_TRUE(log.Contains("Allocate memory failure. size = 0", 2));
}

}  // namespace
