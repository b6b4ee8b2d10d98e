#include "cli/tableexport.h"

#include <QFileInfo>

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
    // A device or a pipe named as the output is written as it is: renaming a finished file
    // over it would replace the device.
    const QFileInfo target(m_path);
    m_atomic = !m_path.isEmpty() && !(target.exists() && !target.isFile());
    QIODevice *device = &m_plain;
    bool opened = false;
    if (m_path.isEmpty()) {
        std::fflush(stdout);
        opened = m_plain.open(stdout, QIODevice::WriteOnly);
    } else if (!m_atomic) {
        m_plain.setFileName(m_path);
        opened = m_plain.open(QIODevice::WriteOnly);
    } else {
        device = &m_file;
        opened = m_file.open(QIODevice::WriteOnly);
    }
    if (!opened)
        return QStringLiteral("Cannot write to %1 (%2). Check that its folder exists and may be written.")
            .arg(m_path.isEmpty() ? QStringLiteral("stdout") : m_path, device->errorString());
    m_writer = std::make_unique<TableWriter>(device, m_format, m_columns);
    return {};
}

QString TableExport::finish()
{
    const QString target = m_path.isEmpty() ? QStringLiteral("stdout") : m_path;
    if (!m_writer->finish()) {
        cancel();
        return m_writer->errorString();
    }
    const bool written = m_atomic ? m_file.commit() : m_plain.flush();
    const QString reason = m_atomic ? m_file.errorString() : m_plain.errorString();
    if (!m_atomic)
        m_plain.close();
    if (!written)
        return QStringLiteral("Could not write to %1 (%2). Check that the disk has room.").arg(target, reason);
    return {};
}

void TableExport::cancel()
{
    if (m_atomic)
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
