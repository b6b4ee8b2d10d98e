#pragma once
// Keeps the login password in the desktop's secret store (QtKeychain: the Secret Service or
// KWallet on Linux, the Keychain on macOS, the Credential Store on Windows), never in the
// settings file. QML knows it as the type PasswordVault (module rs.quorvane 1.0).
//
// Every store answers asynchronously. Writes keep their order: while one is under way only the
// newest value waits, so the last change always wins. When no store answers (a headless
// machine, a phone without one) `available` turns false, and the password lives only as long
// as the login page's field.

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

// One secret store. Each call answers exactly once, on the thread that made it, through its
// callback; `unavailable` means the store itself did not answer (as opposed to a missing entry).
class SecretBackend
{
public:
    struct Answer
    {
        bool unavailable = false;
        bool found = false;
        QString value;
        QString error; // what the store said when it failed
    };
    using Callback = std::function<void(const Answer &)>;

    virtual ~SecretBackend() = default;
    virtual void read(const QString &key, const Callback &done) = 0;
    virtual void write(const QString &key, const QString &value, const Callback &done) = 0;
    virtual void remove(const QString &key, const Callback &done) = 0;
};

class PasswordVault : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool available READ available NOTIFY availableChanged)

public:
    using BackendFactory = std::function<std::unique_ptr<SecretBackend>()>;

    explicit PasswordVault(QObject *parent = nullptr);
    ~PasswordVault() override;

    bool available() const { return m_available; }

    // Where every vault made from now on keeps its secrets; the desktop's store by default.
    // Tests put a stand-in here.
    static void setBackendFactory(BackendFactory factory);

public slots:
    // Reads the stored password; `loaded` follows, with an empty text when there is none.
    void load();
    void store(const QString &password);
    void erase();
    // Moves a password left in plain text under the settings file's key `password` into the
    // store (when `keep` is true) and removes it from the file either way. Returns the moved
    // value, empty when there was none.
    QString takeFromSettings(bool keep);

signals:
    void loaded(const QString &password);
    void availableChanged();

private:
    enum class Pending { Nothing, Store, Erase };

    void startNextWrite();
    void writeFinished(const SecretBackend::Answer &answer);
    void noteAnswer(const SecretBackend::Answer &answer, const char *what);

    std::unique_ptr<SecretBackend> m_backend;
    // A token that the callbacks hold weakly: answers arriving after the vault is gone are dropped.
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
    bool m_available = true;
    bool m_writing = false;
    Pending m_pending = Pending::Nothing;
    QString m_pendingValue;
};
