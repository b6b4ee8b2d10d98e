#pragma once
// The platform descriptor as the QML tests see it: the same `type`, but writable, so a test
// can play Android (1) on a desktop build. Set it before creating the window: the main
// window reads it when its menu is completed.

#include <QObject>

class TestPlatform : public QObject
{
    Q_OBJECT
    Q_PROPERTY(int type READ type WRITE setType NOTIFY typeChanged)

public:
    using QObject::QObject;

    int type() const { return m_type; }
    void setType(int type)
    {
        if (type == m_type)
            return;
        m_type = type;
        emit typeChanged();
    }

signals:
    void typeChanged();

private:
    int m_type = 0;
};
