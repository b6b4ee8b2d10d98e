#include "tableoutput.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace vorna::service {

namespace {

// RFC 4180: a field with a comma, a quote or a line break goes in quotes, quotes doubled.
QString csvField(const QString &value)
{
    if (!value.contains(QLatin1Char(',')) && !value.contains(QLatin1Char('"')) && !value.contains(QLatin1Char('\n'))
        && !value.contains(QLatin1Char('\r')))
        return value;
    QString escaped = value;
    escaped.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

} // namespace

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
    case Format::Csv: writeCsv(out); break;
    case Format::Json: writeJson(out); break;
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

void TableOutput::writeCsv(QTextStream &out) const
{
    const auto line = [&](const QStringList &values) {
        QStringList fields;
        for (const QString &value : values)
            fields << csvField(value);
        out << fields.join(QLatin1Char(',')) << "\r\n";
    };
    line(m_columns);
    for (const QStringList &row : m_rows)
        line(row);
}

void TableOutput::writeJson(QTextStream &out) const
{
    QJsonArray rows;
    for (const QStringList &row : m_rows) {
        QJsonObject object;
        for (int i = 0; i < m_columns.size(); ++i)
            object.insert(m_columns.at(i), row.value(i));
        rows.append(object);
    }
    out << QString::fromUtf8(QJsonDocument(rows).toJson(QJsonDocument::Indented));
}

} // namespace vorna::service
