// What every system's claim shares: why the last claim was refused, kept for the process, and
// the notices waiting for a caller to log them.
#include <ferrolink/platform/NamedClaim.h>

#include <mutex>

namespace ferrolink::platform {

namespace {

std::mutex g_stateMutex;
std::string g_lastRefusal;
EClaimResult g_lastResult = ClaimResult_Granted;
std::vector<std::string> g_notices;

}  // namespace

std::string CNamedClaim::LastRefusal() {
    std::lock_guard<std::mutex> lock(g_stateMutex);
    return g_lastRefusal;
}

EClaimResult CNamedClaim::LastResult() {
    std::lock_guard<std::mutex> lock(g_stateMutex);
    return g_lastResult;
}

std::vector<std::string> CNamedClaim::TakeNotices() {
    std::lock_guard<std::mutex> lock(g_stateMutex);
    return std::move(g_notices);
}

void CNamedClaim::Notice(const std::string& text) {
    std::lock_guard<std::mutex> lock(g_stateMutex);
    g_notices.push_back(text);
}

bool CNamedClaim::Refuse(EClaimResult result, const std::string& why) {
    m_result = result;
    m_refusal = why;
    std::lock_guard<std::mutex> lock(g_stateMutex);
    g_lastResult = result;
    m_newRefusal = why != g_lastRefusal;
    g_lastRefusal = why;
    return false;
}

void CNamedClaim::Granted() {
    m_result = ClaimResult_Granted;
    m_refusal.clear();
    m_newRefusal = false;
    std::lock_guard<std::mutex> lock(g_stateMutex);
    g_lastRefusal.clear();
    g_lastResult = ClaimResult_Granted;
}

}  // namespace ferrolink::platform
