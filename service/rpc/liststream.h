#pragma once
// A short list answer as a reactor: the list is read on a database worker, then written one
// message after the other as the client takes them. A client that takes nothing for the call
// timeout, or has not taken the list by the end of it, has its call cancelled.

#include "rpc/handlercore.h"

#include <functional>
#include <memory>
#include <vector>

namespace vorna::service {

template<typename Message>
class ListStream final : public grpc::ServerWriteReactor<Message>
{
public:
    // Reads the list on a database worker; the caller's stream place is held until the end.
    using Read = std::function<grpc::Status(HandlerCore::Caller *caller, std::vector<Message> *items)>;

    static grpc::ServerWriteReactor<Message> *start(HandlerCore &core, grpc::CallbackServerContext *context,
                                                    const char *event, Read read)
    {
        auto *stream = new ListStream(core, context, event, std::move(read));
        if (!core.post(event, stream->m_peer, [stream] { stream->run(); }))
            stream->Finish(HandlerCore::busy());
        return stream;
    }

    void OnWriteDone(bool ok) override
    {
        m_watchdog->writeDone();
        if (ok) {
            next();
            return;
        }
        if (m_watchdog->fired())
            m_core.stalled(m_event, m_peer, m_caller.user().name);
        finish(HandlerCore::clientGone());
    }

    void OnDone() override
    {
        m_watchdog->disarm();
        delete this;
    }

private:
    void finish(const grpc::Status &status)
    {
        m_caller.releaseStream();
        this->Finish(status);
    }

    ListStream(HandlerCore &core, grpc::CallbackServerContext *context, const char *event, Read read)
        : m_core(core)
        , m_context(context)
        , m_event(event)
        , m_peer(HandlerCore::peerOf(context))
        , m_read(std::move(read))
        , m_watchdog(core.watchWrites(context, WriteWatchdog::Clock::now() + core.config.callTimeout))
    {
    }

    void run()
    {
        grpc::Status status = m_core.admitStream(m_context, m_event, &m_caller);
        if (status.ok())
            status = m_read(&m_caller, &m_items);
        if (!status.ok())
            finish(status);
        else
            next();
    }

    void next()
    {
        if (m_next < m_items.size()) {
            m_watchdog->writeStarted();
            this->StartWrite(&m_items[m_next++]);
        } else
            finish(grpc::Status::OK);
    }

    HandlerCore &m_core;
    grpc::CallbackServerContext *const m_context;
    const char *const m_event;
    const QString m_peer;
    const Read m_read;
    const std::unique_ptr<WriteWatchdog> m_watchdog;
    HandlerCore::Caller m_caller;
    std::vector<Message> m_items;
    size_t m_next = 0;
};

} // namespace vorna::service
