#pragma once
// Pindle: the shared INI settings store of Quorvane's programs.
//
// One store per process, opened once at start-up after the application object has its
// organisation and application names. It lives in the standard configuration location,
// as <organisation>/<application>.ini, in QSettings' INI format.

#include <QString>
#include <QtGlobal>

#include <atomic>
#include <memory>

class QSettings;
class QVariant;

#if defined(PINDLE_LIBRARY)
#  define PINDLE_EXPORT Q_DECL_EXPORT
#else
#  define PINDLE_EXPORT Q_DECL_IMPORT
#endif

class PINDLE_EXPORT Settings
{
public:
    // Opens (or creates) the INI file at `filePath`. Tests pass a path of their own.
    explicit Settings(const QString &filePath);
    ~Settings();
    Settings(const Settings &) = delete;
    Settings &operator=(const Settings &) = delete;

    QString fileName() const;
    // False when the file cannot be read or written; the store then keeps values in memory.
    bool isWritable() const;

    // Whether the logger copies its records to the console. Key "log/console", default false.
    // Safe to read from any thread.
    bool valueLogConsole() const;
    void setValueLogConsole(bool on);

    // Connection options of the service client (section "service"). A value in the file that
    // is malformed (a bool other than true/false/1/0, a timeout that is not a whole number)
    // or outside the range given reads as the default.
    // "service/tls": use TLS towards the service. Default false.
    bool serviceTls() const;
    void setServiceTls(bool on);
    // "service/caFile": PEM file with the CA or the service's own certificate to trust;
    // empty means the system's trust store. Default empty.
    QString serviceCaFile() const;
    void setServiceCaFile(const QString &path);
    // "service/tlsServerName": overrides the name checked against the certificate. Default empty.
    QString serviceTlsServerName() const;
    void setServiceTlsServerName(const QString &name);
    // "service/connectTimeoutMs": how long a connect attempt may take. Default 5000, 100..600000.
    int serviceConnectTimeoutMs() const;
    void setServiceConnectTimeoutMs(int ms);
    // "service/callTimeoutMs": deadline of one request, streams included. Default 30000, 100..3600000.
    int serviceCallTimeoutMs() const;
    void setServiceCallTimeoutMs(int ms);
    // "service/keepaliveMs": interval of transport keep-alive pings. Default 20000, 1000..3600000.
    int serviceKeepaliveMs() const;
    void setServiceKeepaliveMs(int ms);

    // "cache/picturesMB": room for the employees' pictures that the service client keeps in the
    // user's cache folder between runs, in MB; 0 keeps none there. Default 256, 0..16384.
    int cachePicturesMB() const;
    void setCachePicturesMB(int mb);

    // Writes pending changes to disk now. The setters already do; this is for callers that
    // changed the file behind the store's back.
    void sync();

private:
    int intValue(const char *key, int fallback, int minimum, int maximum) const;
    bool boolValue(const char *key, bool fallback) const;
    QString stringValue(const char *key) const;
    void setValue(const char *key, const QVariant &value);

    std::unique_ptr<QSettings> m_store;
    // Read by the logger thread on every record; kept apart from QSettings, which is not
    // meant to be shared across threads.
    std::atomic<bool> m_logConsole{false};
};

// Opens the process's store at the standard location. Returns false, with one warning, when the
// file cannot be written (the store then works in memory). Calling it again keeps the store already open.
PINDLE_EXPORT bool SettingsIniOpen();
// The store opened by SettingsIniOpen(), or nullptr before that.
PINDLE_EXPORT Settings *SettingsIniInstance();
// For tests: opens the process's store at a given path, replacing any open store.
PINDLE_EXPORT bool SettingsIniOpenAt(const QString &filePath);
