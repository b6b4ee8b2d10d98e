#pragma once
// The presence answer as a reactor. The rows are read page by page on a database worker; each
// page is written in chunks, and the next page is read only once the last chunk of the one
// before has gone out. A slow client therefore holds no thread, and an answer holds at most one
// page and one chunk in memory however large the organisation.

#include "handlercore.h"
#include "presencechunker.h"

#include <QElapsedTimer>

#include <chrono>
#include <memory>

namespace vorna::service {

class PresenceStream final : public grpc::ServerWriteReactor<v1::PresenceChunk>
{
public:
    static grpc::ServerWriteReactor<v1::PresenceChunk> *start(HandlerCore &core, grpc::CallbackServerContext *context,
                                                              const v1::PresenceRequest *request);

    void OnWriteDone(bool ok) override;
    void OnDone() override;

private:
    PresenceStream(HandlerCore &core, grpc::CallbackServerContext *context, const v1::PresenceRequest *request);

    void admit();
    void readPage();
    // Writes the next chunk, or reads the next page, or finishes.
    void sendNext();
    bool fillChunk();
    void complete();
    grpc::Status overBudget() const;
    void finish(const grpc::Status &status);

    HandlerCore &m_core;
    grpc::CallbackServerContext *const m_context;
    const v1::PresenceRequest *const m_request;
    const QString m_peer;
    const std::chrono::steady_clock::time_point m_deadline;
    QElapsedTimer m_timer;
    HandlerCore::Caller m_caller;
    PresenceQuery m_query;
    PresenceCursor m_cursor;
    QVector<PresenceRow> m_page;
    int m_pageAt = 0;
    PresenceChunker m_chunker;
    v1::PresenceChunk m_out;
    bool m_outReady = false;
    bool m_lastChunk = false;
    qint64 m_pictureBytes = 0;
};

} // namespace vorna::service
