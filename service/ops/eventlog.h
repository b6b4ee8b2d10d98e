#pragma once
// One line per event on stderr, in logfmt, so journald keeps it and grep finds it:
//   vorna-service: level=info event=login user=manager peer=ipv4:127.0.0.1:53122 result=ok
// When stderr is not journald's (which stamps lines itself), each line starts with the UTC
// time in ISO 8601 with milliseconds: 2026-12-07T10:15:30.123Z vorna-service: level=info ...

#include <QByteArray>
#include <QString>

#include <initializer_list>

namespace vorna::service {

class EventLog
{
public:
    enum class Level { Debug, Info, Warning, Error };

    struct Field
    {
        const char *key;
        QString value;
    };

    // Lines below the threshold are dropped. The default is Info.
    static void setThreshold(Level level);
    static bool enabled(Level level);
    static bool parseLevel(const QString &text, Level *level);

    static void write(Level level, const char *event, std::initializer_list<Field> fields = {});
    static void debug(const char *event, std::initializer_list<Field> fields = {});
    static void info(const char *event, std::initializer_list<Field> fields = {});
    static void warning(const char *event, std::initializer_list<Field> fields = {});
    static void error(const char *event, std::initializer_list<Field> fields = {});

    // Told of every event, whatever the threshold, before it is written (the metrics count logins).
    using Observer = void (*)(const char *event, std::initializer_list<Field> fields);
    static void setObserver(Observer observer);

    // True when stderr is the journal stream systemd gave us (JOURNAL_STREAM names its device
    // and inode), so lines need no time of their own.
    static bool stderrIsJournal();

    // The line as written, without the time stamp and the trailing newline.
    static QByteArray format(Level level, const char *event, std::initializer_list<Field> fields);
};

} // namespace vorna::service
