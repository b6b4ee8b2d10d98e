#include "harrow.h"

#include <pindle/pindle.h>

#include <QCoreApplication>
#include <QDir>
#include <QMetaObject>
#include <QStandardPaths>
#include <QThread>

#include <spdlog/logger.h>
#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/sinks/stdout_sinks.h>

#include <atomic>
#include <functional>
#include <mutex>

namespace {

constexpr qint64 kDefaultMaxFileBytes = 5 * 1024 * 1024;
constexpr int kDefaultMaxFiles = 5;
const char kPattern[] = "%Y-%m-%d %H:%M:%S.%e [%l] %v";

std::atomic<HarrowLogger *> g_logger{nullptr};
std::mutex g_lifecycle;

spdlog::level::level_enum spdlogLevel(int level)
{
    switch (level) {
    case HarrowLogger::Error:
        return spdlog::level::err;
    case HarrowLogger::Warning:
        return spdlog::level::warn;
    case HarrowLogger::Info:
        return spdlog::level::info;
    default:
        // Anything more severe than Error is critical, anything finer than Info is debug.
        return level <= HarrowLogger::Critical ? spdlog::level::critical : spdlog::level::debug;
    }
}

std::shared_ptr<spdlog::logger> makeLogger(spdlog::sink_ptr sink)
{
    auto logger = std::make_shared<spdlog::logger>("harrow", std::move(sink));
    logger->set_pattern(kPattern);
    logger->set_level(spdlog::level::trace);
    // Every record reaches the disk at once, so a killed program leaves its last words behind.
    logger->flush_on(spdlog::level::trace);
    return logger;
}

QString defaultLogPath()
{
    QString name = QCoreApplication::applicationName().toLower();
    if (name.isEmpty())
        name = QStringLiteral("harrow");
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)
           + QStringLiteral("/log/") + name + QStringLiteral(".log");
}

// The one warning for a lost log file: what went wrong, where the records go now, what to do.
void warnFileLost(const QString &problem, const char *remedy)
{
    qWarning("Harrow %s. Records go to the console only, and only while console logging is on; "
             "%s, then restart the program.",
             qUtf8Printable(problem), remedy);
}

bool consoleWanted()
{
    const Settings *settings = SettingsIniInstance();
    return settings && settings->valueLogConsole();
}

} // namespace

// Lives with the logger object and is used only from the logger thread.
class HarrowLoggerPrivate
{
public:
    HarrowLoggerPrivate()
        : console(makeLogger(std::make_shared<spdlog::sinks::stderr_sink_mt>()))
    {
        // Nowhere left to report a broken stderr; the file copy carries on regardless.
        console->set_error_handler([](const std::string &) {});
    }

    bool open(const QString &path, qint64 maxFileBytes, int maxFiles);
    void write(int level, const QString &msg, quintptr threadId) noexcept;
    void flush();

private:
    void writeRecord(int level, const QString &msg, quintptr threadId);
    void closeFileIfItFailed();

    std::shared_ptr<spdlog::logger> console;
    std::shared_ptr<spdlog::logger> file; // null while no file is open
    QString filePath;
    QString fileError; // set by the file logger's error handler, handled after the call

    friend class HarrowLogger;
};

bool HarrowLoggerPrivate::open(const QString &path, qint64 maxFileBytes, int maxFiles)
{
    file.reset();
    filePath.clear();
    fileError.clear();
    if (maxFileBytes <= 0)
        maxFileBytes = kDefaultMaxFileBytes;
    if (maxFiles <= 0)
        maxFiles = kDefaultMaxFiles;
    try {
        // The sink counts the files it keeps besides the one being written.
        auto sink = std::make_shared<spdlog::sinks::rotating_file_sink_mt>(
            QDir::toNativeSeparators(path).toStdString(), std::size_t(maxFileBytes),
            std::size_t(maxFiles - 1));
        file = makeLogger(std::move(sink));
    } catch (const std::exception &e) {
        warnFileLost(QStringLiteral("cannot open the log file \"%1\" (%2)")
                         .arg(path, QString::fromLocal8Bit(e.what())),
                     "make the log folder writable");
        return false;
    }
    file->set_error_handler([this](const std::string &what) { fileError = QString::fromStdString(what); });
    filePath = path;
    return true;
}

void HarrowLoggerPrivate::write(int level, const QString &msg, quintptr threadId) noexcept
{
    // Called from a slot, which must not throw; losing one record is the lesser harm.
    try {
        writeRecord(level, msg, threadId);
    } catch (...) {
    }
}

void HarrowLoggerPrivate::writeRecord(int level, const QString &msg, quintptr threadId)
{
    const std::string text = QStringLiteral("[thread 0x%1] %2")
                                 .arg(QString::number(threadId, 16), msg)
                                 .toStdString();
    const spdlog::string_view_t view(text.data(), text.size());
    const auto spdLevel = spdlogLevel(level);
    if (file) {
        file->log(spdLevel, view);
        closeFileIfItFailed();
    }
    if (consoleWanted())
        console->log(spdLevel, view);
}

void HarrowLoggerPrivate::flush()
{
    if (file) {
        file->flush();
        closeFileIfItFailed();
    }
    console->flush();
}

// A full disk or a vanished folder: say so once and stop trying, rather than fail per record.
void HarrowLoggerPrivate::closeFileIfItFailed()
{
    if (fileError.isEmpty())
        return;
    warnFileLost(QStringLiteral("cannot write to the log file \"%1\" (%2) and stops writing it")
                     .arg(filePath, fileError),
                 "free disk space or fix the log folder");
    file.reset();
    filePath.clear();
    fileError.clear();
}

HarrowLogger::HarrowLogger(QObject *parent)
    : QObject(parent)
    , d(new HarrowLoggerPrivate)
{
}

HarrowLogger::~HarrowLogger()
{
    delete d;
}

QString HarrowLogger::filePath() const
{
    QString path;
    runInLoggerThread([&] { path = d->filePath; });
    return path;
}

void HarrowLogger::flush()
{
    runInLoggerThread([this] { d->flush(); });
}

void HarrowLogger::write(int level, QString msg, quintptr threadId, void *sender)
{
    Q_UNUSED(sender)
    // A direct call from another thread would race the sinks; hand it to our own thread.
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(
            this, [this, level, msg, threadId] { d->write(level, msg, threadId); },
            Qt::QueuedConnection);
        return;
    }
    d->write(level, msg, threadId);
}

void HarrowLogger::runInLoggerThread(const std::function<void()> &work) const
{
    if (QThread::currentThread() == thread() || !thread()->isRunning()) {
        work();
        return;
    }
    QMetaObject::invokeMethod(const_cast<HarrowLogger *>(this), work, Qt::BlockingQueuedConnection);
}

void HarrowInitializer::init()
{
    const std::lock_guard<std::mutex> lock(g_lifecycle);
    if (g_logger.load())
        return;
    // Qt runs no event loop in a thread of ours before the application object exists, so the
    // logger could never receive a record.
    if (!QCoreApplication::instance()) {
        qWarning("Harrow cannot start its logger before the application object exists, so "
                 "nothing is logged. Create the application object first, then call "
                 "HarrowInitializer::init().");
        return;
    }
    // The record's thread id crosses threads by this name in queued connections.
    qRegisterMetaType<quintptr>("quintptr");
    auto *thread = new QThread;
    thread->setObjectName(QStringLiteral("Harrow logger"));
    auto *logger = new HarrowLogger;
    logger->moveToThread(thread);
    // The logger is deleted in its own thread when that thread ends.
    QObject::connect(thread, &QThread::finished, logger, &QObject::deleteLater);
    thread->start();
    g_logger.store(logger);

    // The thread must stop while the application object, which its event loop needs, exists.
    qRemovePostRoutine(HarrowInitializer::cleanup);
    qAddPostRoutine(HarrowInitializer::cleanup);
}

void HarrowInitializer::cleanup()
{
    const std::lock_guard<std::mutex> lock(g_lifecycle);
    HarrowLogger *logger = g_logger.exchange(nullptr);
    if (!logger)
        return;
    QThread *thread = logger->thread();
    logger->flush();
    thread->quit();
    thread->wait();
    delete thread;
}

int LogOpen(int mode)
{
    Q_UNUSED(mode)
    return LogOpenAt(defaultLogPath(), kDefaultMaxFileBytes, kDefaultMaxFiles);
}

int LogOpenAt(const QString &filePath, qint64 maxFileBytes, int maxFiles)
{
    HarrowInitializer::init();
    HarrowLogger *logger = LogInstance();
    if (!logger)
        return -1;
    bool opened = false;
    logger->runInLoggerThread([&] { opened = logger->d->open(filePath, maxFileBytes, maxFiles); });
    return opened ? 0 : -1;
}

HarrowLogger *LogInstance()
{
    return g_logger.load();
}
