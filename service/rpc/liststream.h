#pragma once
// A short list answer as a reactor: the list is read on a database worker, then written one
// message after the other as the client takes them.

#include "rpc/handlercore.h"

#include <functional>
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
        auto *stream = new ListStream(context, event, std::move(read));
        if (!core.post(event, HandlerCore::peerOf(context), [stream, &core] { stream->run(core); }))
            stream->Finish(HandlerCore::busy());
        return stream;
    }

    void OnWriteDone(bool ok) override
    {
        if (ok)
            next();
        else
            finish(HandlerCore::clientGone());
    }

    void OnDone() override { delete this; }

private:
    void finish(const grpc::Status &status)
    {
        m_caller.releaseStream();
        this->Finish(status);
    }

    ListStream(grpc::CallbackServerContext *context, const char *event, Read read)
        : m_context(context)
        , m_event(event)
        , m_read(std::move(read))
    {
    }

    void run(HandlerCore &core)
    {
        grpc::Status status = core.admitStream(m_context, m_event, &m_caller);
        if (status.ok())
            status = m_read(&m_caller, &m_items);
        if (!status.ok())
            finish(status);
        else
            next();
    }

    void next()
    {
        if (m_next < m_items.size())
            this->StartWrite(&m_items[m_next++]);
        else
            finish(grpc::Status::OK);
    }

    grpc::CallbackServerContext *const m_context;
    const char *const m_event;
    const Read m_read;
    HandlerCore::Caller m_caller;
    std::vector<Message> m_items;
    size_t m_next = 0;
};

} // namespace vorna::service
