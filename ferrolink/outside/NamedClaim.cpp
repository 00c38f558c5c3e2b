// What every system's claim shares: why the last claim was refused, kept for the process and
// logged once per change.
#include <ferrolink/outside/NamedClaim.h>

#include <mutex>

#include <ferrolink/outside/CustomBoostLog.h>

namespace {

std::mutex g_refusalMutex;
std::string g_lastRefusal;
EClaimResult g_lastResult = ClaimResult_Granted;

}  // namespace

std::string CNamedClaim::LastRefusal() {
    std::lock_guard<std::mutex> lock(g_refusalMutex);
    return g_lastRefusal;
}

EClaimResult CNamedClaim::LastResult() {
    std::lock_guard<std::mutex> lock(g_refusalMutex);
    return g_lastResult;
}

bool CNamedClaim::Refuse(const std::string& name, EClaimResult result, const std::string& why) {
    m_result = result;
    m_refusal = why;
    // Once per change: a held board is heard again and again while a search listens.
    std::lock_guard<std::mutex> lock(g_refusalMutex);
    g_lastResult = result;
    if (why != g_lastRefusal) {
        g_lastRefusal = why;
        FLK_LOG(2) << "claim " << name << " refused: " << why;
    }
    return false;
}

void CNamedClaim::Granted() {
    m_result = ClaimResult_Granted;
    m_refusal.clear();
    std::lock_guard<std::mutex> lock(g_refusalMutex);
    g_lastRefusal.clear();
    g_lastResult = ClaimResult_Granted;
}
