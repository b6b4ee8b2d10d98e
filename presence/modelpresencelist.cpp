#include "modelpresencelist.h"

ModelPresenceList::ModelPresenceList(QObject *parent)
    : QObject(parent)
{
}

QVector<ModelPresenceItem> ModelPresenceList::items() const
{
    return m_items;
}

void ModelPresenceList::appendItem(const ModelPresenceItem &item)
{
    emit preItemAppend();
    m_items.append(item);
    emit postItemAppend();
}

void ModelPresenceList::deleteAllItems()
{
    emit preItemDeleteAll();
    // clear() would free the buffer; the next answer usually has as many rows again.
    m_items.resize(0);
    emit postItemDeleteAll();
}
