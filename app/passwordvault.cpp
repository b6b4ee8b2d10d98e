#include "passwordvault.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QSettings>

#include <qt5keychain/keychain.h>

namespace {

Q_LOGGING_CATEGORY(lcVault, "vorna.passwordvault")

const QString PasswordKey = QStringLiteral("password");

// The desktop's secret store through QtKeychain; never its plain-text fallback.
class KeychainBackend final : public SecretBackend
{
public:
    void read(const QString &key, const Callback &done) override
    {
        auto *job = new QKeychain::ReadPasswordJob(service());
        job->setKey(key);
        run(job, [job, done](Answer answer) {
            answer.found = job->error() == QKeychain::NoError;
            answer.value = job->textData();
            done(answer);
        });
    }

    void write(const QString &key, const QString &value, const Callback &done) override
    {
        auto *job = new QKeychain::WritePasswordJob(service());
        job->setKey(key);
        job->setTextData(value);
        run(job, [done](const Answer &answer) { done(answer); });
    }

    void remove(const QString &key, const Callback &done) override
    {
        auto *job = new QKeychain::DeletePasswordJob(service());
        job->setKey(key);
        run(job, [done](const Answer &answer) { done(answer); });
    }

private:
    static QString service() { return QCoreApplication::applicationName(); }

    static void run(QKeychain::Job *job, const std::function<void(Answer)> &finish)
    {
        job->setAutoDelete(true);
        job->setInsecureFallback(false);
        QObject::connect(job, &QKeychain::Job::finished, [job, finish](QKeychain::Job *) {
            Answer answer;
            switch (job->error()) {
            case QKeychain::NoError:
            case QKeychain::EntryNotFound:
                break;
            default:
                answer.unavailable = true;
                answer.error = job->errorString();
            }
            finish(answer);
        });
        job->start();
    }
};

PasswordVault::BackendFactory &backendFactory()
{
    static PasswordVault::BackendFactory factory = [] { return std::make_unique<KeychainBackend>(); };
    return factory;
}

} // namespace

PasswordVault::PasswordVault(QObject *parent)
    : QObject(parent)
    , m_backend(backendFactory()())
{
}

PasswordVault::~PasswordVault() = default;

void PasswordVault::setBackendFactory(BackendFactory factory)
{
    backendFactory() = std::move(factory);
}

void PasswordVault::load()
{
    std::weak_ptr<int> alive = m_alive;
    m_backend->read(PasswordKey, [this, alive](const SecretBackend::Answer &answer) {
        if (alive.expired())
            return;
        noteAnswer(answer, "read");
        emit loaded(answer.found ? answer.value : QString());
    });
}

void PasswordVault::store(const QString &password)
{
    m_pending = Pending::Store;
    m_pendingValue = password;
    startNextWrite();
}

void PasswordVault::erase()
{
    m_pending = Pending::Erase;
    m_pendingValue.clear();
    startNextWrite();
}

QString PasswordVault::takeFromSettings(bool keep)
{
    QSettings settings;
    const QString plain = settings.value(PasswordKey).toString();
    if (!settings.contains(PasswordKey))
        return {};
    settings.remove(PasswordKey);
    settings.sync();
    if (plain.isEmpty())
        return {};
    qCInfo(lcVault) << "Moved the password out of the settings file" << (keep ? "into the secret store." : "and forgot it.");
    if (keep)
        store(plain);
    return keep ? plain : QString();
}

void PasswordVault::startNextWrite()
{
    if (m_writing || m_pending == Pending::Nothing)
        return;
    m_writing = true;
    const Pending what = m_pending;
    const QString value = m_pendingValue;
    m_pending = Pending::Nothing;
    m_pendingValue.clear();
    std::weak_ptr<int> alive = m_alive;
    auto done = [this, alive](const SecretBackend::Answer &answer) {
        if (!alive.expired())
            writeFinished(answer);
    };
    if (what == Pending::Store)
        m_backend->write(PasswordKey, value, done);
    else
        m_backend->remove(PasswordKey, done);
}

void PasswordVault::writeFinished(const SecretBackend::Answer &answer)
{
    m_writing = false;
    noteAnswer(answer, "write");
    startNextWrite();
}

void PasswordVault::noteAnswer(const SecretBackend::Answer &answer, const char *what)
{
    if (answer.unavailable == !m_available)
        return;
    m_available = !answer.unavailable;
    if (answer.unavailable)
        qCWarning(lcVault).noquote() << "No secret store answered a" << what << "(" + answer.error + ");"
                                     << "the password is kept for this session only.";
    emit availableChanged();
}
