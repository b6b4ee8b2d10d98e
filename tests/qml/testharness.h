#pragma once
// What the QML tests need beyond the panel's own context properties: a look into the
// settings store the QML Settings elements write to, the console lines the pages write,
// and pictures to hand to the scripted service.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>

class TestHarness : public QObject
{
    Q_OBJECT

public:
    explicit TestHarness(QObject *parent = nullptr);
    ~TestHarness() override;

    // The application's settings store (the one the QML Settings elements use), top level.
    // Clearing it also empties the secret store stand-in and makes it answer again.
    Q_INVOKABLE void clearSettings();
    Q_INVOKABLE bool settingsContains(const QString &key) const;
    // undefined in QML when the key is absent.
    Q_INVOKABLE QVariant settingsValue(const QString &key) const;
    Q_INVOKABLE void setSettingsValue(const QString &key, const QVariant &value);

    // Console lines (console.log and friends) written since the last clearMessages(), oldest
    // first. Capturing starts with the first clearMessages() call; the lines still reach the
    // test log as well.
    Q_INVOKABLE void clearMessages();
    Q_INVOKABLE QStringList messages() const;

    // A PNG picture of `size` by `size` pixels filled with `color` (any QColor name).
    Q_INVOKABLE QByteArray picture(const QString &color, int size) const;

    // The secret store the panel's PasswordVault sees here: an in-memory stand-in that answers
    // from the event loop, as a real one does. undefined in QML when nothing is stored.
    Q_INVOKABLE QVariant storedSecret() const;
    Q_INVOKABLE void setStoredSecret(const QVariant &value);
    // False: every call fails as on a machine without a secret store.
    Q_INVOKABLE void setSecretStoreAvailable(bool available);
    // Installs the stand-in for every vault made from now on; called once at start-up.
    static void useSecretStandIn();

    // The English source texts that qml/serbian.ts translates into something else.
    Q_INVOKABLE QStringList translatedSources() const;
};
