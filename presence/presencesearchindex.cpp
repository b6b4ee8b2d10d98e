#include "presencesearchindex.h"

constexpr QChar PresenceSearchIndex::FieldSeparator;

int PresenceSearchIndex::size() const
{
    return m_rowPresence.size();
}

void PresenceSearchIndex::append(const ModelPresenceItem &item)
{
    m_rowPresence.append(presenceNumber(item.presence));
    m_keyStart.append(m_keys.size());
    // Upper-casing maps each character on its own, so joining first gives the same fields.
    m_keys += QString(item.idEmp + FieldSeparator + item.lastName + FieldSeparator + item.firstName
                      + FieldSeparator + item.department)
                  .toUpper();
}

void PresenceSearchIndex::clear()
{
    m_presenceNumbers.clear();
    m_rowPresence.resize(0);
    m_keys.resize(0);
    m_keyStart.resize(0);
}

int PresenceSearchIndex::presenceNumber(const QString &presence)
{
    const auto found = m_presenceNumbers.constFind(presence);
    if (found != m_presenceNumbers.constEnd())
        return found.value();
    const int number = m_presenceNumbers.size();
    m_presenceNumbers.insert(presence, number);
    return number;
}

int PresenceSearchIndex::presenceNumberOf(int row) const
{
    return m_rowPresence.at(row);
}

bool PresenceSearchIndex::upperFieldsContain(int row, const QStringMatcher &upperText) const
{
    const int start = m_keyStart.at(row);
    const int end = row + 1 < m_keyStart.size() ? m_keyStart.at(row + 1) : m_keys.size();
    return upperText.indexIn(m_keys.constData() + start, end - start) >= 0;
}
