#pragma once
// Tells QML which kind of platform the panel was built for: 1 on Android, 0 elsewhere.
// The main window then behaves as a phone application on Android (no Exit item, the
// close request steps back).

#include <QObject>

class Platform : public QObject
{
    Q_OBJECT
    // Fixed at build time; the notify signal exists for QML bindings and is never emitted.
    Q_PROPERTY(int type READ type NOTIFY typeChanged)

public:
    explicit Platform(QObject *parent = nullptr);

    int type() const;

signals:
    void typeChanged();
};
