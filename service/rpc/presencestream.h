#pragma once
// The presence answer as a reactor. The rows are read page by page on a database worker; each
// page is written in chunks, and while one page is written the next one is read (one page
// ahead, never more). A slow client therefore holds no thread, and an answer holds at most two
// pages and one chunk in memory however large the organisation. A client that takes nothing
// for the call timeout, or has not taken the answer by the end of it, has its call cancelled,
// which frees the pages.
//
// A read ahead may still run when gRPC is done with the call and frees the request: what the
// reads use of the request is copied into the stream.

#include "rpc/handlercore.h"
#include "rpc/presencechunker.h"

#include <QElapsedTimer>

#include <chrono>
#include <memory>
#include <mutex>

namespace vorna::service {

class PresenceStream final : public grpc::ServerWriteReactor<v1::PresenceChunk>
{
public:
    static grpc::ServerWriteReactor<v1::PresenceChunk> *start(HandlerCore &core, grpc::CallbackServerContext *context,
                                                              const v1::PresenceRequest *request);

    void OnWriteDone(bool ok) override;
    void OnDone() override;

    // Answers alive in this process: written, waiting for their client, or being read.
    static int alive();

private:
    PresenceStream(HandlerCore &core, grpc::CallbackServerContext *context, const v1::PresenceRequest *request);
    ~PresenceStream();

    enum class Next { Taken, Waiting, Finished };

    void admit();
    StorageError readPage(QVector<PresenceRow> *rows, bool *last);
    // Reads the page after the one being written, on a database worker.
    void readAhead();
    bool postReadAhead();
    bool nextPageReady();
    // Moves the page read ahead into place, or leaves the writer waiting for it, or ends the
    // answer when it could not be read.
    Next takeNextPage();
    bool failed(const StorageError &error);
    // Writes the next chunk, or waits for the next page, or finishes.
    void sendNext();
    void write();
    bool fillChunk();
    void complete();
    grpc::Status overBudget() const;
    void finish(const grpc::Status &status);

    HandlerCore &m_core;
    grpc::CallbackServerContext *const m_context;
    const v1::PresenceRequest *const m_request;
    const QString m_peer;
    const std::chrono::steady_clock::time_point m_deadline;
    const std::unique_ptr<WriteWatchdog> m_watchdog;
    QElapsedTimer m_timer;
    HandlerCore::Caller m_caller;
    QByteArray m_knownDigests;     // the request's digests, back to back; the query's set views them
    PresenceQuery m_query;
    PresenceCursor m_cursor;       // the reader's own
    QVector<PresenceRow> m_page;   // the page being written: the writer's own
    int m_pageAt = 0;
    bool m_pageIsLast = false;

    // Shared by the reader and the writer.
    std::mutex m_ahead;
    bool m_reading = false;        // a read ahead is posted or running
    bool m_nextReady = false;      // m_nextPage holds the page after m_page
    bool m_writerWaits = false;    // the writer ran out of rows; the reader resumes it
    bool m_doneWhileReading = false; // gRPC is done with the call; the reader deletes it
    QVector<PresenceRow> m_nextPage;
    bool m_nextIsLast = false;
    StorageError m_readError;
    PresenceChunker m_chunker;
    v1::PresenceChunk m_out;
    bool m_outReady = false;
    bool m_lastChunk = false;
    qint64 m_pictureBytes = 0;
};

} // namespace vorna::service
