#include "support/fakecommservice.h"

#include <QCryptographicHash>

#include <grpcpp/security/server_credentials.h>
#include <grpcpp/server_builder.h>

#include <algorithm>
#include <chrono>

using namespace vorna::v1;

FakeCommService::FakeCommService() = default;

FakeCommService::~FakeCommService()
{
    stop();
}

bool FakeCommService::start()
{
    grpc::ServerBuilder builder;
    builder.AddListeningPort("127.0.0.1:0", grpc::InsecureServerCredentials(), &m_port);
    builder.RegisterService(this);
    builder.SetMaxReceiveMessageSize(16 * 1024 * 1024);
    // Clients ping every few seconds in the tests; do not count that as abuse.
    builder.AddChannelArgument(GRPC_ARG_HTTP2_MIN_RECV_PING_INTERVAL_WITHOUT_DATA_MS, 1000);
    builder.AddChannelArgument(GRPC_ARG_KEEPALIVE_PERMIT_WITHOUT_CALLS, 1);
    m_server = builder.BuildAndStart();
    return m_server && m_port > 0;
}

void FakeCommService::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    if (m_server) {
        m_server->Shutdown(std::chrono::system_clock::now());
        m_server->Wait();
        m_server.reset();
    }
}

QString FakeCommService::url() const
{
    return QStringLiteral("tcp://127.0.0.1:%1/CommService").arg(m_port);
}

void FakeCommService::endSessions(const std::string &reason)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_endReason = reason;
        ++m_sessionEpoch;
    }
    m_changed.notify_all();
}

void FakeCommService::announcePresenceChange()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_presenceEpoch;
}

grpc::Status FakeCommService::checkSession(grpc::ServerContext *context)
{
    const auto &metadata = context->client_metadata();
    const auto it = metadata.find("vorna-session");
    const std::string token = it == metadata.end() ? std::string() : std::string(it->second.data(), it->second.size());
    std::lock_guard<std::mutex> lock(m_mutex);
    m_tokensSeen.push_back(token);
    if (std::find(m_tokens.begin(), m_tokens.end(), token) == m_tokens.end())
        return grpc::Status(grpc::StatusCode::UNAUTHENTICATED, "Your session has expired. Log in again.");
    return grpc::Status::OK;
}

bool FakeCommService::pause(grpc::ServerContext *context, int ms)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    std::unique_lock<std::mutex> lock(m_mutex);
    const int epoch = m_sessionEpoch;
    // Woken by stop() and endSessions(); cancellation is polled in short steps.
    while (std::chrono::steady_clock::now() < until) {
        if (m_stopping || context->IsCancelled() || m_sessionEpoch != epoch)
            return false;
        m_changed.wait_for(lock, std::chrono::milliseconds(20));
    }
    return !m_stopping && !context->IsCancelled();
}

template <class Message>
grpc::Status FakeCommService::writeAll(grpc::ServerContext *context, const std::vector<Message> &messages,
                                       grpc::ServerWriter<Message> *writer)
{
    const grpc::Status session = checkSession(context);
    if (!session.ok())
        return session;
    for (const Message &message : messages) {
        if (!writer->Write(message))
            return grpc::Status(grpc::StatusCode::CANCELLED, "The client went away.");
    }
    return grpc::Status::OK;
}

grpc::Status FakeCommService::Login(grpc::ServerContext *, const LoginRequest *request, LoginReply *reply)
{
    ++m_loginCount;
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_script.passwords.find(request->user());
    if (it == m_script.passwords.end() || it->second != request->password())
        return grpc::Status(grpc::StatusCode::UNAUTHENTICATED, "Wrong user name or password.");
    const std::string token = m_script.sessionToken.empty() ? "token-" + std::to_string(m_tokens.size() + 1)
                                                            : m_script.sessionToken;
    m_tokens.push_back(token);
    reply->set_session_token(token);
    reply->set_user(request->user());
    reply->set_role(LoginReply::MANAGER);
    reply->set_heartbeat_seconds(m_script.heartbeatSeconds);
    reply->set_idle_timeout_seconds(1800);
    return grpc::Status::OK;
}

grpc::Status FakeCommService::Logout(grpc::ServerContext *context, const LogoutRequest *, LogoutReply *)
{
    if (context->client_metadata().count("vorna-session") == 0)
        return grpc::Status(grpc::StatusCode::UNAUTHENTICATED, "Your session has expired. Log in again.");
    ++m_logoutCount;
    return grpc::Status::OK;
}

grpc::Status FakeCommService::WatchSession(grpc::ServerContext *context, const SessionWatchRequest *,
                                           grpc::ServerWriter<SessionEvent> *writer)
{
    const grpc::Status session = checkSession(context);
    if (!session.ok())
        return session;
    ++m_openWatches;
    int interval = 0;
    bool silent = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        interval = m_script.heartbeatIntervalMs;
        silent = m_script.silentWatch;
    }
    SessionEvent heartbeat;
    heartbeat.set_kind(SessionEvent::HEARTBEAT);
    SessionEvent presenceChanged;
    presenceChanged.set_kind(SessionEvent::PRESENCE_CHANGED);
    int presenceEpoch = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        presenceEpoch = m_presenceEpoch;
    }
    // Bounded: a test never keeps a session for more than a few minutes.
    for (int beat = 0; beat < 3000 && pause(context, interval); ++beat) {
        bool announce = false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            announce = presenceEpoch != m_presenceEpoch;
            presenceEpoch = m_presenceEpoch;
        }
        if (announce && !writer->Write(presenceChanged))
            break;
        if (!silent && !writer->Write(heartbeat))
            break;
    }
    --m_openWatches;
    std::string reason;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        reason = m_endReason;
    }
    if (!reason.empty() && !context->IsCancelled()) {
        SessionEvent ending;
        ending.set_kind(SessionEvent::ENDING);
        ending.set_reason(reason);
        writer->Write(ending);
    }
    return grpc::Status::OK;
}

grpc::Status FakeCommService::Presence(grpc::ServerContext *context, const PresenceRequest *request,
                                       grpc::ServerWriter<PresenceChunk> *writer)
{
    const grpc::Status session = checkSession(context);
    if (!session.ok())
        return session;
    Script script;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lastPresence = *request;
        script = m_script;
    }
    const std::set<std::string> known(request->known_picture_digests().begin(),
                                      request->known_picture_digests().end());
    PresenceChunk chunk;
    int chunks = 0;
    const auto flush = [&]() -> grpc::Status {
        if (chunks == script.presenceFailAfterChunks)
            return script.presenceFailure;
        if (chunks == script.presenceStallAfterChunks) {
            pause(context, 60000);
            return grpc::Status(grpc::StatusCode::CANCELLED, "Stalled.");
        }
        if (!writer->Write(chunk))
            return grpc::Status(grpc::StatusCode::CANCELLED, "The client went away.");
        ++chunks;
        chunk.clear_rows();
        return grpc::Status::OK;
    };
    for (const PresenceRow &source : script.presenceRows) {
        PresenceRow *row = chunk.add_rows();
        *row = source;
        if (known.count(source.picture_digest()))
            row->clear_picture();
        if (chunk.rows_size() >= script.rowsPerChunk) {
            const grpc::Status status = flush();
            if (!status.ok())
                return status;
        }
    }
    if (chunk.rows_size() > 0 || chunks == script.presenceFailAfterChunks)
        return flush();
    return grpc::Status::OK;
}

grpc::Status FakeCommService::CalendarList(grpc::ServerContext *context, const ListRequest *,
                                           grpc::ServerWriter<Calendar> *writer)
{
    return writeAll(context, m_script.calendars, writer);
}

grpc::Status FakeCommService::WorkDayList(grpc::ServerContext *context, const ListRequest *,
                                          grpc::ServerWriter<WorkDayKind> *writer)
{
    return writeAll(context, m_script.workDayKinds, writer);
}

grpc::Status FakeCommService::CalendarHistory(grpc::ServerContext *context, const MonthRequest *request,
                                              grpc::ServerWriter<CalendarRange> *writer)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lastMonth = *request;
    }
    return writeAll(context, m_script.calendarRanges, writer);
}

grpc::Status FakeCommService::ExceptionHistory(grpc::ServerContext *context, const MonthRequest *request,
                                               grpc::ServerWriter<ExceptionDay> *writer)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lastMonth = *request;
    }
    return writeAll(context, m_script.exceptionDays, writer);
}

grpc::Status FakeCommService::SetCalendar(grpc::ServerContext *context, const SetCalendarRequest *request,
                                          SetReply *reply)
{
    const grpc::Status session = checkSession(context);
    if (!session.ok())
        return session;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lastSetCalendar = *request;
    reply->set_audit_id(1);
    return m_script.setStatus;
}

grpc::Status FakeCommService::SetWorkDay(grpc::ServerContext *context, const SetWorkDayRequest *request,
                                         SetReply *reply)
{
    const grpc::Status session = checkSession(context);
    if (!session.ok())
        return session;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lastSetWorkDay = *request;
    reply->set_audit_id(2);
    return m_script.setStatus;
}

PresenceRow fakePresenceRow(int index, int pictureBytes)
{
    PresenceRow row;
    row.set_employee_id(QStringLiteral("E%1").arg(index, 5, 10, QLatin1Char('0')).toStdString());
    row.set_last_name("Last" + std::to_string(index));
    row.set_first_name("First" + std::to_string(index));
    row.mutable_last_activity()->set_seconds(1520236800 + index); // 2018-03-05 08:00 civil
    row.set_stale(index % 2 == 0);
    row.set_activity_description("Arrival");
    row.set_department("Department " + std::to_string(index % 7));
    if (pictureBytes > 0) {
        QByteArray picture(pictureBytes, char('a' + index % 26));
        picture.replace(0, 8, QByteArray::number(index).rightJustified(8, '0'));
        row.set_picture(picture.toStdString());
        row.set_picture_digest(QCryptographicHash::hash(picture, QCryptographicHash::Sha256).toStdString());
    }
    row.set_presence_status(index % 3 == 0 ? "Absent" : "Present");
    row.set_status_color(0x0000ff00 + index % 256);
    return row;
}
