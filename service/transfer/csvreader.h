#pragma once
// Reads CSV text as RFC 4180 lays it out: records of comma-separated fields, fields in double
// quotes may hold commas, line breaks and doubled quotes. The bytes are UTF-8, with or without a
// byte-order mark, lines end in LF or CRLF. Each record knows the physical line it starts on, so
// errors can point at the line an editor shows. Lines that hold nothing are skipped.
//
// Our own small reader rather than Debian's libcsv: that one reports no line numbers and trims
// spaces around unquoted fields, and both matter for the error texts an import prints.

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace vorna::transfer {

struct CsvRecord
{
    int line = 0;        // physical line (1-based) where the record starts
    QStringList fields;
};

struct CsvError
{
    int line = 0;        // physical line of the fault
    int field = -1;      // 0-based index of the field in its record, -1 when outside any
    QString message;     // a sentence
};

class CsvReader
{
public:
    // Decodes all of `bytes` up front; an invalid UTF-8 sequence fails the reader at once.
    explicit CsvReader(const QByteArray &bytes);

    // The next record; false at the end of the text or at the first fault (see failed()).
    bool next(CsvRecord *record);
    bool failed() const { return !m_error.message.isEmpty(); }
    const CsvError &error() const { return m_error; }
    // Physical lines of the whole text, for progress reports.
    int lineCount() const { return m_lineCount; }
    // The line the reader has reached.
    int currentLine() const { return m_line; }

private:
    bool decode(const QByteArray &bytes);
    void skipEmptyLines();
    bool readQuoted(QString *field, int fieldIndex);
    bool readPlain(QString *field, int fieldIndex);
    // After a field: true when another field follows; sets *recordEnds at a line end or the text's.
    bool endOfField(bool *recordEnds, int fieldIndex);
    bool fail(int line, int field, const QString &message);

    QString m_text;
    int m_pos = 0;
    int m_line = 1;
    int m_lineCount = 0;
    CsvError m_error;
};

} // namespace vorna::transfer
