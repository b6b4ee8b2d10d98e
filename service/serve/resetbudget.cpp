#include "serve/resetbudget.h"

#include <algorithm>
#include <cstring>

namespace vorna::service {

namespace {

constexpr char ClientPreface[] = "PRI * HTTP/2.0\r\n\r\nSM\r\n\r\n";
constexpr size_t ClientPrefaceSize = sizeof ClientPreface - 1;
constexpr unsigned char RstStreamType = 0x3;

} // namespace

int Http2FrameCounter::resetsIn(const unsigned char *data, size_t size)
{
    int resets = 0;
    while (size > 0 && !m_opaque) {
        if (m_prefaceSeen < ClientPrefaceSize) {
            const size_t take = std::min(size, ClientPrefaceSize - m_prefaceSeen);
            m_opaque = std::memcmp(data, ClientPreface + m_prefaceSeen, take) != 0;
            m_prefaceSeen += take;
            data += take;
            size -= take;
        } else if (m_payloadLeft > 0) {
            const size_t take = size_t(std::min<uint64_t>(size, m_payloadLeft));
            m_payloadLeft -= take;
            data += take;
            size -= take;
        } else {
            const size_t take = std::min(size, sizeof m_header - m_headerFill);
            std::memcpy(m_header + m_headerFill, data, take);
            m_headerFill += take;
            data += take;
            size -= take;
            if (m_headerFill == sizeof m_header) {
                m_payloadLeft = (uint64_t(m_header[0]) << 16) | (uint64_t(m_header[1]) << 8) | m_header[2];
                resets += m_header[3] == RstStreamType;
                m_headerFill = 0;
            }
        }
    }
    return resets;
}

bool ResetBudget::spend(const std::string &address, int resets, long long nowMs)
{
    Window &window = m_windows[address];
    if (nowMs - window.startMs >= m_windowMs) {
        window.startMs = nowMs;
        window.spent = 0;
    }
    window.spent += resets;
    if (window.spent > m_perWindow)
        window.blockedUntilMs = window.startMs + 2 * m_windowMs;
    const bool allowed = nowMs >= window.blockedUntilMs;
    if (m_windows.size() > MaxRemembered)
        forgetOldWindows(nowMs);
    return allowed;
}

void ResetBudget::forgetOldWindows(long long nowMs)
{
    for (auto it = m_windows.begin(); it != m_windows.end();) {
        const bool old = nowMs - it->second.startMs >= m_windowMs && nowMs >= it->second.blockedUntilMs;
        it = old ? m_windows.erase(it) : std::next(it);
    }
}

bool ResetBudget::overspent(const std::string &address, long long nowMs) const
{
    const auto it = m_windows.find(address);
    return it != m_windows.end() && nowMs < it->second.blockedUntilMs;
}

} // namespace vorna::service
