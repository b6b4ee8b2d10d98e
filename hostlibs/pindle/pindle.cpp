#include "pindle.h"

#include <QCoreApplication>
#include <QSettings>
#include <QStringList>
#include <QVariant>

#include <vector>

namespace {

const char kLogConsole[] = "log/console";
const char kServiceTls[] = "service/tls";
const char kServiceCaFile[] = "service/caFile";
const char kServiceTlsServerName[] = "service/tlsServerName";
const char kServiceConnectTimeoutMs[] = "service/connectTimeoutMs";
const char kServiceCallTimeoutMs[] = "service/callTimeoutMs";
const char kServiceKeepaliveMs[] = "service/keepaliveMs";
const char kCachePicturesMB[] = "cache/picturesMB";

// The logger thread reads the instance on every record, so the pointer is atomic and a store
// that SettingsIniOpenAt() replaces is retired rather than freed: a reader may still hold it.
std::atomic<Settings *> g_instance{nullptr};
std::vector<std::unique_ptr<Settings>> g_stores;

// Accepts what QSettings writes for a bool and the usual hand-written spellings; anything
// else is a typo, and a typo must not silently switch an option on.
bool parseBool(const QVariant &value, bool *ok)
{
    if (value.type() == QVariant::Bool) {
        *ok = true;
        return value.toBool();
    }
    const QString text = value.toString().trimmed().toLower();
    *ok = true;
    if (text == QLatin1String("true") || text == QLatin1String("1"))
        return true;
    if (text == QLatin1String("false") || text == QLatin1String("0"))
        return false;
    *ok = false;
    return false;
}

bool openStore(const QString &filePath)
{
    g_stores.push_back(std::make_unique<Settings>(filePath));
    Settings *store = g_stores.back().get();
    g_instance.store(store);
    if (store->isWritable())
        return true;
    // Start-up does not look at the result, so say it here, once per store.
    qWarning("Pindle cannot write the settings file \"%s\". Changes last only until the program "
             "ends; make the file and its folder writable, then restart the program.",
             qUtf8Printable(filePath));
    return false;
}

} // namespace

Settings::Settings(const QString &filePath)
    : m_store(std::make_unique<QSettings>(filePath, QSettings::IniFormat))
{
    m_logConsole.store(boolValue(kLogConsole, false));
}

Settings::~Settings() = default;

QString Settings::fileName() const
{
    return m_store->fileName();
}

bool Settings::isWritable() const
{
    return m_store->isWritable() && m_store->status() != QSettings::AccessError;
}

bool Settings::valueLogConsole() const
{
    return m_logConsole.load();
}

void Settings::setValueLogConsole(bool on)
{
    m_logConsole.store(on);
    setValue(kLogConsole, on);
}

bool Settings::serviceTls() const
{
    return boolValue(kServiceTls, false);
}

void Settings::setServiceTls(bool on)
{
    setValue(kServiceTls, on);
}

QString Settings::serviceCaFile() const
{
    return stringValue(kServiceCaFile);
}

void Settings::setServiceCaFile(const QString &path)
{
    setValue(kServiceCaFile, path);
}

QString Settings::serviceTlsServerName() const
{
    return stringValue(kServiceTlsServerName);
}

void Settings::setServiceTlsServerName(const QString &name)
{
    setValue(kServiceTlsServerName, name);
}

int Settings::serviceConnectTimeoutMs() const
{
    return intValue(kServiceConnectTimeoutMs, 5000, 100, 600000);
}

void Settings::setServiceConnectTimeoutMs(int ms)
{
    setValue(kServiceConnectTimeoutMs, ms);
}

int Settings::serviceCallTimeoutMs() const
{
    return intValue(kServiceCallTimeoutMs, 30000, 100, 3600000);
}

void Settings::setServiceCallTimeoutMs(int ms)
{
    setValue(kServiceCallTimeoutMs, ms);
}

int Settings::serviceKeepaliveMs() const
{
    return intValue(kServiceKeepaliveMs, 20000, 1000, 3600000);
}

void Settings::setServiceKeepaliveMs(int ms)
{
    setValue(kServiceKeepaliveMs, ms);
}

int Settings::cachePicturesMB() const
{
    return intValue(kCachePicturesMB, 256, 0, 16384);
}

void Settings::setCachePicturesMB(int mb)
{
    setValue(kCachePicturesMB, mb);
}

void Settings::sync()
{
    m_store->sync();
}

int Settings::intValue(const char *key, int fallback, int minimum, int maximum) const
{
    bool ok = false;
    const int value = m_store->value(QLatin1String(key)).toString().trimmed().toInt(&ok);
    return ok && value >= minimum && value <= maximum ? value : fallback;
}

bool Settings::boolValue(const char *key, bool fallback) const
{
    const QVariant stored = m_store->value(QLatin1String(key));
    bool ok = false;
    const bool value = parseBool(stored, &ok);
    return ok ? value : fallback;
}

QString Settings::stringValue(const char *key) const
{
    // An unquoted comma in a hand-edited file makes QSettings read a list; keep it as text.
    const QVariant stored = m_store->value(QLatin1String(key));
    if (stored.type() == QVariant::StringList)
        return stored.toStringList().join(QLatin1String(", "));
    return stored.toString();
}

// Written through at once: the options change rarely, and a killed process must not lose them.
void Settings::setValue(const char *key, const QVariant &value)
{
    m_store->setValue(QLatin1String(key), value);
    m_store->sync();
}

bool SettingsIniOpen()
{
    if (Settings *open = g_instance.load())
        return open->isWritable();
    const QSettings standard(QSettings::IniFormat, QSettings::UserScope,
                             QCoreApplication::organizationName(),
                             QCoreApplication::applicationName());
    return openStore(standard.fileName());
}

Settings *SettingsIniInstance()
{
    return g_instance.load();
}

bool SettingsIniOpenAt(const QString &filePath)
{
    return openStore(filePath);
}
