#pragma once
// What the export and report commands share: the --format, --output and --department options,
// and an output that is stdout or a file written whole or not at all.

#include "cli/command.h"
#include "transfer/tablewriter.h"

#include <QFile>
#include <QSaveFile>

#include <memory>

namespace vorna::service {

QCommandLineOption exportFormatOption();
QCommandLineOption outputOption();
QCommandLineOption departmentOption(const QString &what);
// A sentence when --format names neither csv nor json.
QString checkExportFormat(const QCommandLineParser &parser);

// The table one export writes: to stdout, or to --output FILE, which appears only once it is
// complete, so a full disk or a failed query leaves no half a file behind (a device or a pipe
// named as FILE is written directly).
class TableExport
{
public:
    TableExport(const QCommandLineParser &parser, const QVector<transfer::TableColumn> &columns);

    // A sentence when the output cannot be opened.
    QString open();
    bool writeRow(const QStringList &values) { return m_writer->writeRow(values); }
    // Ends the table and, for a file, puts it in place. A sentence when that fails.
    QString finish();
    // Drops a file being written; stdout keeps what it got.
    void cancel();

private:
    QString m_path;
    transfer::OutputFormat m_format;
    QVector<transfer::TableColumn> m_columns;
    bool m_atomic = false;
    QFile m_plain;    // stdout, or a device or pipe named as the output
    QSaveFile m_file; // a file, put in place when complete
    std::unique_ptr<transfer::TableWriter> m_writer;
};

// The number of the department --department names, 0 without the option.
Result<qint64> departmentOf(Database &database, const QCommandLineParser &parser);

} // namespace vorna::service
