#pragma once
// What the presence filter tests, kept per row in compact, contiguous form, so a filter pass
// over a large list reads two arrays front to back instead of every record's scattered texts.
//
// For row r it holds the presence text's number (equal numbers mean equal texts, exactly)
// and the four searched fields upper-cased with QString::toUpper, joined by a separator
// that upper-casing keeps. Rows are added in list order and dropped all at once, as the list
// itself changes.

#include "modelpresenceitem.h"

#include <QHash>
#include <QString>
#include <QStringMatcher>
#include <QVector>

class PresenceSearchIndex
{
public:
    // Never occurs in text (a noncharacter) and upper-casing leaves it alone.
    static constexpr QChar FieldSeparator = QChar(0xFFFF);

    int size() const;
    void append(const ModelPresenceItem &item);
    void clear();

    // The number of a presence text; a text no row has yet gets a number of its own.
    int presenceNumber(const QString &presence);
    int presenceNumberOf(int row) const;

    // Whether one of the row's searched fields contains the text the matcher looks for
    // (already upper-cased). The text must not hold the separator.
    bool upperFieldsContain(int row, const QStringMatcher &upperText) const;

private:
    QHash<QString, int> m_presenceNumbers;
    QVector<int> m_rowPresence;
    // All rows' joined fields, one after the other; row r starts at m_keyStart[r].
    QString m_keys;
    QVector<int> m_keyStart;
};
