#include "transfer/importerrors.h"

#include <algorithm>

namespace vorna::transfer {

QString ImportError::text() const
{
    if (line <= 0)
        return QStringLiteral("%1: %2").arg(file, message);
    return QStringLiteral("%1:%2: %3: %4").arg(file, QString::number(line), column, message);
}

ImportErrors::ImportErrors(int keep)
    : m_keep(std::max(keep, 1))
{
}

void ImportErrors::add(const ImportError &error)
{
    ++m_count;
    auto file = std::find_if(m_files.begin(), m_files.end(),
                             [&](const FileErrors &known) { return known.file == error.file; });
    if (file == m_files.end())
        file = m_files.insert(m_files.end(), FileErrors{error.file, {}});
    QVector<ImportError> &kept = file->earliest;
    // After the errors of the same line already kept, so a line's errors stay in the order found.
    const auto at = std::upper_bound(kept.begin(), kept.end(), error.line,
                                     [](int line, const ImportError &known) { return line < known.line; });
    if (at == kept.end() && kept.size() >= m_keep)
        return;
    kept.insert(at, error);
    if (kept.size() > m_keep)
        kept.removeLast();
}

QVector<ImportError> ImportErrors::first(int limit) const
{
    QVector<ImportError> errors;
    for (const FileErrors &file : m_files) {
        for (const ImportError &error : file.earliest) {
            if (errors.size() >= limit)
                return errors;
            errors.append(error);
        }
    }
    return errors;
}

QStringList ImportErrors::lines(int limit) const
{
    QStringList texts;
    const QVector<ImportError> shown = first(limit);
    for (const ImportError &error : shown)
        texts.append(error.text());
    if (m_count > shown.size())
        texts.append(QStringLiteral("... and %1 more errors. Correct these and check again.")
                         .arg(m_count - shown.size()));
    return texts;
}

} // namespace vorna::transfer
