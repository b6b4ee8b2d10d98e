#pragma once
// Runs the built vorna-service executable to its end, as an operator's shell would: the tests
// of its commands check exit codes and what it prints.

#include <QProcess>
#include <QString>
#include <QStringList>

struct CommandRun
{
    int exitCode = -1; // -1 when it crashed or did not end within two minutes
    QString out;
    QString err;
};

inline CommandRun runServiceBinary(const QStringList &arguments, const QByteArray &input = QByteArray())
{
    QProcess process;
    process.start(QStringLiteral(VORNA_SERVICE_BINARY), arguments);
    if (!process.waitForStarted(10000))
        return {};
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished(5000);
        return {};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
}
