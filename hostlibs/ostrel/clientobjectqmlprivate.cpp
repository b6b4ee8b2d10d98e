#include "clientobjectqmlprivate.h"

#include "callerror.h"
#include "civiltime.h"
#include "connectionoptions.h"
#include "ostrellog.h"
#include <pindle/pindle.h>
#include "presencevalues.h"
#include "serviceaddress.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>

using namespace ostrel;
using vorna::v1::CommService;

namespace {

// Rows are handed to the GUI thread in batches: one queued event per batch, not per row.
constexpr std::size_t kRowsPerEvent = 256;
// A logout on the way out must not hold up the next connect or the program's exit.
constexpr int kLogoutDeadlineMs = 2000;
// Heartbeats may be this many intervals late before the session counts as lost.
constexpr int kMissedHeartbeats = 3;
// A longer interval from the service is taken as this, so the liveness limit stays finite.
constexpr int kMaxHeartbeatSeconds = 3600;

qint64 steadyNowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void setCivilTime(vorna::v1::CivilTime *out, qint64 seconds)
{
    out->set_seconds(seconds);
}

void setCivilDate(vorna::v1::CivilDate *out, const QDate &date)
{
    out->set_year(date.year());
    out->set_month(date.month());
    out->set_day(date.day());
}

// `what` is "<something> that is", or "<some rows> whose <field> is".
void logOutOfRange(const QString &what)
{
    qCWarning(lcOstrel).noquote()
        << QStringLiteral("The attendance service sent %1 not a valid date in the years %2 to %3; it is passed on as no date.")
               .arg(what)
               .arg(kFirstCivilYear)
               .arg(kLastCivilYear);
}

// An absent moment, and one outside the accepted years, become an invalid QDateTime.
QDateTime optionalTime(bool present, const vorna::v1::CivilTime &time, const char *what)
{
    if (!present)
        return QDateTime();
    const QDateTime local = localFromCivilSeconds(time.seconds());
    if (!local.isValid())
        logOutOfRange(QStringLiteral("%1 (%2 seconds) that is").arg(QLatin1String(what)).arg(time.seconds()));
    return local;
}

QDateTime optionalDay(bool present, const vorna::v1::CivilDate &day)
{
    if (!present)
        return QDateTime();
    const QDateTime midnight = localMidnight(day.year(), day.month(), day.day());
    if (!midnight.isValid())
        logOutOfRange(QStringLiteral("an exception day (year %1, month %2, day %3) that is").arg(day.year()).arg(day.month()).arg(day.day()));
    return midnight;
}

QString text(const std::string &utf8)
{
    return QString::fromStdString(utf8);
}

} // namespace

ClientObjectQmlPrivate::ClientObjectQmlPrivate(ClientObjectQml *q)
    : q(q)
    , m_pictures(std::make_shared<PictureCache>())
{
    m_livenessTimer.setSingleShot(true);
    QObject::connect(&m_livenessTimer, &QTimer::timeout, q, [this] { checkLiveness(); });
}

ClientObjectQmlPrivate::~ClientObjectQmlPrivate()
{
    // Cancel what is in flight so the workers can be joined at once; say goodbye to the
    // service so the session does not linger until it expires.
    if (m_connection)
        m_connection->close();
    if (m_state == State::LoggedIn)
        logout(m_connection, m_token);
}

template <class F>
void ClientObjectQmlPrivate::post(F &&f) const
{
    QMetaObject::invokeMethod(q, std::forward<F>(f), Qt::QueuedConnection);
}

// ---- Connection ---------------------------------------------------------------------------

void ClientObjectQmlPrivate::connectToService(const QString &url)
{
    endSession(EndKind::Replaced, QStringLiteral("a new connection was requested"));

    QString error;
    const ServiceAddress address = ServiceAddress::parse(url, &error);
    const ConnectionOptions options = ConnectionOptions::fromSettings(SettingsIniInstance());
    std::shared_ptr<Connection> connection = address.isValid() ? Connection::open(address, options, &error) : nullptr;
    if (!connection) {
        qCWarning(lcOstrel).noquote() << "Connect refused:" << error;
        post([this, error] { emit q->connected(false, error); });
        return;
    }

    m_connection = connection;
    m_state = State::Connecting;
    const quint64 attempt = ++m_attempt;
    qCInfo(lcOstrel).noquote() << "Connecting to" << address.display();
    m_sessionWorker.post([this, connection, attempt] {
        // Any call proves the service is there; Logout without a session changes nothing.
        // Not waiting for readiness makes a refused connection fail at once, with its reason.
        const int timeoutMs = connection->options().connectTimeoutMs;
        Connection::Call call(*connection, std::string(), timeoutMs);
        if (!call.live())
            return;
        call.context()->set_wait_for_ready(false);
        vorna::v1::LogoutReply reply;
        const grpc::Status status = connection->stub().Logout(call.context(), vorna::v1::LogoutRequest(), &reply);
        const bool reached = sentByService(status)
            && status.error_code() != grpc::StatusCode::UNIMPLEMENTED;
        const QString error = reached ? QString()
                                      : connectFailureText(status, connection->address().display(), timeoutMs,
                                                           connection->options().tls);
        post([this, attempt, reached, error] { probeFinished(attempt, reached, error); });
    });
}

void ClientObjectQmlPrivate::probeFinished(quint64 attempt, bool reached, const QString &error)
{
    if (attempt != m_attempt || m_state != State::Connecting)
        return; // cancelled or replaced: that attempt has had its answer
    if (!reached) {
        qCWarning(lcOstrel).noquote() << "Connect failed:" << error;
        m_connection.reset();
        m_state = State::Idle;
        emit q->connected(false, error);
        return;
    }
    qCInfo(lcOstrel).noquote() << "Connected to" << m_connection->address().display();
    m_state = State::Connected;
    emit q->connected(true, QString());
}

void ClientObjectQmlPrivate::disconnectFromService()
{
    // With nothing connected there is nothing to end, and no `disconnected` follows.
    endSession(EndKind::Explicit, QStringLiteral("the program disconnected"));
}

void ClientObjectQmlPrivate::endSession(EndKind kind, const QString &reason)
{
    const State was = m_state;
    if (was == State::Idle)
        return;
    const std::shared_ptr<Connection> connection = std::move(m_connection);
    const QString address = connection->address().display();
    connection->close();
    if (was == State::LoggedIn && kind != EndKind::Lost)
        logout(connection, m_token);

    m_state = State::Idle;
    m_token.clear();
    m_endReason = kind == EndKind::Lost ? reason : QString();
    ++m_attempt;
    ++m_generation;
    m_livenessTimer.stop();
    qCInfo(lcOstrel).noquote() << "Session with" << address << "ended:" << reason;

    // Answered from the event loop: the answers still owed first, then the end itself.
    std::vector<PendingAnswers::Emit> owed = m_answers.closeAll();
    post([this, was, address, owed = std::move(owed)] {
        if (was == State::Connecting) {
            emit q->connected(false, QStringLiteral("The connection attempt to %1 was cancelled before it completed. Connect again.")
                                         .arg(address));
        }
        for (const PendingAnswers::Emit &answer : owed)
            answer();
        if (was != State::Connecting)
            emit q->disconnected();
    });
}

void ClientObjectQmlPrivate::logout(const std::shared_ptr<Connection> &connection, const std::string &token)
{
    m_logoutWorker.post([connection, token] {
        // Not a tracked call: the connection is already closed to everything else.
        grpc::ClientContext context;
        addSessionToken(context, token);
        context.set_deadline(std::chrono::system_clock::now() + std::chrono::milliseconds(kLogoutDeadlineMs));
        vorna::v1::LogoutReply reply;
        const grpc::Status status = connection->stub().Logout(&context, vorna::v1::LogoutRequest(), &reply);
        if (!status.ok())
            qCInfo(lcOstrel).noquote() << "Logout not confirmed:" << text(status.error_message());
    });
}

// ---- Session ----------------------------------------------------------------------------

void ClientObjectQmlPrivate::login(const QString &user, const QString &password)
{
    if (m_state != State::Connected && m_state != State::LoggedIn) {
        qCWarning(lcOstrel).noquote() << "Login refused:" << notConnectedText();
        post([this] { emit q->dbLoginResponse(false); });
        return;
    }
    const quint64 id = m_answers.open(nullptr, [this] { emit q->dbLoginResponse(false); });
    const std::shared_ptr<Connection> connection = m_connection;
    vorna::v1::LoginRequest request;
    request.set_user(user.toStdString());
    request.set_password(password.toStdString());
    request.set_client(QStringLiteral("%1 (Ostrel)").arg(QCoreApplication::applicationName()).toStdString());
    m_sessionWorker.post([this, id, connection, request] {
        Connection::Call call(*connection, std::string(), connection->options().callTimeoutMs);
        if (!call.live())
            return;
        vorna::v1::LoginReply reply;
        const grpc::Status status = connection->stub().Login(call.context(), request, &reply);
        QString failure;
        if (!status.ok()) {
            failure = callFailureText(status, connection->address().display(), connection->options().callTimeoutMs);
        } else if (!isUsableMetadataValue(reply.session_token())) {
            // It would go back in the metadata of every later call, where gRPC aborts on it.
            failure = unusableTokenText(connection->address().display());
        }
        if (!failure.isEmpty())
            qCWarning(lcOstrel).noquote() << "Login failed:" << failure;
        const bool ok = failure.isEmpty();
        post([this, id, connection, ok, reply] {
            m_answers.finish(id, [this, connection, ok, reply] {
                const bool current = ok && connection == m_connection;
                if (current)
                    loginFinished(reply);
                emit q->dbLoginResponse(current);
            });
        });
    });
}

void ClientObjectQmlPrivate::loginFinished(const vorna::v1::LoginReply &reply)
{
    m_token = reply.session_token();
    m_state = State::LoggedIn;
    qCInfo(lcOstrel).noquote() << "Logged in as" << text(reply.user());
    startSessionWatch(qBound(0, reply.heartbeat_seconds(), kMaxHeartbeatSeconds));
}

void ClientObjectQmlPrivate::startSessionWatch(int heartbeatSeconds)
{
    // A new login on a standing connection replaces the previous watch.
    const quint64 generation = ++m_generation;
    const std::shared_ptr<Connection> connection = m_connection;
    const std::string token = m_token;
    auto lastEvent = std::make_shared<std::atomic<qint64>>(steadyNowMs());
    m_lastSessionEvent = lastEvent;
    m_livenessLimitMs = heartbeatSeconds > 0 ? heartbeatSeconds * 1000 * kMissedHeartbeats : 0;
    if (m_livenessLimitMs > 0)
        m_livenessTimer.start(m_livenessLimitMs);

    m_watchWorker.post([this, generation, connection, token, lastEvent] {
        Connection::Call call(*connection, token, 0);
        if (!call.live())
            return;
        std::unique_ptr<grpc::ClientReader<vorna::v1::SessionEvent>> reader =
            connection->stub().WatchSession(call.context(), vorna::v1::SessionWatchRequest());
        vorna::v1::SessionEvent event;
        QString reason;
        while (reader->Read(&event)) {
            lastEvent->store(steadyNowMs());
            if (event.kind() == vorna::v1::SessionEvent::ENDING)
                reason = serviceMessage(event.reason());
            else if (event.kind() == vorna::v1::SessionEvent::PRESENCE_CHANGED)
                post([this, generation] { announcePresenceChange(generation); });
        }
        const grpc::Status status = reader->Finish();
        const QString address = connection->address().display();
        if (reason.isEmpty() && status.ok())
            reason = QStringLiteral("The attendance service at %1 closed the session. Connect again.").arg(address);
        else if (reason.isEmpty())
            reason = QStringLiteral("The connection to the attendance service at %1 was lost (%2). Connect again.")
                         .arg(address, transportReason(status));
        post([this, generation, reason] { watchEnded(generation, reason); });
    });
}

void ClientObjectQmlPrivate::checkLiveness()
{
    if (m_state != State::LoggedIn || m_livenessLimitMs <= 0)
        return;
    const qint64 silentMs = steadyNowMs() - m_lastSessionEvent->load();
    if (silentMs < m_livenessLimitMs) {
        m_livenessTimer.start(int(m_livenessLimitMs - silentMs));
        return;
    }
    endSession(EndKind::Lost, QStringLiteral("The attendance service at %1 stopped answering (no sign of life for %2 s). "
                                             "Connect again.")
                                  .arg(m_connection->address().display())
                                  .arg((silentMs + 500) / 1000));
}

void ClientObjectQmlPrivate::announcePresenceChange(quint64 generation)
{
    if (generation == m_generation && m_state == State::LoggedIn)
        emit q->presenceChanged();
}

void ClientObjectQmlPrivate::watchEnded(quint64 generation, const QString &reason)
{
    if (generation != m_generation || m_state != State::LoggedIn)
        return; // an earlier session's watch, already ended
    endSession(EndKind::Lost, reason);
}

// ---- Requests ---------------------------------------------------------------------------

template <class Item>
void ClientObjectQmlPrivate::postRows(quint64 id, std::vector<Item> &rows,
                                      const std::function<void(ClientObjectQml *, const Item &)> &emitRow)
{
    if (rows.empty())
        return;
    post([this, id, rows = std::move(rows), emitRow] {
        m_answers.deliver(id, [&] {
            for (const Item &row : rows)
                emitRow(q, row);
        });
    });
    rows.clear();
}

template <class Reply, class Item>
void ClientObjectQmlPrivate::requestRows(SerialWorker &worker, RowCall<Reply, Item> call)
{
    const auto begin = [q = q, signal = call.begin] { emit (q->*signal)(); };
    const auto end = [q = q, signal = call.end] { emit (q->*signal)(); };
    if (m_state != State::LoggedIn) {
        qCInfo(lcOstrel).noquote() << "Request answered empty:"
                                   << (m_state == State::Connected ? notLoggedInText() : notConnectedText());
        post([begin, end] {
            begin();
            end();
        });
        return;
    }
    const quint64 id = m_answers.open(begin, end);
    const std::shared_ptr<Connection> connection = m_connection;
    const std::string token = m_token;
    worker.post([this, id, connection, token, call, end] {
        post([this, id] { m_answers.deliver(id, nullptr); }); // Begin, once this request's turn has come
        Connection::Call rpc(*connection, token, connection->options().callTimeoutMs);
        if (!rpc.live())
            return; // the session ended first and answered for this request
        std::unique_ptr<grpc::ClientReaderInterface<Reply>> reader = call.open(connection->stub(), rpc.context());
        Reply reply;
        std::vector<Item> rows;
        QString fault;
        while (reader->Read(&reply)) {
            if (call.check)
                fault = call.check(reply);
            if (!fault.isEmpty()) {
                rpc.context()->TryCancel();
                while (reader->Read(&reply)) {
                }
                break;
            }
            const std::size_t before = rows.size();
            call.convert(reply, rows);
            // A chunk of rows goes out as it came; single rows are gathered into batches.
            if (rows.size() >= kRowsPerEvent || rows.size() - before > 1)
                postRows(id, rows, call.emitRow);
        }
        postRows(id, rows, call.emitRow);
        const grpc::Status status = reader->Finish();
        if (call.finished)
            call.finished(status);
        if (!fault.isEmpty()) {
            qCWarning(lcOstrel).noquote() << "Request ended early:"
                                          << malformedAnswerText(connection->address().display(), fault);
        } else if (!status.ok()) {
            qCWarning(lcOstrel).noquote() << "Request ended early:"
                                          << callFailureText(status, connection->address().display(),
                                                             connection->options().callTimeoutMs);
        }
        post([this, id, end] { m_answers.finish(id, end); });
    });
}

void ClientObjectQmlPrivate::presence(const QString &userName, const QDateTime &dateTime)
{
    vorna::v1::PresenceRequest request;
    request.set_user_name(userName.toStdString());
    if (const std::optional<qint64> at = civilSecondsFromLocal(dateTime))
        setCivilTime(request.mutable_at(), *at);
    const std::shared_ptr<PictureCache> pictures = m_pictures;
    // Read here: the settings store belongs to the GUI thread; the folder is opened on the worker.
    const PictureDiskOptions disk = PictureDiskOptions::fromSettings(SettingsIniInstance());

    RowCall<vorna::v1::PresenceChunk, PresenceValues> call;
    call.begin = &ClientObjectQml::dbPresenceResponseBegin;
    call.end = &ClientObjectQml::dbPresenceResponseEnd;
    call.open = [request, pictures, disk](CommService::Stub &stub, grpc::ClientContext *context) mutable {
        pictures->useDisk(disk);
        // Taken when the request's turn comes, so the previous answer's pictures count.
        for (std::string &digest : pictures->digests())
            request.add_known_picture_digests(std::move(digest));
        pictures->beginAnswer();
        return stub.Presence(context, request);
    };
    // Rows whose last activity is out of range are counted and logged once per answer.
    const auto outOfRange = std::make_shared<int>(0);
    call.check = [](const vorna::v1::PresenceChunk &chunk) { return answerFault(chunk); };
    call.convert = [pictures, outOfRange](vorna::v1::PresenceChunk &chunk, std::vector<PresenceValues> &rows) {
        rows.reserve(rows.size() + chunk.rows_size());
        for (const vorna::v1::PresenceRow &row : chunk.rows()) {
            rows.push_back(PresenceValues::fromRow(row, *pictures));
            *outOfRange += rows.back().lastActOutOfRange;
        }
    };
    call.emitRow = [](ClientObjectQml *q, const PresenceValues &r) {
        emit q->dbPresenceResponse(r.idEmp, r.lastName, r.firstName, r.lastActDT, r.old, r.lastActDesc,
                                   r.department, r.picture, r.presence, r.actColor);
    };
    call.finished = [pictures, outOfRange](const grpc::Status &status) {
        pictures->finishAnswer(status.ok());
        if (*outOfRange > 0)
            logOutOfRange(QStringLiteral("%1 presence rows whose last activity is").arg(*outOfRange));
    };
    requestRows(m_presenceWorker, call);
}

void ClientObjectQmlPrivate::calendarList()
{
    requestRows(m_calendarWorker, messageRows<vorna::v1::Calendar>(
        &ClientObjectQml::dbCalendarListResponseBegin, &ClientObjectQml::dbCalendarListResponseEnd,
        [](CommService::Stub &stub, grpc::ClientContext *context) {
            return stub.CalendarList(context, vorna::v1::ListRequest());
        },
        [](ClientObjectQml *q, const vorna::v1::Calendar &calendar) {
            emit q->dbCalendarListResponse(calendar.id(), text(calendar.name()));
        }));
}

void ClientObjectQmlPrivate::workDayList()
{
    requestRows(m_workDayWorker, messageRows<vorna::v1::WorkDayKind>(
        &ClientObjectQml::dbWorkDayListResponseBegin, &ClientObjectQml::dbWorkDayListResponseEnd,
        [](CommService::Stub &stub, grpc::ClientContext *context) {
            return stub.WorkDayList(context, vorna::v1::ListRequest());
        },
        [](ClientObjectQml *q, const vorna::v1::WorkDayKind &kind) {
            emit q->dbWorkDayListResponse(kind.id(), text(kind.name()));
        }));
}

namespace {

vorna::v1::MonthRequest monthRequest(const QString &idEmp, int month, int year)
{
    vorna::v1::MonthRequest request;
    request.set_employee_id(idEmp.toStdString());
    request.set_month(month);
    request.set_year(year);
    return request;
}

} // namespace

void ClientObjectQmlPrivate::calendarHistory(const QString &idEmp, int month, int year)
{
    const vorna::v1::MonthRequest request = monthRequest(idEmp, month, year);
    requestRows(m_calHistWorker, messageRows<vorna::v1::CalendarRange>(
        &ClientObjectQml::dbCalEmpHistResponseBegin, &ClientObjectQml::dbCalEmpHistResponseEnd,
        [request](CommService::Stub &stub, grpc::ClientContext *context) {
            return stub.CalendarHistory(context, request);
        },
        [](ClientObjectQml *q, const vorna::v1::CalendarRange &range) {
            emit q->dbCalEmpHistResponse(text(range.calendar_name()), range.calendar_color(),
                                         optionalTime(range.has_valid_begin(), range.valid_begin(), "a calendar start"),
                                         optionalTime(range.has_valid_end(), range.valid_end(), "a calendar end"));
        }));
}

void ClientObjectQmlPrivate::exceptionHistory(const QString &idEmp, int month, int year)
{
    const vorna::v1::MonthRequest request = monthRequest(idEmp, month, year);
    requestRows(m_excHistWorker, messageRows<vorna::v1::ExceptionDay>(
        &ClientObjectQml::dbExceptionEmpHistResponseBegin, &ClientObjectQml::dbExceptionEmpHistResponseEnd,
        [request](CommService::Stub &stub, grpc::ClientContext *context) {
            return stub.ExceptionHistory(context, request);
        },
        [](ClientObjectQml *q, const vorna::v1::ExceptionDay &day) {
            emit q->dbExceptionEmpHistResponse(text(day.day_name()), day.day_color(),
                                               optionalDay(day.has_day(), day.day()));
        }));
}

void ClientObjectQmlPrivate::requestChange(SerialWorker &worker, void (ClientObjectQml::*response)(bool, QString),
                                           const QDateTime &day, ChangeCall change)
{
    const auto answer = [q = q, response](bool succ, const QString &err) { emit (q->*response)(succ, err); };
    QString refusal;
    if (m_state != State::LoggedIn)
        refusal = m_state == State::Connected ? notLoggedInText() : notConnectedText();
    else if (!localDate(day).isValid())
        refusal = QStringLiteral("No valid day was chosen for the assignment. Choose a day in the calendar and try again.");
    if (!refusal.isEmpty()) {
        post([answer, refusal] { answer(false, refusal); });
        return;
    }

    const quint64 id = m_answers.open(nullptr, [answer] { answer(false, sessionEndedText()); });
    const std::shared_ptr<Connection> connection = m_connection;
    const std::string token = m_token;
    worker.post([this, id, connection, token, change, answer] {
        Connection::Call call(*connection, token, connection->options().callTimeoutMs);
        if (!call.live())
            return;
        const grpc::Status status = change(connection->stub(), call.context());
        const QString error = status.ok()
            ? QString()
            : callFailureText(status, connection->address().display(),
                              connection->options().callTimeoutMs);
        if (!status.ok())
            qCWarning(lcOstrel).noquote() << "Change refused:" << error;
        const bool ok = status.ok();
        post([this, id, answer, ok, error] { m_answers.finish(id, [answer, ok, error] { answer(ok, error); }); });
    });
}

void ClientObjectQmlPrivate::setCalendar(int calID, const QString &idEmp, const QDateTime &validFrom)
{
    vorna::v1::SetCalendarRequest request;
    request.set_calendar_id(calID);
    request.set_employee_id(idEmp.toStdString());
    setCivilDate(request.mutable_valid_from(), localDate(validFrom));
    requestChange(m_changeWorker, &ClientObjectQml::dbCalendarSetResponse, validFrom,
                  [request](CommService::Stub &stub, grpc::ClientContext *context) {
                      vorna::v1::SetReply reply;
                      return stub.SetCalendar(context, request, &reply);
                  });
}

void ClientObjectQmlPrivate::setWorkDay(int workDayID, const QString &idEmp, const QDateTime &day)
{
    vorna::v1::SetWorkDayRequest request;
    request.set_work_day_id(workDayID);
    request.set_employee_id(idEmp.toStdString());
    setCivilDate(request.mutable_day(), localDate(day));
    requestChange(m_changeWorker, &ClientObjectQml::dbWorkDaySetResponse, day,
                  [request](CommService::Stub &stub, grpc::ClientContext *context) {
                      vorna::v1::SetReply reply;
                      return stub.SetWorkDay(context, request, &reply);
                  });
}
