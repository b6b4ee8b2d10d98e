#pragma once
// Keeps the service's listeners alive and bounded. gRPC's TCP server (1.51) stops accepting on
// a listener for good after one failed accept4, such as EMFILE when descriptors run out, and it
// has no cap on connections. So the process's accept4 is ours (listenguard.cpp, exported from
// the executable): once enabled it
//  - keeps a reserve descriptor; when descriptors run out it frees the reserve, accepts and
//    closes the waiting connections, takes the reserve back and reports "try again" (EAGAIN),
//    which leaves gRPC's listener armed;
//  - counts the connections it hands out per client address and in total, and closes a new
//    connection at once when a cap is reached;
//  - with a reset budget, reads along plaintext connections (recvmsg, also ours) and cuts off
//    an address that resets streams faster than any panel does (resetbudget.h).
// It works below TLS, so plaintext and TLS listeners are guarded alike.
//
// The metrics listener (cpp-httplib) accepts with accept(), which is ours too: its connections
// go in a book of their own with caps of their own, so a flood there cannot take the
// descriptors the gRPC port needs; and through recv(), also ours, each may send only a short
// request within a short time, so nothing a client sends there can grow the process.

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <unordered_map>
#include <unordered_set>

namespace vorna::service {

// The metrics listener's connections; a 0 turns that cap off.
struct MetricsConnectionCaps
{
    int total = 0;
    int perAddress = 0;
    size_t requestBytes = 0; // what one connection may send in all
    int requestMs = 0;       // how long after it was accepted it may still send
};

struct ConnectionCaps
{
    int total = 0;      // 0: no cap
    int perAddress = 0; // 0: no cap
    // RST_STREAM frames one client address may send per 10 s (plaintext listeners); 0: not
    // counted. Beyond it the connection is cut off and the address refused for a while.
    int resetsPerAddress = 0;
    MetricsConnectionCaps metrics;
};

// The book of accepted connections. gRPC closes descriptors without telling us, so an entry is
// checked (the descriptor still names the same socket) only when a count reaches its cap.
class ConnectionLedger
{
public:
    enum class Verdict { Admit, AddressFull, TotalFull };

    explicit ConnectionLedger(ConnectionCaps caps) : m_caps(caps) {}

    // `inode` tells a socket from a later one that reuses its descriptor number.
    Verdict admit(int fd, ino_t inode, const std::string &address);
    size_t total() const { return m_byFd.size(); }
    size_t countFor(const std::string &address) const;

private:
    struct Entry
    {
        ino_t inode;
        std::string address;
    };

    bool addressFull(const std::string &address);
    bool totalFull();
    void forget(int fd);
    bool stillOpen(int fd, const Entry &entry) const;

    ConnectionCaps m_caps;
    std::unordered_map<int, Entry> m_byFd;
    std::unordered_map<std::string, std::unordered_set<int>> m_byAddress;
    long long m_lastFullSweepMs = -1000000;
};

namespace ListenGuard {

// Turns the guard on for every later accept4 of this process; returns its number, or 0 with a
// sentence in `error` when the reserve descriptor cannot be opened. A later enable replaces it.
int enable(const ConnectionCaps &caps, std::string *error);
// Back to the plain accept4 if guard `number` is still the one in force (a test may run several
// servers in one process); connections already counted are forgotten.
void disable(int number);

} // namespace ListenGuard

} // namespace vorna::service
