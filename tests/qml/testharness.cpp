#include "testharness.h"

#include "passwordvault.h"

#include <QBuffer>
#include <QColor>
#include <QImage>
#include <QMutex>
#include <QMutexLocker>
#include <QFile>
#include <QSettings>
#include <QTimer>
#include <QXmlStreamReader>

namespace {

struct SecretStandInState
{
    bool available = true;
    QVariant value; // invalid: nothing stored
};

SecretStandInState &secretState()
{
    static SecretStandInState state;
    return state;
}

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
    secretState() = {};
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

namespace {

class SecretStandIn final : public SecretBackend
{
public:
    void read(const QString &, const Callback &done) override
    {
        answerLater(done, [](Answer *answer) {
            answer->found = secretState().value.isValid();
            answer->value = secretState().value.toString();
        });
    }
    void write(const QString &, const QString &value, const Callback &done) override
    {
        answerLater(done, [value](Answer *) { secretState().value = value; });
    }
    void remove(const QString &, const Callback &done) override
    {
        answerLater(done, [](Answer *) { secretState().value = QVariant(); });
    }

private:
    static void answerLater(const Callback &done, const std::function<void(Answer *)> &work)
    {
        QTimer::singleShot(0, [done, work] {
            Answer answer;
            if (secretState().available)
                work(&answer);
            else
                answer = {true, false, QString(), QStringLiteral("no secret store in this test")};
            done(answer);
        });
    }
};

} // namespace

void TestHarness::useSecretStandIn()
{
    PasswordVault::setBackendFactory([] { return std::make_unique<SecretStandIn>(); });
}

QVariant TestHarness::storedSecret() const
{
    return secretState().value;
}

void TestHarness::setStoredSecret(const QVariant &value)
{
    secretState().value = value;
}

void TestHarness::setSecretStoreAvailable(bool available)
{
    secretState().available = available;
}
