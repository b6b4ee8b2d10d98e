#include "testharness.h"

#include <QBuffer>
#include <QColor>
#include <QImage>
#include <QMutex>
#include <QMutexLocker>
#include <QFile>
#include <QSettings>
#include <QXmlStreamReader>

namespace {

// The message handler is process-wide; so is what it captures.
struct Capture
{
    QMutex mutex;
    QStringList lines;
    QtMessageHandler next = nullptr;
    bool installed = false;
};

Capture &capture()
{
    static Capture instance;
    return instance;
}

void captureMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    Capture &c = capture();
    QtMessageHandler next;
    {
        QMutexLocker lock(&c.mutex);
        c.lines << message;
        next = c.next;
    }
    if (next)
        next(type, context, message);
}

// Qt Test installs its own handler when it starts logging, after the harness exists; ours
// goes in front of whatever handler is current when capturing starts.
void installCapture()
{
    Capture &c = capture();
    if (c.installed)
        return;
    c.installed = true;
    c.next = qInstallMessageHandler(captureMessage);
}

} // namespace

TestHarness::TestHarness(QObject *parent)
    : QObject(parent)
{
}

TestHarness::~TestHarness()
{
    Capture &c = capture();
    if (c.installed) {
        qInstallMessageHandler(c.next);
        c.installed = false;
    }
}

void TestHarness::clearSettings()
{
    QSettings settings;
    settings.clear();
    settings.sync();
}

bool TestHarness::settingsContains(const QString &key) const
{
    return QSettings().contains(key);
}

QVariant TestHarness::settingsValue(const QString &key) const
{
    return QSettings().value(key);
}

void TestHarness::setSettingsValue(const QString &key, const QVariant &value)
{
    QSettings settings;
    settings.setValue(key, value);
    settings.sync();
}

void TestHarness::clearMessages()
{
    installCapture();
    Capture &c = capture();
    QMutexLocker lock(&c.mutex);
    c.lines.clear();
}

QStringList TestHarness::messages() const
{
    Capture &c = capture();
    QMutexLocker lock(&c.mutex);
    return c.lines;
}

QByteArray TestHarness::picture(const QString &color, int size) const
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(QColor(color));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

QStringList TestHarness::translatedSources() const
{
    QFile file(QStringLiteral(VORNA_QML_DIR "/serbian.ts"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList sources;
    QString source;
    QXmlStreamReader xml(&file);
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("source")) {
            source = xml.readElementText();
        } else if (xml.name() == QLatin1String("translation")) {
            const QString translation = xml.readElementText();
            if (!translation.isEmpty() && translation != source && !sources.contains(source))
                sources << source;
        }
    }
    return sources;
}
