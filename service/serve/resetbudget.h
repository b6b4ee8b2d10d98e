#pragma once
// gRPC 1.51 has no defence against HTTP/2 rapid reset: a client that opens streams and resets
// them at once makes the server create (and queue) a call for each, tens of thousands a second
// from one connection. The listen guard therefore reads along what plaintext clients send, counts
// their RST_STREAM frames per client address, and cuts a connection off before gRPC sees the
// frames that exceed the address's budget. TLS connections are opaque to it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>

namespace vorna::service {

// Follows one client's byte stream frame by frame (only the 9-byte frame headers are read).
class Http2FrameCounter
{
public:
    // The RST_STREAM frames whose header ends within these bytes. A stream that does not start
    // with the HTTP/2 client preface (TLS, HTTP/1.1) is opaque: nothing more is counted.
    int resetsIn(const unsigned char *data, size_t size);
    bool opaque() const { return m_opaque; }

private:
    size_t m_prefaceSeen = 0;
    bool m_opaque = false;
    unsigned char m_header[9] = {};
    size_t m_headerFill = 0;
    uint64_t m_payloadLeft = 0;
};

// Resets allowed per client address within a window; an address over it stays cut off until
// the window after the one it overspent in has passed.
class ResetBudget
{
public:
    ResetBudget(int perWindow, long long windowMs) : m_perWindow(perWindow), m_windowMs(windowMs) {}

    // Counts `resets` for `address`; false when the address is over its budget.
    bool spend(const std::string &address, int resets, long long nowMs);
    bool overspent(const std::string &address, long long nowMs) const;

private:
    struct Window
    {
        long long startMs = 0;
        int spent = 0;
        long long blockedUntilMs = 0;
    };

    static constexpr size_t MaxRemembered = 10000;
    void forgetOldWindows(long long nowMs);

    int m_perWindow;
    long long m_windowMs;
    std::unordered_map<std::string, Window> m_windows;
};

} // namespace vorna::service
