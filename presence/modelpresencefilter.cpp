#include "modelpresencefilter.h"

#include "logrecord.h"
#include "modelpresence.h"
#include "modelpresencelist.h"
#include "processrefs.h"

namespace {

bool anyUpperFieldContains(const ModelPresenceItem &item, const QString &upperText)
{
    for (const QString *field : {&item.idEmp, &item.lastName, &item.firstName, &item.department}) {
        if (field->toUpper().contains(upperText, Qt::CaseSensitive))
            return true;
    }
    return false;
}

} // namespace

ModelPresenceFilter::ModelPresenceFilter()
    : QSortFilterProxyModel(nullptr)
{
    LogRecord::connectToLogger(this);
    m_source = new ModelPresence(this);
    connect(m_source, &QAbstractItemModel::modelAboutToBeReset, this, [this] { forgetIndex(); });
    // Connected before the proxy's own handlers: a new row is indexed before it is tested.
    connect(m_source, &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex &, int, int last) {
        if (const ModelPresenceList *list = m_source->list())
            indexUpTo(list->items(), last);
    });
    setSourceModel(m_source);
    if (QObject *client = ProcessRefs::serviceClient()) {
        connect(client, SIGNAL(dbPresenceResponseBegin()), this, SLOT(holdAnswer()));
        connect(client, SIGNAL(dbPresenceResponseEnd()), this, SLOT(releaseAnswer()));
    }
}

void ModelPresenceFilter::holdAnswer()
{
    m_holdingAnswer = true;
}

void ModelPresenceFilter::releaseAnswer()
{
    if (!m_holdingAnswer)
        return;
    m_holdingAnswer = false;
    invalidateFilter();
}

ModelPresence *ModelPresenceFilter::presenceModel() const
{
    return m_source;
}

QVariantList ModelPresenceFilter::statusCounts() const
{
    const ModelPresenceList *list = m_source ? m_source->list() : nullptr;
    if (!list)
        return {};
    QHash<QString, int> entryOf;
    QVector<QPair<QString, int>> entries;
    for (const ModelPresenceItem &item : list->items()) {
        const auto found = entryOf.constFind(item.presence);
        if (found != entryOf.cend()) {
            ++entries[found.value()].second;
            continue;
        }
        entryOf.insert(item.presence, entries.size());
        entries.append({item.presence, 1});
    }
    QVariantList counts;
    counts.reserve(entries.size());
    for (const auto &[status, rows] : entries)
        counts.append(QVariantMap{{QStringLiteral("id"), status}, {QStringLiteral("count"), rows}});
    return counts;
}

void ModelPresenceFilter::setFilter(const QString &presence, const QString &text)
{
    const QString message = QStringLiteral("Filter: presence='") + presence
                            + QStringLiteral("', name='") + text + QStringLiteral("'");
    VORNA_LOG(this, message, "ModelPresenceFilter::setFilter");
    m_presenceFilter = presence;
    m_nameFilter = text;
    m_upperNameFilter = text.toUpper();
    m_nameMatcher.setPattern(m_upperNameFilter);
    m_presenceNumber = m_index.presenceNumber(presence);
    // A full reset on every call: the views rebuild and every row is tested anew.
    beginResetModel();
    endResetModel();
}

bool ModelPresenceFilter::filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const
{
    if (sourceParent.isValid() || !m_source || m_holdingAnswer)
        return false;
    // Our own source model's list: the current presence list may belong to a newer screen.
    const ModelPresenceList *list = m_source->list();
    if (!list)
        return false;
    const QVector<ModelPresenceItem> items = list->items();
    if (sourceRow < 0 || sourceRow >= items.size())
        return false;
    indexUpTo(items, sourceRow);
    if (!m_presenceFilter.isEmpty() && m_index.presenceNumberOf(sourceRow) != m_presenceNumber)
        return false;
    if (m_nameFilter.isEmpty())
        return true;
    return nameMatches(sourceRow, items.at(sourceRow));
}

void ModelPresenceFilter::indexUpTo(const QVector<ModelPresenceItem> &items, int lastRow) const
{
    for (int row = m_index.size(); row <= lastRow && row < items.size(); ++row)
        m_index.append(items.at(row));
}

void ModelPresenceFilter::forgetIndex()
{
    m_index.clear();
    m_presenceNumber = m_index.presenceNumber(m_presenceFilter);
}

bool ModelPresenceFilter::nameMatches(int row, const ModelPresenceItem &item) const
{
    // The index joins the fields with the separator: a text holding it could match across two.
    if (m_upperNameFilter.contains(PresenceSearchIndex::FieldSeparator))
        return anyUpperFieldContains(item, m_upperNameFilter);
    return m_index.upperFieldsContain(row, m_nameMatcher);
}
