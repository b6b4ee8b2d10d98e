#include "ops/eventlog.h"

#include <QDateTime>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <sys/stat.h>

namespace vorna::service {

namespace {

std::atomic<int> g_threshold{int(EventLog::Level::Info)};
std::mutex g_writeMutex;
std::atomic<EventLog::Observer> g_observer{nullptr};

const char *levelName(EventLog::Level level)
{
    switch (level) {
    case EventLog::Level::Debug: return "debug";
    case EventLog::Level::Info: return "info";
    case EventLog::Level::Warning: return "warning";
    case EventLog::Level::Error: return "error";
    }
    return "info";
}

bool needsQuotes(const QString &value)
{
    if (value.isEmpty())
        return true;
    for (const QChar c : value) {
        if (c.isSpace() || c == QLatin1Char('=') || c == QLatin1Char('"') || c == QLatin1Char('\\'))
            return true;
    }
    return false;
}

// Quoted values escape what would break the one-line, one-event rule.
QByteArray quoted(const QString &value)
{
    QString out = QStringLiteral("\"");
    for (const QChar c : value) {
        switch (c.unicode()) {
        case '"':
        case '\\':
            out += QLatin1Char('\\');
            out += c;
            break;
        case '\n':
            out += QLatin1String("\\n");
            break;
        case '\r':
            out += QLatin1String("\\r");
            break;
        case '\t':
            out += QLatin1String("\\t");
            break;
        default:
            out += c;
        }
    }
    out += QLatin1Char('"');
    return out.toUtf8();
}

} // namespace

bool EventLog::stderrIsJournal()
{
    const char *stream = std::getenv("JOURNAL_STREAM");
    if (!stream || !*stream)
        return false;
    struct stat status {};
    if (fstat(fileno(stderr), &status) != 0)
        return false;
    // "DEVICE:INODE"; a child whose stderr was redirected inherits the variable but not the stream.
    return QByteArray(stream) == QByteArray::number(qulonglong(status.st_dev)) + ':'
                                     + QByteArray::number(qulonglong(status.st_ino));
}

void EventLog::setThreshold(Level level) { g_threshold = int(level); }

void EventLog::setObserver(Observer observer) { g_observer = observer; }

bool EventLog::enabled(Level level) { return int(level) >= g_threshold; }

bool EventLog::parseLevel(const QString &text, Level *level)
{
    for (Level candidate : {Level::Debug, Level::Info, Level::Warning, Level::Error}) {
        if (text == QLatin1String(levelName(candidate))) {
            *level = candidate;
            return true;
        }
    }
    return false;
}

QByteArray EventLog::format(Level level, const char *event, std::initializer_list<Field> fields)
{
    QByteArray line = "vorna-service: level=";
    line += levelName(level);
    line += " event=";
    line += event;
    for (const Field &field : fields) {
        line += ' ';
        line += field.key;
        line += '=';
        line += needsQuotes(field.value) ? quoted(field.value) : field.value.toUtf8();
    }
    return line;
}

void EventLog::write(Level level, const char *event, std::initializer_list<Field> fields)
{
    if (const Observer observer = g_observer.load())
        observer(event, fields);
    if (!enabled(level))
        return;
    static const bool journal = stderrIsJournal();
    QByteArray line = format(level, event, fields) + '\n';
    if (!journal)
        line.prepend(QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toLatin1() + ' ');
    // One fwrite per line under a lock, so lines from worker threads never interleave.
    std::lock_guard<std::mutex> lock(g_writeMutex);
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
}

void EventLog::debug(const char *event, std::initializer_list<Field> fields) { write(Level::Debug, event, fields); }
void EventLog::info(const char *event, std::initializer_list<Field> fields) { write(Level::Info, event, fields); }
void EventLog::warning(const char *event, std::initializer_list<Field> fields) { write(Level::Warning, event, fields); }
void EventLog::error(const char *event, std::initializer_list<Field> fields) { write(Level::Error, event, fields); }

} // namespace vorna::service
