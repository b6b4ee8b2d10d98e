#include "logrecord.h"

#include <harrow/harrow.h>

#include <QFile>
#include <QObject>
#include <QTextStream>

namespace LogRecord {

QString text(const QString &message, const char *function, const char *file, int line)
{
    QString record;
    QTextStream stream(&record);
    stream << message << " [" << QString::fromUtf8(function) << " : " << QFile::decodeName(file)
           << " : " << line << "]";
    stream.flush();
    return record;
}

void connectToLogger(QObject *sender)
{
    // The logger lives in its own thread, so records travel queued: the type must be known.
    qRegisterMetaType<quintptr>("quintptr");
    QObject *logger = LogInstance();
    if (!logger)
        return;
    QObject::connect(sender, SIGNAL(sigLogWrite(int,QString,quintptr,void*)),
                     logger, SLOT(write(int,QString,quintptr,void*)));
}

} // namespace LogRecord
