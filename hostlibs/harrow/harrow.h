#pragma once
// Harrow: the logger of Quorvane's programs.
//
// One logger per process. It lives in a thread of its own, so records sent to its `write`
// slot through automatic connections reach it queued. It writes each record with a timestamp,
// level and thread id to a size-rotated log file in the standard application-data location,
// and to the console while the Pindle store's log-console value is on. A log folder that
// cannot be written, or a full disk, costs one warning; the program carries on.

#include <QObject>
#include <QString>

#include <functional>

#if defined(HARROW_LIBRARY)
#  define HARROW_EXPORT Q_DECL_EXPORT
#else
#  define HARROW_EXPORT Q_DECL_IMPORT
#endif

class HarrowLoggerPrivate;

class HARROW_EXPORT HarrowLogger : public QObject
{
    Q_OBJECT
public:
    // Levels as the programs use them; 4 is what the panel writes.
    enum Level { Critical = 1, Error = 2, Warning = 3, Info = 4, Debug = 5 };

    ~HarrowLogger() override;

    // The file records go to; empty while no file could be opened.
    QString filePath() const;
    // Flushes what the logger thread has received so far. Blocks until done; for tests and exit.
    void flush();

public slots:
    void write(int level, QString msg, quintptr threadId, void *sender);

private:
    friend class HarrowInitializer;
    friend HARROW_EXPORT int LogOpen(int);
    friend HARROW_EXPORT int LogOpenAt(const QString &, qint64, int);
    explicit HarrowLogger(QObject *parent = nullptr);
    // Runs `work` in the logger thread and waits for it (at once when already there).
    void runInLoggerThread(const std::function<void()> &work) const;
    HarrowLoggerPrivate *d;
};

class HARROW_EXPORT HarrowInitializer
{
public:
    // Creates the logger and its thread. Safe to call more than once. Needs the application
    // object; without one it warns and creates nothing.
    static void init();
    // Flushes, stops and joins the logger thread and deletes the logger; LogInstance() is then
    // nullptr until the next init(). Runs by itself when the application object is destroyed.
    static void cleanup();
};

// Opens the log file at the standard location, <AppDataLocation>/log/<app name, lower case>.log,
// rotated at 5 MB and kept to 5 files. `mode` 0 is the normal log; other values are reserved
// and open the normal log too. Calls HarrowInitializer::init() if nobody did.
// Returns 0 when the file is open, -1 when records go to the console only.
HARROW_EXPORT int LogOpen(int mode);
// For tests and tools: opens the log at `filePath` with the given rotation limits, replacing
// any file open before. `maxFiles` counts every file, the one being written included; a limit
// that is not positive takes the default.
HARROW_EXPORT int LogOpenAt(const QString &filePath, qint64 maxFileBytes, int maxFiles);
// The one logger; nullptr before HarrowInitializer::init().
HARROW_EXPORT HarrowLogger *LogInstance();
