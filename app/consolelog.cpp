#include "consolelog.h"

#include <harrow/harrow.h>

#include <QThread>

namespace {

QtMessageHandler g_next = nullptr;

bool isQmlConsoleLine(QtMsgType type, const QMessageLogContext &context)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        return false;
    const char *category = context.category;
    return category && (qstrcmp(category, "qml") == 0 || qstrcmp(category, "js") == 0);
}

void routeMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    HarrowLogger *logger = LogInstance();
    if (logger && isQmlConsoleLine(type, context)) {
        logger->write(type == QtInfoMsg ? HarrowLogger::Info : HarrowLogger::Debug, message,
                      quintptr(QThread::currentThreadId()), nullptr);
        return;
    }
    g_next(type, context, message);
}

} // namespace

void routeQmlConsoleToLog()
{
    if (!g_next)
        g_next = qInstallMessageHandler(routeMessage);
}
