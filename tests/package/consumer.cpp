// A host program built against the installed library: builds the reference frame and checks it.
#include <cstdio>
#include <cstring>

#include <ferrolink/protocol/ConstValue.h>
#include <ferrolink/protocol/NetworkHelper.h>

int main() {
    SBufferData<unsigned char> frame;
    const unsigned char data[] = {'a', 'b', 'c'};
    if (!CNetworkHelper::PreparePacket_Print(1, 0, PaddingValue_Zero, 3, data, 3, frame)) return 1;
    const unsigned char checksum[4] = {0xf4, 0xbc, 0xba, 0xcb};
    if (frame.m_count != 88 || std::memcmp(frame.m_pBuffer + 84, checksum, 4) != 0) return 2;
    if (!CNetworkHelper::IsValidCheckSum(frame.m_pBuffer, frame.m_count)) return 3;
    if (CConstValue::GetFrameMaximumSize() != 1496) return 4;
    std::printf("consumer: built a %d-byte frame\n", frame.m_count);
    return 0;
}
