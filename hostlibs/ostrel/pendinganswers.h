#pragma once
// The answers still owed to QML, one entry per request, in request order. GUI thread only.
//
// A row request owes Begin, its rows, End; a single-answer request owes its response. Worker
// results arrive as queued events naming the request; once a request is finished (or the
// session ended and it was answered for), later results for it are dropped. That keeps the
// Begin, rows, End order intact whatever happens first.

#include <QtGlobal>

#include <functional>
#include <map>
#include <vector>

namespace ostrel {

class PendingAnswers
{
public:
    using Emit = std::function<void()>;

    // `begin` is emitted once before anything else of the request (null for single answers);
    // `abandon` answers the request when the session ends first.
    quint64 open(Emit begin, Emit abandon);
    bool isOpen(quint64 id) const { return m_open.count(id) != 0; }

    // Emits Begin if still owed, then runs `emitRows` (which may be empty: "started").
    void deliver(quint64 id, const Emit &emitRows);
    // Like deliver, then closes the request.
    void finish(quint64 id, const Emit &emitLast);
    // Closes every open request and returns, in request order, what answers each of them
    // (Begin if still owed, then `abandon`). The caller emits them later, from the event loop.
    std::vector<Emit> closeAll();

private:
    struct Entry
    {
        Emit begin;
        Emit abandon;
    };
    static void startIfNeeded(Entry &entry);

    std::map<quint64, Entry> m_open;
    quint64 m_nextId = 1;
};

} // namespace ostrel
