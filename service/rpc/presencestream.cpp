#include "rpc/presencestream.h"

#include "ops/eventlog.h"
#include "rpc/requestbounds.h"
#include "rpc/wireconvert.h"

#include <atomic>
#include <cstring>

#include <malloc.h>

namespace vorna::service {

namespace {

constexpr int DigestBytes = 32;
// The first page is small, so the first rows leave soon; the pages after it are larger, so
// fewer database visits carry the rest.
constexpr int FirstPageRows = 100;
constexpr int PageRows = 1000;
// After an answer that carried this many picture bytes, the freed memory goes back to the
// system at once rather than staying with the process.
constexpr qint64 TrimAfterPictureBytes = 8 * 1024 * 1024;

std::atomic<int> g_alive{0};

// Fills `query` from the request. The digests are copied into `digestBytes`, which the stream
// keeps: the request goes away with the call, possibly while a read ahead still uses them.
grpc::Status presenceQuery(const v1::PresenceRequest &request, const ServerConfig &config, QByteArray *digestBytes,
                           PresenceQuery *query)
{
    const grpc::Status bounded = bounds::check(request);
    if (!bounded.ok())
        return bounded;
    if (request.known_picture_digests_size() > config.maxKnownDigests)
        return wire::status(grpc::INVALID_ARGUMENT,
                            QStringLiteral("The request lists %1 known pictures; at most %2 are accepted.")
                                .arg(request.known_picture_digests_size()).arg(config.maxKnownDigests));
    query->at = request.has_at() ? wire::fromWire(request.at()) : wire::civilNow();
    if (!query->at.isValid())
        return wire::status(grpc::INVALID_ARGUMENT, QStringLiteral("The requested moment is not a valid date and time."));
    query->staleAfterDays = config.staleDays;
    for (const std::string &digest : request.known_picture_digests()) {
        if (digest.size() != DigestBytes)
            return wire::status(grpc::INVALID_ARGUMENT,
                                QStringLiteral("A known picture digest has %1 bytes; a SHA-256 digest has 32.")
                                    .arg(digest.size()));
    }
    const int count = request.known_picture_digests_size();
    // Sized once, so that the views below never move.
    digestBytes->resize(count * DigestBytes);
    query->knownPictureDigests.reserve(count);
    for (int i = 0; i < count; ++i) {
        char *at = digestBytes->data() + i * DigestBytes;
        memcpy(at, request.known_picture_digests(i).data(), DigestBytes);
        query->knownPictureDigests.insert(QByteArray::fromRawData(at, DigestBytes));
    }
    return grpc::Status::OK;
}

// glibc keeps freed memory for reuse; after a large answer that is tens of megabytes. One trim
// at a time is enough.
void giveBackMemory()
{
    static std::atomic<bool> trimming{false};
    if (!trimming.exchange(true)) {
        malloc_trim(0);
        trimming = false;
    }
}

} // namespace

grpc::ServerWriteReactor<v1::PresenceChunk> *PresenceStream::start(HandlerCore &core, grpc::CallbackServerContext *context,
                                                                   const v1::PresenceRequest *request)
{
    auto *stream = new PresenceStream(core, context, request);
    if (!core.post("presence", stream->m_peer, [stream] { stream->admit(); }))
        stream->finish(HandlerCore::busy());
    return stream;
}

PresenceStream::PresenceStream(HandlerCore &core, grpc::CallbackServerContext *context, const v1::PresenceRequest *request)
    : m_core(core)
    , m_context(context)
    , m_request(request)
    , m_peer(HandlerCore::peerOf(context))
    , m_deadline(std::chrono::steady_clock::now() + core.config.callTimeout)
    , m_watchdog(core.watchWrites(context, m_deadline))
    , m_chunker([this](v1::PresenceChunk &chunk) {
        m_out.Swap(&chunk);
        m_outReady = true;
        return true;
    })
{
    ++g_alive;
    m_timer.start();
}

PresenceStream::~PresenceStream()
{
    --g_alive;
}

int PresenceStream::alive()
{
    return g_alive;
}

// On a database worker.
void PresenceStream::admit()
{
    grpc::Status refusal = m_core.admitStream(m_context, "presence", &m_caller);
    if (refusal.ok())
        refusal = presenceQuery(*m_request, m_core.config, &m_knownDigests, &m_query);
    if (!refusal.ok()) {
        finish(refusal);
        return;
    }
    if (failed(readPage(&m_page, &m_pageIsLast)))
        return;
    if (!m_pageIsLast) {
        std::lock_guard<std::mutex> lock(m_ahead);
        m_reading = true;
    }
    // A read ahead that cannot be queued now is posted again when its page is needed.
    if (m_reading && !postReadAhead()) {
        std::lock_guard<std::mutex> lock(m_ahead);
        m_reading = false;
    }
    sendNext();
}

// On a database worker; the reads of one answer never overlap.
StorageError PresenceStream::readPage(QVector<PresenceRow> *rows, bool *last)
{
    m_query.pageRows = m_cursor.after.isEmpty() ? FirstPageRows : PageRows;
    Result<QVector<PresenceRow>> page = m_core.presence.presencePage(m_caller.user(), m_query, m_cursor);
    *rows = page.take();
    *last = m_cursor.done;
    return page.error();
}

bool PresenceStream::postReadAhead()
{
    return m_core.post("presence", m_peer, [this] { readAhead(); });
}

// On a database worker.
void PresenceStream::readAhead()
{
    QVector<PresenceRow> rows;
    bool last = true;
    const StorageError error = readPage(&rows, &last);
    std::unique_lock<std::mutex> lock(m_ahead);
    m_reading = false;
    if (m_doneWhileReading) {
        lock.unlock();
        delete this;
        return;
    }
    m_nextPage = std::move(rows);
    m_nextIsLast = last;
    m_readError = error;
    m_nextReady = true;
    const bool resume = m_writerWaits;
    m_writerWaits = false;
    lock.unlock();
    if (resume)
        sendNext();
}

bool PresenceStream::nextPageReady()
{
    std::lock_guard<std::mutex> lock(m_ahead);
    return m_nextReady;
}

PresenceStream::Next PresenceStream::takeNextPage()
{
    std::unique_lock<std::mutex> lock(m_ahead);
    if (!m_nextReady) {
        m_writerWaits = true;
        if (m_reading)
            return Next::Waiting;
        // The read ahead could not be queued before; the writer queues it now.
        m_reading = true;
        lock.unlock();
        if (postReadAhead())
            return Next::Waiting;
        lock.lock();
        m_reading = m_writerWaits = false;
        lock.unlock();
        finish(HandlerCore::busy());
        return Next::Finished;
    }
    m_nextReady = false;
    m_page.swap(m_nextPage);
    m_nextPage.clear();
    m_pageAt = 0;
    m_pageIsLast = m_nextIsLast;
    const StorageError error = m_readError;
    m_reading = !m_pageIsLast && error.ok();
    lock.unlock();
    if (failed(error))
        return Next::Finished;
    if (m_reading && !postReadAhead()) {
        lock.lock();
        m_reading = false;
    }
    return Next::Taken;
}

// Ends the answer when a page could not be read; true then.
bool PresenceStream::failed(const StorageError &error)
{
    if (error.ok())
        return false;
    EventLog::error("presence", {{"user", m_caller.user().name}, {"result", QStringLiteral("failed")}, {"msg", error.message}});
    finish(wire::toStatus(error));
    return true;
}

void PresenceStream::OnWriteDone(bool ok)
{
    m_watchdog->writeDone();
    if (!ok || m_context->IsCancelled()) {
        if (m_watchdog->fired())
            m_core.stalled("presence", m_peer, m_caller.user().name);
        finish(wire::status(grpc::CANCELLED, QStringLiteral("The request was cancelled or ran past its deadline.")));
        return;
    }
    if (m_lastChunk) {
        complete();
        return;
    }
    if (std::chrono::steady_clock::now() > m_deadline) {
        finish(overBudget());
        return;
    }
    sendNext();
}

void PresenceStream::sendNext()
{
    for (;;) {
        if (fillChunk()) {
            write();
            return;
        }
        if (m_pageIsLast)
            break;
        // Rows held back for a full chunk go out now rather than wait for the page still being
        // read: the first page is smaller than a chunk, so that the first rows leave early.
        if (!nextPageReady() && m_chunker.finish() && m_outReady) {
            write();
            return;
        }
        const Next next = takeNextPage();
        if (next != Next::Taken)
            return;
    }
    m_chunker.finish();
    if (m_outReady) {
        m_outReady = false;
        m_lastChunk = true;
        write();
        return;
    }
    complete();
}

void PresenceStream::write()
{
    m_watchdog->writeStarted();
    StartWrite(&m_out);
}

void PresenceStream::complete()
{
    EventLog::debug("presence", {{"user", m_caller.user().name},
                                 {"rows", QString::number(m_chunker.rowsSent())},
                                 {"chunks", QString::number(m_chunker.chunksSent())},
                                 {"known", QString::number(m_query.knownPictureDigests.size())},
                                 {"ms", QString::number(m_timer.elapsed())}});
    finish(grpc::Status::OK);
}

// Moves rows of the page into the next chunk; true once a chunk is full.
bool PresenceStream::fillChunk()
{
    m_outReady = false;
    while (!m_outReady && m_pageAt < m_page.size()) {
        PresenceRow &row = m_page[m_pageAt++];
        m_pictureBytes += row.picture.size();
        m_chunker.add(row);
        row = PresenceRow(); // the page shrinks as its rows go out
    }
    if (m_pageAt >= m_page.size()) {
        m_page.clear();
        m_page.squeeze();
    }
    return m_outReady;
}

grpc::Status PresenceStream::overBudget() const
{
    return wire::status(grpc::DEADLINE_EXCEEDED,
                        QStringLiteral("The service gave up on this request after %1 seconds. "
                                       "Try again, or report on a smaller group of employees.")
                            .arg(m_core.config.callTimeout.count()));
}

void PresenceStream::finish(const grpc::Status &status)
{
    m_caller.releaseStream();
    Finish(status);
}

void PresenceStream::OnDone()
{
    // gRPC frees the call when this returns, even when a read ahead keeps the stream a while.
    m_watchdog->disarm();
    {
        // A read ahead still running deletes the stream when it returns.
        std::lock_guard<std::mutex> lock(m_ahead);
        if (m_reading) {
            m_doneWhileReading = true;
            return;
        }
    }
    const bool large = m_pictureBytes >= TrimAfterPictureBytes || m_chunker.rowsSent() >= 10000;
    delete this;
    if (large)
        giveBackMemory();
}

} // namespace vorna::service
