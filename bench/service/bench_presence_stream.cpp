// Measures a presence answer through the real RPC server, in-process, on an organisation of
// 10,000 and 100,000 employees with ~3 KB pictures each: the time to the first row and to the
// last, and the process's resident memory before, at its peak during, and after the answer.
// The client reads and drops each chunk, so the memory figures are the server's (plus gRPC's
// client buffers). Cold is the first answer after start, with every picture; warm the next,
// with every picture; known the one after, with the caller holding every picture.
// SQLite always; PostgreSQL too when VORNA_TEST_PG names a server (10,000 only, to keep the
// run short). Databases are built on each run, under $VORNA_BENCH_DIR (default /tmp).
//
// Usage: bench_presence_stream [EMPLOYEES...]   (default 10000 100000; 0 skips SQLite)

#include "ops/eventlog.h"
#include "sessions/passwordhasher.h"
#include "serve/serviceserver.h"
#include "storage/database.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <grpcpp/grpcpp.h>
#include <libpq-fe.h>

#include <cstdio>
#include <thread>

using namespace vorna::service;
namespace v1 = vorna::v1;

namespace {

const QByteArray Password = "bench-pass";

// Resident memory in kB: "RssAnon:" is the process's own memory; "VmRSS:" adds the pages of
// files it maps. SQLite maps the database file on each worker's connection, and a file page
// mapped by eight connections counts eight times there, though it is one page of the system's
// file cache, shared and dropped under pressure. "Pss:" of smaps_rollup counts such a page once.
qint64 rssKb(const char *field = "RssAnon:", const char *file = "/proc/self/status")
{
    QFile status(QString::fromLatin1(file));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

bool seed(Database &storage, int employees)
{
    const auto ok = [](const StorageError &error) {
        if (!error.ok())
            std::fprintf(stderr, "seeding failed: %s\n", qPrintable(error.message));
        return error.ok();
    };
    if (!ok(storage.migrate()))
        return false;
    Department department{0, QStringLiteral("Everyone")};
    PresenceStatus present{0, QStringLiteral("Present"), 0x00ff00};
    if (!ok(storage.organisation().addDepartment(department)) || !ok(storage.organisation().addPresenceStatus(present)))
        return false;
    ActivityKind arrival{0, QStringLiteral("Arrival"), present.id};
    if (!ok(storage.organisation().addActivityKind(arrival)))
        return false;
    const QStringList last = {"Petrović", "Jovanović", "Đorđević", "Čolić", "Adams", "Ilić", "Šarić", "Nikolić"};
    const QStringList first = {"Ana", "Marko", "Jelena", "Uroš", "Emma", "Filip", "Žana", "Ćira"};
    QRandomGenerator random(7);
    const QDateTime at(QDate::currentDate(), QTime(8, 0), Qt::UTC);
    for (int start = 0; start < employees; start += 5000) {
        QVector<Employee> batch;
        QVector<Registration> registrations;
        for (int i = start; i < std::min(employees, start + 5000); ++i) {
            QByteArray picture(3000, Qt::Uninitialized);
            random.fillRange(reinterpret_cast<quint32 *>(picture.data()), picture.size() / 4);
            const QString id = QStringLiteral("B%1").arg(i, 6, 10, QLatin1Char('0'));
            batch.append({id, last.at(int(random.bounded(8))) + QString::number(random.bounded(50)),
                          first.at(int(random.bounded(8))), department.id, picture, {}, {}});
            registrations.append({id, at.addSecs(random.bounded(3600)), arrival.id, QStringLiteral("bench")});
        }
        if (!ok(storage.organisation().addEmployees(batch)) || !ok(storage.organisation().addRegistrations(registrations)))
            return false;
    }
    User user;
    user.name = QStringLiteral("bench");
    user.passwordHash = PasswordHasher().hash(Password);
    user.role = Role::Manager;
    user.allDepartments = true;
    return ok(storage.accounts().addUser(user));
}

struct Answer
{
    double firstRowMs = 0;
    double lastRowMs = 0;
    int rows = 0;
    qint64 peakKb = 0;
    QList<std::string> digests;
};

Answer presence(v1::CommService::Stub &stub, const std::string &token, const QList<std::string> &known)
{
    Answer answer;
    grpc::ClientContext context;
    context.AddMetadata("vorna-session", token);
    context.set_deadline(std::chrono::system_clock::now() + std::chrono::minutes(5));
    v1::PresenceRequest request;
    for (const std::string &digest : known)
        request.add_known_picture_digests(digest);
    QElapsedTimer timer;
    timer.start();
    auto reader = stub.Presence(&context, request);
    v1::PresenceChunk chunk;
    int chunks = 0;
    while (reader->Read(&chunk)) {
        if (answer.rows == 0)
            answer.firstRowMs = timer.nsecsElapsed() / 1e6;
        answer.rows += chunk.rows_size();
        for (const v1::PresenceRow &row : chunk.rows())
            answer.digests << row.picture_digest();
        if (++chunks % 16 == 0)
            answer.peakKb = std::max(answer.peakKb, rssKb());
    }
    answer.lastRowMs = timer.nsecsElapsed() / 1e6;
    const grpc::Status status = reader->Finish();
    if (!status.ok())
        std::fprintf(stderr, "presence failed: %s\n", status.error_message().c_str());
    return answer;
}

// Every picture of the table fetched through Qt's PostgreSQL driver (text results: bytea as
// hex) and through libpq asking for binary results, on the same server, median of three.
void comparePictureFetch(const QString &location)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("pictures"));
    QString conninfo = location;
    for (const QString &part : location.split(QLatin1Char(' '))) {
        const QString key = part.section(QLatin1Char('='), 0, 0), value = part.section(QLatin1Char('='), 1);
        if (key == QLatin1String("host")) db.setHostName(value);
        if (key == QLatin1String("port")) db.setPort(value.toInt());
        if (key == QLatin1String("user")) db.setUserName(value);
        if (key == QLatin1String("dbname")) db.setDatabaseName(value);
    }
    PGconn *pg = PQconnectdb(conninfo.toUtf8().constData());
    if (!db.open() || PQstatus(pg) != CONNECTION_OK) {
        PQfinish(pg);
        return;
    }
    QList<double> textMs, binaryMs;
    qint64 textBytes = 0, binaryBytes = 0;
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer timer;
        timer.start();
        QSqlQuery query(db);
        query.exec(QStringLiteral("SELECT original_digest, original FROM pictures"));
        textBytes = 0;
        while (query.next())
            textBytes += query.value(1).toByteArray().size();
        textMs << timer.nsecsElapsed() / 1e6;
        timer.restart();
        PGresult *result = PQexecParams(pg, "SELECT original_digest, original FROM pictures", 0, nullptr, nullptr,
                                        nullptr, nullptr, 1);
        binaryBytes = 0;
        for (int i = 0; i < PQntuples(result); ++i)
            binaryBytes += QByteArray(PQgetvalue(result, i, 1), PQgetlength(result, i, 1)).size();
        PQclear(result);
        binaryMs << timer.nsecsElapsed() / 1e6;
    }
    std::sort(textMs.begin(), textMs.end());
    std::sort(binaryMs.begin(), binaryMs.end());
    std::printf("postgresql every picture (%lld MB): Qt driver, text %.1f ms; libpq, binary (%lld MB) %.1f ms\n",
                textBytes / (1024 * 1024), textMs.at(1), binaryBytes / (1024 * 1024), binaryMs.at(1));
    PQfinish(pg);
    db.close();
}

// The process's threads with 0, 300 and 1,000 session streams open: they should not grow.
void countThreads(const QString &address, const std::string &token)
{
    struct Stream
    {
        std::unique_ptr<grpc::ClientContext> context;
        std::unique_ptr<grpc::ClientReader<v1::SessionEvent>> reader;
    };
    std::vector<std::unique_ptr<v1::CommService::Stub>> stubs;
    for (int i = 0; i < 40; ++i) {
        grpc::ChannelArguments args;
        args.SetInt("bench.connection", i);
        stubs.push_back(v1::CommService::NewStub(
            grpc::CreateCustomChannel(address.toStdString(), grpc::InsecureChannelCredentials(), args)));
    }
    std::vector<Stream> streams;
    QStringList counts;
    for (const int target : {0, 300, 1000}) {
        while (int(streams.size()) < target) {
            Stream stream{std::make_unique<grpc::ClientContext>(), nullptr};
            stream.context->AddMetadata("vorna-session", token);
            stream.reader = stubs.at(streams.size() % stubs.size())->WatchSession(stream.context.get(), v1::SessionWatchRequest());
            v1::SessionEvent event;
            if (!stream.reader->Read(&event))
                break;
            streams.push_back(std::move(stream));
        }
        counts << QStringLiteral("%1 streams: %2 threads").arg(streams.size()).arg(rssKb("Threads:"));
    }
    std::printf("threads of the process (client's included): %s\n", qPrintable(counts.join(QStringLiteral("; "))));
    for (Stream &stream : streams)
        stream.context->TryCancel();
    for (Stream &stream : streams)
        stream.reader->Finish();
}

void measure(const QString &engine, const QString &location, int employees)
{
    StorageError error;
    Result<std::unique_ptr<Database>> storageOpened = Database::open(location);
    error = storageOpened.error();
    std::unique_ptr<Database> storage = storageOpened.take();
    if (!storage) {
        std::fprintf(stderr, "%s\n", qPrintable(error.message));
        return;
    }
    QElapsedTimer seeding;
    seeding.start();
    if (!seed(*storage, employees))
        return;
    std::fprintf(stderr, "%s %d employees seeded in %.1f s\n", qPrintable(engine), employees, seeding.elapsed() / 1000.0);
    // The first page straight from the storage, for comparison with the first row on the wire.
    User everyone;
    everyone.allDepartments = true;
    for (int run = 0; run < 2; ++run) {
        PresenceQuery query{QDateTime(QDate::currentDate(), QTime(20, 0), Qt::UTC), 1, {}};
        PresenceCursor cursor;
        QVector<PresenceRow> page;
        QElapsedTimer pageTimer;
        pageTimer.start();
        page = storage->presence().presencePage(everyone, query, cursor).value();
        std::printf("%-10s %7d storage first page of %d rows: %.1f ms\n", qPrintable(engine), employees, page.size(),
                    pageTimer.nsecsElapsed() / 1e6);
    }
    // The whole answer with every picture, straight from the storage: the database's share of a
    // first load. Median of three after one warm-up.
    QList<double> wholeMs;
    for (int run = 0; run < 4; ++run) {
        PresenceQuery query{QDateTime(QDate::currentDate(), QTime(20, 0), Qt::UTC), 1, {}};
        qint64 bytes = 0;
        QElapsedTimer wholeTimer;
        wholeTimer.start();
        storage->presence().presence(everyone, query, [&](const PresenceRow &row) { bytes += row.picture.size(); });
        if (run > 0)
            wholeMs << wholeTimer.nsecsElapsed() / 1e6;
        if (run == 3) {
            std::sort(wholeMs.begin(), wholeMs.end());
            std::printf("%-10s %7d storage whole answer with %lld MB of pictures: %.1f ms (median of 3)\n",
                        qPrintable(engine), employees, bytes / (1024 * 1024), wholeMs.at(1));
        }
    }
    ServerConfig config;
    config.listen = QStringLiteral("127.0.0.1:0");
    config.maxStreamsPerSession = 2000;
    ServiceServer server(*storage, config);
    QString problem;
    if (!server.start(&problem)) {
        std::fprintf(stderr, "%s\n", qPrintable(problem));
        return;
    }
    grpc::ChannelArguments args;
    args.SetMaxReceiveMessageSize(64 * 1024 * 1024);
    const auto stub = v1::CommService::NewStub(
        grpc::CreateCustomChannel(server.address().toStdString(), grpc::InsecureChannelCredentials(), args));
    v1::LoginRequest login;
    login.set_user("bench");
    login.set_password(Password.toStdString());
    v1::LoginReply reply;
    grpc::ClientContext loginContext;
    if (!stub->Login(&loginContext, login, &reply).ok())
        return;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const qint64 idleKb = rssKb();
    Answer known;
    for (const char *kind : {"cold", "warm", "known"}) {
        const Answer answer = presence(*stub, reply.session_token(), qstrcmp(kind, "known") == 0 ? known.digests : QList<std::string>());
        if (qstrcmp(kind, "warm") == 0)
            known = answer;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        std::printf("%-10s %7d %-5s rows %7d  first row %7.1f ms  last row %8.1f ms  anon MB idle %4lld peak %4lld "
                    "after %4lld  (after: VmRSS %5lld MB, Pss %4lld MB)\n",
                    qPrintable(engine), employees, kind, answer.rows, answer.firstRowMs, answer.lastRowMs,
                    idleKb / 1024, std::max(answer.peakKb, rssKb()) / 1024, rssKb() / 1024, rssKb("VmRSS:") / 1024,
                    rssKb("Pss:", "/proc/self/smaps_rollup") / 1024);
        std::fflush(stdout);
    }
    if (engine == QLatin1String("sqlite"))
        countThreads(server.address(), reply.session_token());
    server.shutdown();
    server.wait();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    PasswordHasher::initializeSodium();
    EventLog::setThreshold(EventLog::Level::Warning);
    QList<int> sizes;
    for (const QString &arg : app.arguments().mid(1))
        sizes << arg.toInt();
    if (sizes.isEmpty())
        sizes = {10000, 100000};
    const QString base = qEnvironmentVariable("VORNA_BENCH_DIR", QDir::tempPath());
    for (const int employees : sizes) {
        QTemporaryDir dir(base + QStringLiteral("/vorna-stream-XXXXXX"));
        dir.setAutoRemove(qEnvironmentVariableIsEmpty("VORNA_BENCH_KEEP"));
        if (employees > 0)
            measure(QStringLiteral("sqlite"), dir.filePath(QStringLiteral("bench.db")), employees);
    }
    const QString pg = qEnvironmentVariable("VORNA_TEST_PG");
    if (!pg.isEmpty()) {
        // A fresh database on that server for the run.
        const QString name = QStringLiteral("vorna_bench_stream_%1").arg(QCoreApplication::applicationPid());
        {
            QSqlDatabase admin = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("admin"));
            for (const QString &part : pg.split(QLatin1Char(' '))) {
                const QString key = part.section(QLatin1Char('='), 0, 0), value = part.section(QLatin1Char('='), 1);
                if (key == QLatin1String("host")) admin.setHostName(value);
                if (key == QLatin1String("port")) admin.setPort(value.toInt());
                if (key == QLatin1String("user")) admin.setUserName(value);
                if (key == QLatin1String("dbname")) admin.setDatabaseName(value);
            }
            if (admin.open())
                QSqlQuery(admin).exec(QStringLiteral("CREATE DATABASE ") + name);
        }
        QSqlDatabase::removeDatabase(QStringLiteral("admin"));
        QString location = pg;
        location.replace(QRegularExpression(QStringLiteral("dbname=\\S+")), QStringLiteral("dbname=") + name);
        measure(QStringLiteral("postgresql"), location, 10000);
        comparePictureFetch(location);
    }
    return 0;
}
