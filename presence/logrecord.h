#pragma once
// Log records of the panel's native classes. Each class that logs declares the signal
//   sigLogWrite(int level, QString msg, quintptr threadId, void*)
// and connects it to the logger's write slot. A record reads
//   "<message> [<function> : <source file> : <line>]".

#include <QString>
#include <QThread>

class QObject;

namespace LogRecord {

// Every record the panel writes has this level.
constexpr int Level = 4;

QString text(const QString &message, const char *function, const char *file, int line);

// Connects sender's sigLogWrite to the logger's write slot, by signature. Does nothing
// while no logger exists (tests that do not start the logging library).
void connectToLogger(QObject *sender);

// Emits one record from `sender`, from the calling thread.
template<typename Sender>
void write(Sender *sender, const QString &message, const char *function, const char *file, int line)
{
    emit sender->sigLogWrite(Level, text(message, function, file, line),
                             reinterpret_cast<quintptr>(QThread::currentThread()), sender);
}

} // namespace LogRecord

// The file is __FILE__, the path of the source file as the build names it.
#define VORNA_LOG(sender, message, function) \
    LogRecord::write(sender, message, function, __FILE__, __LINE__)
