#pragma once
// The records of the latest presence answer, in delivery order. Every change is announced
// before and after it happens, so a model can wrap it in Qt's begin/end notifications.

#include "modelpresenceitem.h"

#include <QObject>
#include <QVector>

class ModelPresenceList : public QObject
{
    Q_OBJECT

public:
    explicit ModelPresenceList(QObject *parent = nullptr);

    // A shared copy of the records (one reference count); row r of the model is record r.
    QVector<ModelPresenceItem> items() const;

signals:
    void preItemAppend();
    void postItemAppend();
    void preItemDeleteAll();
    void postItemDeleteAll();

public slots:
    void appendItem(const ModelPresenceItem &item);
    void deleteAllItems();

private:
    QVector<ModelPresenceItem> m_items;
};
