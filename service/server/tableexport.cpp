#include "tableexport.h"

#include <cstdio>

namespace vorna::service {

using namespace vorna::transfer;

QCommandLineOption exportFormatOption()
{
    return {QStringLiteral("format"), QStringLiteral("csv (UTF-8, a header row, RFC 4180 quoting; the default) or json."),
            QStringLiteral("format"), QStringLiteral("csv")};
}

QCommandLineOption outputOption()
{
    return {QStringLiteral("output"),
            QStringLiteral("Writes to FILE instead of stdout; the file appears only once it is complete."),
            QStringLiteral("file")};
}

QCommandLineOption departmentOption(const QString &what)
{
    return {QStringLiteral("department"), QStringLiteral("Only %1 of this department.").arg(what),
            QStringLiteral("name")};
}

QString checkExportFormat(const QCommandLineParser &parser)
{
    if (!parseOutputFormat(parser.value(exportFormatOption())))
        return QStringLiteral("--format takes csv or json, not \"%1\".").arg(parser.value(exportFormatOption()));
    return {};
}

TableExport::TableExport(const QCommandLineParser &parser, const QVector<TableColumn> &columns)
    : m_path(parser.value(outputOption()))
    , m_format(parseOutputFormat(parser.value(exportFormatOption())).value_or(OutputFormat::Csv))
    , m_columns(columns)
    , m_file(m_path)
{
}

QString TableExport::open()
{
    QIODevice *device = &m_stdout;
    if (m_path.isEmpty()) {
        std::fflush(stdout);
        if (!m_stdout.open(stdout, QIODevice::WriteOnly))
            return QStringLiteral("Cannot write to stdout (%1).").arg(m_stdout.errorString());
    } else {
        device = &m_file;
        if (!m_file.open(QIODevice::WriteOnly))
            return QStringLiteral("Cannot write the file %1 (%2). Check that its folder exists and may be written.")
                .arg(m_path, m_file.errorString());
    }
    m_writer = std::make_unique<TableWriter>(device, m_format, m_columns);
    return {};
}

QString TableExport::finish()
{
    if (!m_writer->finish()) {
        cancel();
        return m_writer->errorString();
    }
    if (m_path.isEmpty()) {
        m_stdout.close();
        return {};
    }
    if (!m_file.commit())
        return QStringLiteral("Could not write the file %1 (%2). Check that the disk has room; nothing was written.")
            .arg(m_path, m_file.errorString());
    return {};
}

void TableExport::cancel()
{
    if (!m_path.isEmpty())
        m_file.cancelWriting();
}

Result<qint64> departmentOf(Database &database, const QCommandLineParser &parser)
{
    const QCommandLineOption option = departmentOption(QString());
    if (!parser.isSet(option))
        return qint64(0);
    return database.organisation().idOf(OrganisationStore::Kind::Department, parser.value(option));
}

} // namespace vorna::service
