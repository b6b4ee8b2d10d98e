#pragma once
// What the presence screen's list view shows: the presence model narrowed to one presence
// status and to the employees whose id, last name, first name or department contain the
// search text. QML knows this class as the type ModelPresence (module rs.quorvane 1.0).
//
// The search text is upper-cased with QString::toUpper, as is each field, and then looked
// for case-sensitively; each field is searched on its own. Rows keep delivery order.

#include "modelpresenceitem.h"
#include "presencesearchindex.h"

#include <QPointer>
#include <QSortFilterProxyModel>
#include <QStringMatcher>
#include <QVariantList>
#include <QVector>

class ModelPresence;

class ModelPresenceFilter : public QSortFilterProxyModel
{
    Q_OBJECT

public:
    // Creates its own ModelPresence (whose list becomes the current presence list).
    ModelPresenceFilter();

    ModelPresence *presenceModel() const;

    // The presence statuses of this filter's list in the order they first occur, each with its
    // number of rows: [{"id": status, "count": rows}, ...]. The presence screen reads them once
    // an answer has ended: a script handler per row, only to count, cost half the GUI thread's
    // time of an answer in handing each row's ten arguments to the script engine.
    Q_INVOKABLE QVariantList statusCounts() const;

signals:
    void sigLogWrite(int level, QString msg, quintptr threadId, void *);

public slots:
    // An empty presence shows every status; an empty text shows every name. Stored as given.
    void setFilter(const QString &presence, const QString &text);

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;

private slots:
    // While the service client streams a presence answer, rows enter the source one by one;
    // Qt 5's proxy rebuilds its whole mapping for each row it accepts, which makes a large
    // answer quadratic. So no row is accepted until the answer has ended, and then every row
    // is tested in one pass.
    void holdAnswer();
    void releaseAnswer();

private:
    // Brings the index up to `lastRow` of the list's records.
    void indexUpTo(const QVector<ModelPresenceItem> &items, int lastRow) const;
    void forgetIndex();
    bool nameMatches(int row, const ModelPresenceItem &item) const;

    QString m_presenceFilter;
    QString m_nameFilter;
    QString m_upperNameFilter;
    QStringMatcher m_nameMatcher;
    QPointer<ModelPresence> m_source;
    // Mirrors the source list, which only ever appends or empties: row r holds the same
    // record until the next reset, which empties the index too.
    mutable PresenceSearchIndex m_index;
    mutable int m_presenceNumber = -1;
    bool m_holdingAnswer = false;
};
