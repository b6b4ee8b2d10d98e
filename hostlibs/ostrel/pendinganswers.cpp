#include "pendinganswers.h"

namespace ostrel {

quint64 PendingAnswers::open(Emit begin, Emit abandon)
{
    const quint64 id = m_nextId++;
    m_open.emplace(id, Entry{std::move(begin), std::move(abandon)});
    return id;
}

void PendingAnswers::startIfNeeded(Entry &entry)
{
    if (entry.begin) {
        const Emit begin = std::move(entry.begin);
        entry.begin = nullptr;
        begin();
    }
}

void PendingAnswers::deliver(quint64 id, const Emit &emitRows)
{
    const auto it = m_open.find(id);
    if (it == m_open.end())
        return;
    startIfNeeded(it->second);
    if (emitRows)
        emitRows();
}

void PendingAnswers::finish(quint64 id, const Emit &emitLast)
{
    const auto it = m_open.find(id);
    if (it == m_open.end())
        return;
    Entry entry = std::move(it->second);
    // Closed before emitting: a handler may issue the next request, or disconnect, re-entrantly.
    m_open.erase(it);
    startIfNeeded(entry);
    if (emitLast)
        emitLast();
}

std::vector<PendingAnswers::Emit> PendingAnswers::closeAll()
{
    std::vector<Emit> answers;
    answers.reserve(m_open.size());
    for (auto &open : m_open) {
        answers.push_back([entry = std::move(open.second)]() mutable {
            startIfNeeded(entry);
            entry.abandon();
        });
    }
    m_open.clear();
    return answers;
}

} // namespace ostrel
