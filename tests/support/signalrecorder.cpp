#include "support/signalrecorder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMetaMethod>

SignalRecorder::SignalRecorder(QObject *source)
    : m_source(source)
{
    const QMetaObject *meta = source->metaObject();
    // Only the class's own signals, not QObject's destroyed/objectNameChanged.
    for (int i = QObject::staticMetaObject.methodCount(); i < meta->methodCount(); ++i) {
        if (meta->method(i).methodType() != QMetaMethod::Signal)
            continue;
        // Each signal goes to a slot id of its own past our meta-object's methods; qt_metacall
        // below maps the id back to the signal.
        const int slotId = metaObject()->methodOffset() + metaObject()->methodCount() + m_signalIndexes.size();
        QMetaObject::connect(source, i, this, slotId, Qt::DirectConnection);
        m_signalIndexes.append(i);
    }
}

int SignalRecorder::qt_metacall(QMetaObject::Call call, int id, void **args)
{
    id = QObject::qt_metacall(call, id, args);
    if (id < 0 || call != QMetaObject::InvokeMetaMethod)
        return id;
    if (id < m_signalIndexes.size()) {
        const QMetaMethod method = m_source->metaObject()->method(m_signalIndexes.at(id));
        Entry entry;
        entry.name = method.name();
        for (int p = 0; p < method.parameterCount(); ++p)
            entry.args.append(QVariant(method.parameterType(p), args[p + 1]));
        entry.onRecorderThread = QThread::currentThread() == thread();
        m_entries.append(entry);
    }
    return -1;
}

QList<QByteArray> SignalRecorder::names() const
{
    QList<QByteArray> out;
    for (const Entry &entry : m_entries)
        out.append(entry.name);
    return out;
}

QStringList SignalRecorder::shape() const
{
    QStringList out;
    QByteArray last;
    int run = 0;
    const auto flush = [&] {
        if (run > 0)
            out.append(run == 1 ? QString::fromLatin1(last) : QStringLiteral("%1*%2").arg(QString::fromLatin1(last)).arg(run));
    };
    for (const Entry &entry : m_entries) {
        if (entry.name == last) {
            ++run;
            continue;
        }
        flush();
        last = entry.name;
        run = 1;
    }
    flush();
    return out;
}

int SignalRecorder::count(const QByteArray &name) const
{
    return of(name).size();
}

QVector<SignalRecorder::Entry> SignalRecorder::of(const QByteArray &name) const
{
    QVector<Entry> out;
    for (const Entry &entry : m_entries) {
        if (entry.name == name)
            out.append(entry);
    }
    return out;
}

bool SignalRecorder::waitFor(const QByteArray &name, int times, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (count(name) < times && clock.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return count(name) >= times;
}

void SignalRecorder::settle(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}
