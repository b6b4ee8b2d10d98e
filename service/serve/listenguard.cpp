#include "serve/listenguard.h"

#include "ops/eventlog.h"
#include "serve/resetbudget.h"

#include <arpa/inet.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

namespace vorna::service {

namespace {

// A full sweep stats every counted descriptor; under a flood at the total cap it runs at most
// this often, and connections in between are refused.
constexpr long long FullSweepIntervalMs = 200;
constexpr long long WarningIntervalMs = 10000;
constexpr long long ResetWindowMs = 10000;

long long steadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch()).count();
}

} // namespace

size_t ConnectionLedger::countFor(const std::string &address) const
{
    const auto it = m_byAddress.find(address);
    return it == m_byAddress.end() ? 0 : it->second.size();
}

ConnectionLedger::Verdict ConnectionLedger::admit(int fd, ino_t inode, const std::string &address)
{
    // The descriptor number came back from the kernel, so whatever we knew under it is closed.
    forget(fd);
    if (addressFull(address))
        return Verdict::AddressFull;
    if (totalFull())
        return Verdict::TotalFull;
    m_byFd.emplace(fd, Entry{inode, address});
    m_byAddress[address].insert(fd);
    return Verdict::Admit;
}

bool ConnectionLedger::addressFull(const std::string &address)
{
    if (m_caps.perAddress <= 0 || countFor(address) < size_t(m_caps.perAddress))
        return false;
    const std::unordered_set<int> fds = m_byAddress[address];
    for (int fd : fds) {
        if (!stillOpen(fd, m_byFd.at(fd)))
            forget(fd);
    }
    return countFor(address) >= size_t(m_caps.perAddress);
}

bool ConnectionLedger::totalFull()
{
    if (m_caps.total <= 0 || m_byFd.size() < size_t(m_caps.total))
        return false;
    const long long now = steadyMs();
    if (now - m_lastFullSweepMs < FullSweepIntervalMs)
        return true;
    m_lastFullSweepMs = now;
    std::vector<int> closed;
    for (const auto &[fd, entry] : m_byFd) {
        if (!stillOpen(fd, entry))
            closed.push_back(fd);
    }
    for (int fd : closed)
        forget(fd);
    return m_byFd.size() >= size_t(m_caps.total);
}

void ConnectionLedger::forget(int fd)
{
    const auto it = m_byFd.find(fd);
    if (it == m_byFd.end())
        return;
    const auto byAddress = m_byAddress.find(it->second.address);
    byAddress->second.erase(fd);
    if (byAddress->second.empty())
        m_byAddress.erase(byAddress);
    m_byFd.erase(it);
}

bool ConnectionLedger::stillOpen(int fd, const Entry &entry) const
{
    struct stat st;
    return ::fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode) && st.st_ino == entry.inode;
}

namespace {

using Accept4 = int (*)(int, sockaddr *, socklen_t *, int);
using RecvMsg = ssize_t (*)(int, msghdr *, int);
using Recv = ssize_t (*)(int, void *, size_t, int);

Recv realRecv()
{
    static const Recv real = reinterpret_cast<Recv>(::dlsym(RTLD_NEXT, "recv"));
    return real ? real : +[](int, void *, size_t, int) -> ssize_t {
        errno = ENOSYS;
        return -1;
    };
}

RecvMsg realRecvMsg()
{
    static const RecvMsg real = reinterpret_cast<RecvMsg>(::dlsym(RTLD_NEXT, "recvmsg"));
    return real ? real : +[](int, msghdr *, int) -> ssize_t {
        errno = ENOSYS;
        return -1;
    };
}

Accept4 realAccept4()
{
    static const Accept4 real = reinterpret_cast<Accept4>(::dlsym(RTLD_NEXT, "accept4"));
    return real ? real : +[](int, sockaddr *, socklen_t *, int) {
        errno = ENOSYS;
        return -1;
    };
}

// One warning line per kind and interval, with the number of events it stands for.
class RateLimitedWarning
{
public:
    explicit RateLimitedWarning(const char *event) : m_event(event) {}

    // Counts one event; true (with the count so far) when a line is due.
    bool due(int *count)
    {
        ++m_pending;
        const long long now = steadyMs();
        if (now - m_lastMs < WarningIntervalMs)
            return false;
        m_lastMs = now;
        *count = m_pending;
        m_pending = 0;
        return true;
    }
    const char *event() const { return m_event; }

private:
    const char *m_event;
    long long m_lastMs = -WarningIntervalMs;
    int m_pending = 0;
};

std::string addressOf(const sockaddr_storage &peer)
{
    char text[INET6_ADDRSTRLEN] = "";
    if (peer.ss_family == AF_INET) {
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in &>(peer).sin_addr, text, sizeof text);
    } else if (peer.ss_family == AF_INET6) {
        const in6_addr &address = reinterpret_cast<const sockaddr_in6 &>(peer).sin6_addr;
        // A dual-stack listener sees IPv4 clients as ::ffff:a.b.c.d; count them as a.b.c.d.
        if (IN6_IS_ADDR_V4MAPPED(&address))
            ::inet_ntop(AF_INET, &address.s6_addr[12], text, sizeof text);
        else
            ::inet_ntop(AF_INET6, &address, text, sizeof text);
    } else {
        return "local";
    }
    return text;
}

void copyPeer(const sockaddr_storage &peer, socklen_t peerLength, sockaddr *address, socklen_t *length)
{
    if (address && length) {
        std::memcpy(address, &peer, std::min<size_t>(*length, peerLength));
        *length = peerLength;
    }
}

class Guard
{
public:
    Guard(ConnectionCaps caps, int reserve)
        : m_caps(caps)
        , m_ledger(caps)
        , m_reserve(reserve)
        , m_resets(caps.resetsPerAddress, ResetWindowMs)
        , m_metricsLedger(ConnectionCaps{caps.metrics.total, caps.metrics.perAddress, 0, {}})
    {
    }
    ~Guard()
    {
        if (m_reserve >= 0)
            ::close(m_reserve);
    }

    int accept(int listener, sockaddr *address, socklen_t *length, int flags)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return acceptAdmitted(listener, address, length, flags, &Guard::admitted, &Guard::failed);
    }

    // accept() of the metrics listener. Its socket blocks, so no lock is held while it waits.
    int acceptMetrics(int listener, sockaddr *address, socklen_t *length)
    {
        return acceptAdmitted(listener, address, length, 0, &Guard::admittedToMetrics, &Guard::metricsAcceptFailed);
    }

    // Reads along a metrics connection; false (and the connection shut) once it has sent more
    // than a request's worth or for longer than a request takes.
    bool metricsReadAllowed(int fd, size_t bytes)
    {
        std::lock_guard<std::mutex> lock(m_metricsMutex);
        const auto it = m_metricsReads.find(fd);
        if (it == m_metricsReads.end())
            return true;
        // httplib closed the connection and the number now names something else.
        struct stat st;
        if (::fstat(fd, &st) != 0 || st.st_ino != it->second.inode) {
            m_metricsReads.erase(it);
            return true;
        }
        const MetricsConnectionCaps &caps = m_caps.metrics;
        it->second.bytes += bytes;
        const bool tooMuch = caps.requestBytes > 0 && it->second.bytes > caps.requestBytes;
        const bool tooLong = caps.requestMs > 0 && steadyMs() - it->second.acceptedMs > caps.requestMs;
        if (!tooMuch && !tooLong)
            return true;
        ::shutdown(fd, SHUT_RDWR);
        const std::string address = it->second.address;
        m_metricsReads.erase(it);
        warnRefused(m_metricsCut, address, tooMuch ? int(caps.requestBytes) : caps.requestMs,
                    tooMuch ? QStringLiteral("A metrics request was longer than a scrape's; the connection is cut off.")
                            : QStringLiteral("A metrics request took longer than a scrape's; the connection is cut off."));
        return false;
    }

    // Reads along a plaintext connection; false (and the connection shut) when its address has
    // overspent its reset budget, before gRPC gets the frames.
    bool readAllowed(int fd, const msghdr *message, size_t bytes)
    {
        std::lock_guard<std::mutex> lock(m_readMutex);
        const auto it = m_watched.find(fd);
        if (it == m_watched.end() || it->second.counter.opaque())
            return true;
        // gRPC closed the connection and the number now names something else.
        struct stat st;
        if (::fstat(fd, &st) != 0 || st.st_ino != it->second.inode) {
            m_watched.erase(it);
            return true;
        }
        int resets = 0;
        for (size_t i = 0; i < size_t(message->msg_iovlen) && bytes > 0; ++i) {
            const size_t size = std::min(bytes, message->msg_iov[i].iov_len);
            resets += it->second.counter.resetsIn(static_cast<const unsigned char *>(message->msg_iov[i].iov_base), size);
            bytes -= size;
        }
        if (resets == 0 || m_resets.spend(it->second.address, resets, steadyMs()))
            return true;
        ::shutdown(fd, SHUT_RDWR);
        const std::string address = it->second.address;
        m_watched.erase(it);
        warnRefused(m_resetFlood, address, m_caps.resetsPerAddress,
                    QStringLiteral("This client address resets streams faster than the reset budget allows "
                                   "(HTTP/2 rapid reset?); its connection is cut off and new ones are refused for a while."));
        return false;
    }

    bool inspectsReads() const { return m_caps.resetsPerAddress > 0; }

private:
    // Accepts until `admit` takes a connection, closing the ones it refuses; a failed accept is
    // answered by `fail`.
    int acceptAdmitted(int listener, sockaddr *address, socklen_t *length, int flags,
                       bool (Guard::*admit)(int, const sockaddr_storage &), int (Guard::*fail)(int))
    {
        for (;;) {
            sockaddr_storage peer{};
            socklen_t peerLength = sizeof peer;
            const int fd = realAccept4()(listener, reinterpret_cast<sockaddr *>(&peer), &peerLength, flags);
            if (fd < 0)
                return (this->*fail)(listener);
            if ((this->*admit)(fd, peer)) {
                copyPeer(peer, peerLength, address, length);
                return fd;
            }
            ::close(fd);
        }
    }

    int failed(int listener)
    {
        const int error = errno;
        if (error == EMFILE || error == ENFILE) {
            shedWaiting(listener);
        } else if (error == ENOBUFS || error == ENOMEM) {
            // The connection waits in the backlog; the next one to arrive wakes the listener.
            int count = 0;
            if (m_noMemory.due(&count))
                EventLog::warning(m_noMemory.event(), {{"msg", QStringLiteral("The kernel has no memory for a new "
                                                                              "connection; it waits until some is free.")}});
        } else {
            errno = error;
            return -1;
        }
        errno = EAGAIN;
        return -1;
    }

    // httplib's metrics loop tries again a millisecond after EMFILE and ends for good on any
    // other error. Only its own stop (the listener closed) may end it, so every other failure is
    // EMFILE to it, once the waiting connections are shed when descriptors ran out.
    int metricsAcceptFailed(int listener)
    {
        const int error = errno;
        if (error == EBADF || error == EINVAL || error == ENOTSOCK) {
            errno = error;
            return -1;
        }
        if (error == EMFILE || error == ENFILE) {
            std::lock_guard<std::mutex> lock(m_mutex);
            shedWaiting(listener);
        }
        errno = EMFILE;
        return -1;
    }

    void shedWaiting(int listener)
    {
        if (m_reserve >= 0) {
            ::close(m_reserve);
            m_reserve = -1;
        }
        int shed = 0;
        // Only while a connection waits: the metrics listener's accept would block.
        for (pollfd waiting{listener, POLLIN, 0}; ::poll(&waiting, 1, 0) == 1 && (waiting.revents & POLLIN);) {
            const int fd = realAccept4()(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (fd < 0 && errno == EINTR)
                continue;
            if (fd < 0)
                break;
            ::close(fd);
            ++shed;
        }
        m_reserve = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        m_shedTotal += shed;
        int events = 0;
        if (m_exhausted.due(&events)) {
            EventLog::warning(m_exhausted.event(),
                              {{"shed", QString::number(m_shedTotal)},
                               {"msg", QStringLiteral("The service ran out of file descriptors and closed waiting "
                                                      "connections. Raise LimitNOFILE= or lower --max-connections.")}});
            m_shedTotal = 0;
        }
    }

    bool admitted(int fd, const sockaddr_storage &peer)
    {
        struct stat st;
        if (::fstat(fd, &st) != 0)
            return false;
        const std::string address = addressOf(peer);
        if (inspectsReads() && !watch(fd, st.st_ino, address))
            return false;
        switch (m_ledger.admit(fd, st.st_ino, address)) {
        case ConnectionLedger::Verdict::Admit:
            return true;
        case ConnectionLedger::Verdict::AddressFull:
            warnRefused(m_addressFull, address, m_caps.perAddress,
                        QStringLiteral("This client address holds as many connections as "
                                       "--max-connections-per-address allows; its new ones are closed."));
            return false;
        case ConnectionLedger::Verdict::TotalFull:
            warnRefused(m_totalFull, address, m_caps.total,
                        QStringLiteral("The service holds as many connections as --max-connections "
                                       "allows; new ones are closed."));
            return false;
        }
        return false;
    }

    bool admittedToMetrics(int fd, const sockaddr_storage &peer)
    {
        struct stat st;
        if (::fstat(fd, &st) != 0)
            return false;
        const std::string address = addressOf(peer);
        std::lock_guard<std::mutex> lock(m_metricsMutex);
        switch (m_metricsLedger.admit(fd, st.st_ino, address)) {
        case ConnectionLedger::Verdict::Admit:
            m_metricsReads[fd] = MetricsRead{st.st_ino, address, 0, steadyMs()};
            return true;
        case ConnectionLedger::Verdict::AddressFull:
            warnRefused(m_metricsAddressFull, address, m_caps.metrics.perAddress,
                        QStringLiteral("This client address holds as many metrics connections as the listener "
                                       "allows; its new ones are closed."));
            return false;
        case ConnectionLedger::Verdict::TotalFull:
            warnRefused(m_metricsTotalFull, address, m_caps.metrics.total,
                        QStringLiteral("The metrics listener holds as many connections as it allows; new ones "
                                       "are closed. The gRPC port is not affected."));
            return false;
        }
        return false;
    }

    // Starts reading along a new connection; false when its address is still cut off.
    bool watch(int fd, ino_t inode, const std::string &address)
    {
        std::lock_guard<std::mutex> lock(m_readMutex);
        m_watched.erase(fd);
        if (m_resets.overspent(address, steadyMs())) {
            warnRefused(m_resetFlood, address, m_caps.resetsPerAddress,
                        QStringLiteral("This client address overspent its reset budget a moment ago; its new "
                                       "connections are refused for a while."));
            return false;
        }
        m_watched.emplace(fd, Watched{inode, address, {}});
        return true;
    }

    void warnRefused(RateLimitedWarning &warning, const std::string &address, int cap, const QString &why)
    {
        int refused = 0;
        if (!warning.due(&refused))
            return;
        EventLog::warning(warning.event(), {{"address", QString::fromStdString(address)},
                                            {"cap", QString::number(cap)},
                                            {"refused", QString::number(refused)},
                                            {"msg", why}});
    }

    struct Watched
    {
        ino_t inode;
        std::string address;
        Http2FrameCounter counter;
    };

    std::mutex m_mutex;
    const ConnectionCaps m_caps;
    ConnectionLedger m_ledger;
    int m_reserve;
    int m_shedTotal = 0;
    RateLimitedWarning m_exhausted{"descriptors-exhausted"};
    RateLimitedWarning m_noMemory{"accept-no-memory"};
    RateLimitedWarning m_addressFull{"connection-refused-address-cap"};
    RateLimitedWarning m_totalFull{"connection-refused-total-cap"};
    // Reads come on gRPC's threads while accepts go on; their own lock.
    std::mutex m_readMutex;
    std::unordered_map<int, Watched> m_watched;
    ResetBudget m_resets;
    RateLimitedWarning m_resetFlood{"connection-cut-reset-budget"};

    struct MetricsRead
    {
        ino_t inode;
        std::string address;
        size_t bytes;
        long long acceptedMs;
    };
    // The metrics listener's connections: accepted on its thread, read on its workers.
    std::mutex m_metricsMutex;
    ConnectionLedger m_metricsLedger;
    std::unordered_map<int, MetricsRead> m_metricsReads;
    RateLimitedWarning m_metricsAddressFull{"metrics-connection-refused-address-cap"};
    RateLimitedWarning m_metricsTotalFull{"metrics-connection-refused-total-cap"};
    RateLimitedWarning m_metricsCut{"metrics-request-cut"};
};

std::mutex guardMutex;
std::shared_ptr<Guard> currentGuard;
int currentNumber = 0;

std::shared_ptr<Guard> guard()
{
    std::lock_guard<std::mutex> lock(guardMutex);
    return currentGuard;
}

} // namespace

namespace ListenGuard {

int enable(const ConnectionCaps &caps, std::string *error)
{
    const int reserve = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (reserve < 0) {
        *error = std::string("Cannot open /dev/null for the reserve descriptor (") + std::strerror(errno)
               + "). Check that /dev/null exists and that the descriptor limit is not exhausted.";
        return 0;
    }
    std::lock_guard<std::mutex> lock(guardMutex);
    currentGuard = std::make_shared<Guard>(caps, reserve);
    return ++currentNumber;
}

void disable(int number)
{
    std::lock_guard<std::mutex> lock(guardMutex);
    if (number == currentNumber)
        currentGuard.reset();
}

} // namespace ListenGuard

} // namespace vorna::service

// gRPC's listener calls this instead of the C library's (the executable exports it).
extern "C" __attribute__((visibility("default"))) int accept4(int fd, sockaddr *address, socklen_t *length, int flags)
{
    const std::shared_ptr<vorna::service::Guard> guard = vorna::service::guard();
    if (!guard)
        return vorna::service::realAccept4()(fd, address, length, flags);
    return guard->accept(fd, address, length, flags);
}

// The metrics listener (cpp-httplib) accepts through this; its connections count apart.
extern "C" __attribute__((visibility("default"))) int accept(int fd, sockaddr *address, socklen_t *length)
{
    const std::shared_ptr<vorna::service::Guard> guard = vorna::service::guard();
    if (!guard)
        return vorna::service::realAccept4()(fd, address, length, 0);
    return guard->acceptMetrics(fd, address, length);
}

// The metrics listener's connections read through this; each may send one short request.
extern "C" __attribute__((visibility("default"))) ssize_t recv(int fd, void *buffer, size_t size, int flags)
{
    const ssize_t got = vorna::service::realRecv()(fd, buffer, size, flags);
    if (got <= 0 || (flags & MSG_PEEK) != 0)
        return got;
    const std::shared_ptr<vorna::service::Guard> guard = vorna::service::guard();
    if (!guard || guard->metricsReadAllowed(fd, size_t(got)))
        return got;
    errno = ECONNRESET;
    return -1;
}

// gRPC's connections read through this; plaintext ones are checked against the reset budget.
extern "C" __attribute__((visibility("default"))) ssize_t recvmsg(int fd, msghdr *message, int flags)
{
    const ssize_t got = vorna::service::realRecvMsg()(fd, message, flags);
    if (got <= 0 || (flags & (MSG_PEEK | MSG_ERRQUEUE)) != 0)
        return got;
    const std::shared_ptr<vorna::service::Guard> guard = vorna::service::guard();
    if (!guard || !guard->inspectsReads() || guard->readAllowed(fd, message, size_t(got)))
        return got;
    errno = ECONNRESET;
    return -1;
}
