#include <ferrolink/protocol/ConstValue.h>

#include <cstring>

#include <ferrolink/outside/CustomBoostLog.h>

namespace ferrolink::core {

const unsigned char CConstValue::m_pcMac[6] = {0x7B, 0x23, 0xFC, 0x98, 0x10, 0x99};
unsigned char CConstValue::m_boardMac[6] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC};
int CConstValue::m_frameMaximumSize = 1496;

CConstValue::~CConstValue() = default;

int CConstValue::GetFrameMaximumSize() { return m_frameMaximumSize; }

void CConstValue::SetFrameMaximumSize(int size) { m_frameMaximumSize = size; }

int CConstValue::GetFrameActualPrintDataMaximizeSize() {
    return m_frameMaximumSize - GetFrameHeaderAndCheckSumSize();
}

const unsigned char* CConstValue::GetPcMac() { return m_pcMac; }

bool CConstValue::IsPcMac(const unsigned char* mac) {
    return mac != nullptr && std::memcmp(mac, m_pcMac, sizeof m_pcMac) == 0;
}

const unsigned char* CConstValue::BoardMac_Get() { return m_boardMac; }

bool CConstValue::BoardMac_Set(const SBufferData<unsigned char>& mac) {
    if (mac.m_count != MacByteLen_Get() || mac.m_pBuffer == nullptr) {
        FLK_LOG(2) << "failure";
        return false;
    }
    std::memcpy(m_boardMac, mac.m_pBuffer, sizeof m_boardMac);
    return true;
}

bool CConstValue::BoardMac_FirstByte_Update(unsigned char first) {
    m_boardMac[0] = first;
    return true;
}

}  // namespace ferrolink::core
