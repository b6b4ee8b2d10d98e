#pragma once
// Writes a table (a header and rows of texts) as CSV or JSON to a QIODevice.
//
// CSV: UTF-8 without a byte-order mark, a header row, lines ending in LF (what Unix tools and
// the import expect; spreadsheets read it too), fields quoted as RFC 4180 says when they hold
// a comma, a double quote or a line break.
// JSON: an array of objects, one per row, keyed by the header in its order. Values are strings
// unless the column says otherwise.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

#include <optional>

class QIODevice;

namespace vorna::transfer {

enum class OutputFormat { Csv, Json };
// "csv" or "json".
std::optional<OutputFormat> parseOutputFormat(const QString &text);

struct TableColumn
{
    enum Type {
        Text,          // a string
        OptionalText,  // a string; an empty one is null in JSON
        Number,        // a decimal number as written (e.g. "12.50"); empty is null in JSON
        YesNo          // "yes"/"no" in CSV, true/false in JSON; empty is null in JSON
    };
    QString name;
    Type type = Text;
};

class TableWriter
{
public:
    // CSV lines end in LF; CRLF is for outputs that always ended so (the admin list verbs).
    enum class LineEnd { Lf, CrLf };

    // Writes the header at once (CSV) or the array's start (JSON).
    TableWriter(QIODevice *device, OutputFormat format, const QVector<TableColumn> &columns,
                LineEnd lineEnd = LineEnd::Lf);
    ~TableWriter();

    // `values` holds one text per column. False once writing has failed (see errorString()).
    bool writeRow(const QStringList &values);
    // Ends the table and writes out what is buffered. Call it once, after the last row.
    bool finish();
    bool failed() const { return !m_error.isEmpty(); }
    QString errorString() const { return m_error; }

private:
    void appendCsvField(const QString &value);
    void appendJsonValue(const TableColumn &column, const QString &value);
    bool flush();

    QIODevice *m_device;
    OutputFormat m_format;
    QVector<TableColumn> m_columns;
    QVector<QByteArray> m_jsonKeys;   // each column's `"name":`, encoded once
    QByteArray m_lineEnd;
    QByteArray m_buffer;
    qint64 m_rows = 0;
    bool m_finished = false;
    QString m_error;
};

// The columns of the three outputs, so that every command writes them alike.
QVector<TableColumn> presenceColumns();       // id,last_name,first_name,department,activity,at,stale,status
QVector<TableColumn> registrationColumns();   // employee,at,activity (as registrations.csv is imported)
QVector<TableColumn> monthReportColumns();    // id,last_name,first_name,department,days_present,
                                              // present_hours,calendars,exceptions

} // namespace vorna::transfer
