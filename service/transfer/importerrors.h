#pragma once
// The errors an import check finds, printed as `FILE:LINE: COLUMN: message` (line 1 for the
// header). A broken file of a million lines would give a million errors, so only the earliest
// lines' errors of each file are kept; the count covers them all.

#include <QString>
#include <QStringList>
#include <QVector>

namespace vorna::transfer {

struct ImportError
{
    QString file;     // file name within the import folder, or the folder itself
    int line = 0;     // 0 when the error concerns the whole file or folder
    QString column;   // the column's header name, or a word such as "header" or "row"
    QString message;  // a sentence that says what is wrong and what to do

    // "FILE:LINE: COLUMN: message", or "FILE: message" when line is 0.
    QString text() const;
};

class ImportErrors
{
public:
    // Keeps at least the `keep` earliest errors of every file, whatever order they come in.
    explicit ImportErrors(int keep = 20);

    void add(const ImportError &error);
    bool isEmpty() const { return m_count == 0; }
    qint64 count() const { return m_count; }
    // The earliest `limit` errors, files in the order they first reported, lines ascending;
    // exact as long as `limit` is at most `keep`.
    QVector<ImportError> first(int limit = 20) const;
    // Their texts, and a last line naming how many more there are.
    QStringList lines(int limit = 20) const;

private:
    struct FileErrors
    {
        QString file;
        QVector<ImportError> earliest; // sorted by line, at most m_keep
    };
    int m_keep;
    qint64 m_count = 0;
    QVector<FileErrors> m_files;
};

} // namespace vorna::transfer
