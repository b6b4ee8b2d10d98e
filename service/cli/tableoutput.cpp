#include "cli/tableoutput.h"

#include "transfer/tablewriter.h"

#include <QBuffer>

#include <algorithm>

namespace vorna::service {


QCommandLineOption TableOutput::formatOption()
{
    return {QStringLiteral("format"), QStringLiteral("table (aligned, the default), csv or json."),
            QStringLiteral("format"), QStringLiteral("table")};
}

std::optional<TableOutput::Format> TableOutput::parseFormat(const QString &value)
{
    if (value == QLatin1String("table"))
        return Format::Table;
    if (value == QLatin1String("csv"))
        return Format::Csv;
    if (value == QLatin1String("json"))
        return Format::Json;
    return std::nullopt;
}

QString TableOutput::formatUsage()
{
    return QStringLiteral("--format takes table, csv or json.");
}

TableOutput::TableOutput(QStringList columns)
    : m_columns(std::move(columns))
{
}

void TableOutput::addRow(QStringList values)
{
    m_rows.append(std::move(values));
}

void TableOutput::write(QTextStream &out, Format format) const
{
    switch (format) {
    case Format::Table: writeTable(out); break;
    case Format::Csv: writeCsvOrJson(out, transfer::OutputFormat::Csv); break;
    case Format::Json: writeCsvOrJson(out, transfer::OutputFormat::Json); break;
    }
    out.flush();
}

void TableOutput::writeTable(QTextStream &out) const
{
    QVector<int> widths;
    for (const QString &column : m_columns)
        widths << column.size();
    for (const QStringList &row : m_rows) {
        for (int i = 0; i < widths.size(); ++i)
            widths[i] = std::max(widths.at(i), row.value(i).size());
    }
    const auto line = [&](const QStringList &values) {
        QStringList cells;
        for (int i = 0; i < widths.size(); ++i)
            cells << (i + 1 < widths.size() ? values.value(i).leftJustified(widths.at(i)) : values.value(i));
        out << cells.join(QStringLiteral("  ")) << '\n';
    };
    QStringList header;
    for (const QString &column : m_columns)
        header << column.toUpper();
    line(header);
    for (const QStringList &row : m_rows)
        line(row);
}

void TableOutput::writeCsvOrJson(QTextStream &out, transfer::OutputFormat format) const
{
    QBuffer bytes;
    bytes.open(QIODevice::WriteOnly);
    QVector<transfer::TableColumn> columns;
    for (const QString &name : m_columns)
        columns.append({name});
    transfer::TableWriter writer(&bytes, format, columns, transfer::TableWriter::LineEnd::CrLf);
    for (const QStringList &row : m_rows)
        writer.writeRow(row);
    writer.finish();
    out << QString::fromUtf8(bytes.data());
}

} // namespace vorna::service
