#pragma once
// Records every signal of an object in the order of emission, with its arguments and the
// thread it was delivered on. QSignalSpy keeps one list per signal; the client's guarantees
// are about the order across signals (Begin, rows, End, then disconnected).

#include <QObject>
#include <QStringList>
#include <QThread>
#include <QVariantList>
#include <QVector>

class SignalRecorder : public QObject
{
public:
    struct Entry
    {
        QByteArray name;
        QVariantList args;
        bool onRecorderThread = false;
    };

    explicit SignalRecorder(QObject *source);

    const QVector<Entry> &entries() const { return m_entries; }
    void clear() { m_entries.clear(); }
    // Signal names only, e.g. {"dbPresenceResponseBegin", "dbPresenceResponse", ...}.
    QList<QByteArray> names() const;
    // Names with consecutive repeats folded: "dbPresenceResponse" x 450 becomes one "dbPresenceResponse*450".
    QStringList shape() const;
    int count(const QByteArray &name) const;
    // The entries of one signal, in order.
    QVector<Entry> of(const QByteArray &name) const;
    // Runs the event loop until `name` was seen `times` times or `timeoutMs` passed.
    bool waitFor(const QByteArray &name, int times = 1, int timeoutMs = 10000);
    // Runs the event loop for `ms`, so late or duplicate signals would show up.
    static void settle(int ms);

    int qt_metacall(QMetaObject::Call call, int id, void **args) override;

private:
    QObject *m_source;
    QVector<int> m_signalIndexes;
    QVector<Entry> m_entries;
};
