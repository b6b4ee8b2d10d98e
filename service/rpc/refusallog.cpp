#include "rpc/refusallog.h"

#include <QHash>

#include <algorithm>
#include <mutex>
#include <vector>

namespace vorna::service {

namespace {

const QString OverflowAddress = QStringLiteral("*");

struct Key
{
    const char *event;
    QString address;
    QString result;

    bool operator==(const Key &other) const
    {
        return qstrcmp(event, other.event) == 0 && address == other.address && result == other.result;
    }
};

uint qHash(const Key &key, uint seed = 0)
{
    return ::qHash(QByteArray::fromRawData(key.event, int(qstrlen(key.event))), seed) ^ ::qHash(key.address, seed)
           ^ ::qHash(key.result, seed);
}

struct Window
{
    EventLog::Level level;
    RefusalLog::Clock::time_point ends;
    qint64 repeated = 0;
};

void writeToEventLog(const RefusalLog::Summary &summary)
{
    EventLog::write(summary.level, summary.event,
                    {{"peer", summary.address}, {"result", summary.result},
                     {"repeated", QString::number(summary.repeated)}});
}

} // namespace

struct RefusalLog::State : std::enable_shared_from_this<State>
{
    State(TimerQueue *timers, Policy policy, SummaryWriter writer)
        : timers(timers)
        , policy(policy)
        , writer(writer ? std::move(writer) : SummaryWriter(writeToEventLog))
    {
    }

    // With the lock held: the summaries of ended windows; a window that counted refusals
    // starts over quietly (a flood that goes on is summed up again), one that counted none
    // is forgotten. The earliest end still ahead, or max() when nothing is tracked.
    Clock::time_point endWindows(Clock::time_point now, bool all, std::vector<Summary> *summaries)
    {
        Clock::time_point next = Clock::time_point::max();
        for (auto it = windows.begin(); it != windows.end();) {
            Window &window = it.value();
            if (!all && now < window.ends) {
                next = std::min(next, window.ends);
                ++it;
                continue;
            }
            if (window.repeated == 0) {
                it = windows.erase(it);
                continue;
            }
            summaries->push_back({window.level, it.key().event, it.key().address, it.key().result, window.repeated});
            window.repeated = 0;
            window.ends = now + policy.window;
            next = std::min(next, window.ends);
            ++it;
        }
        return next;
    }

    // With the lock held.
    void scheduleLocked(Clock::time_point at)
    {
        if (!timers || timerOutstanding || at == Clock::time_point::max())
            return;
        timerOutstanding = true;
        const std::weak_ptr<State> weak = weak_from_this();
        timers->schedule(at, [weak] {
            if (const std::shared_ptr<State> state = weak.lock())
                state->flush(Clock::now(), true);
        });
    }

    void flush(Clock::time_point now, bool fromTimer)
    {
        std::vector<Summary> summaries;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (fromTimer)
                timerOutstanding = false;
            scheduleLocked(endWindows(now, false, &summaries));
        }
        for (const Summary &summary : summaries)
            writer(summary);
    }

    TimerQueue *const timers;
    const Policy policy;
    const SummaryWriter writer;

    mutable std::mutex mutex;
    QHash<Key, Window> windows;
    bool timerOutstanding = false;
};

RefusalLog::RefusalLog(TimerQueue *timers)
    : RefusalLog(timers, Policy())
{
}

RefusalLog::RefusalLog(TimerQueue *timers, Policy policy, SummaryWriter writer)
    : m_state(std::make_shared<State>(timers, policy, std::move(writer)))
{
}

RefusalLog::~RefusalLog()
{
    std::vector<Summary> summaries;
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        m_state->endWindows(Clock::now(), true, &summaries);
        m_state->windows.clear();
    }
    for (const Summary &summary : summaries)
        m_state->writer(summary);
}

bool RefusalLog::admit(EventLog::Level level, const char *event, const QString &peer, const QString &result,
                       Clock::time_point now)
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    Key key{event, addressOf(peer), result};
    auto it = m_state->windows.find(key);
    if (it == m_state->windows.end() && m_state->windows.size() >= m_state->policy.maxKeys) {
        key.address = OverflowAddress;
        it = m_state->windows.find(key);
    }
    if (it != m_state->windows.end() && now < it->ends) {
        ++it->repeated;
        return false;
    }
    // A window that ended but was not flushed yet: its count still goes out at the next flush.
    if (it != m_state->windows.end() && it->repeated > 0) {
        ++it->repeated;
        return false;
    }
    m_state->windows.insert(key, Window{level, now + m_state->policy.window, 0});
    m_state->scheduleLocked(now + m_state->policy.window);
    return true;
}

void RefusalLog::flush(Clock::time_point now)
{
    m_state->flush(now, false);
}

int RefusalLog::tracked() const
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->windows.size();
}

QString RefusalLog::addressOf(const QString &peer)
{
    // gRPC names peers "ipv4:ADDRESS:PORT" and "ipv6:[ADDRESS]:PORT"; other kinds keep their name.
    if (!peer.startsWith(QLatin1String("ipv4:")) && !peer.startsWith(QLatin1String("ipv6:")))
        return peer;
    const int colon = peer.lastIndexOf(QLatin1Char(':'));
    return colon > 4 ? peer.left(colon) : peer;
}

} // namespace vorna::service
