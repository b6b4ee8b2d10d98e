#include "transfer/tablewriter.h"

#include <QFileDevice>
#include <QIODevice>
#include <QJsonArray>
#include <QJsonDocument>

namespace vorna::transfer {

namespace {

constexpr int FlushAtBytes = 64 * 1024;

bool needsQuotes(const QString &value)
{
    // A leading U+FEFF would be taken for a byte-order mark and dropped on reading.
    if (value.startsWith(QChar(0xFEFF)))
        return true;
    for (const QChar c : value) {
        if (c == u',' || c == u'"' || c == u'\n' || c == u'\r')
            return true;
    }
    return false;
}

// A JSON string literal, escaped by Qt's own encoder.
QByteArray jsonString(const QString &value)
{
    const QByteArray array = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

// Whether `value` may stand in JSON as written: Qt's parser decides, so "01" or "1." do not pass.
bool isJsonNumber(const QString &value)
{
    const QJsonDocument parsed = QJsonDocument::fromJson('[' + value.toUtf8() + ']');
    return parsed.isArray() && parsed.array().size() == 1 && parsed.array().at(0).isDouble();
}

QString writeFailure(const QString &reason)
{
    return QStringLiteral("Could not write the output (%1). Check that the disk has room and that the "
                          "file may be written.").arg(reason);
}

} // namespace

std::optional<OutputFormat> parseOutputFormat(const QString &text)
{
    if (text == QLatin1String("csv"))
        return OutputFormat::Csv;
    if (text == QLatin1String("json"))
        return OutputFormat::Json;
    return std::nullopt;
}

TableWriter::TableWriter(QIODevice *device, OutputFormat format, const QVector<TableColumn> &columns, LineEnd lineEnd)
    : m_device(device), m_format(format), m_columns(columns), m_lineEnd(lineEnd == LineEnd::CrLf ? "\r\n" : "\n")
{
    if (m_format == OutputFormat::Json) {
        for (const TableColumn &column : m_columns)
            m_jsonKeys.append(jsonString(column.name) + ':');
        m_buffer += '[';
        return;
    }
    for (int i = 0; i < m_columns.size(); ++i) {
        if (i > 0)
            m_buffer += ',';
        appendCsvField(m_columns.at(i).name);
    }
    m_buffer += m_lineEnd;
}

TableWriter::~TableWriter() = default;

void TableWriter::appendCsvField(const QString &value)
{
    // The only field of a row, empty, would leave an empty line, which readers skip.
    if (value.isEmpty() && m_columns.size() == 1) {
        m_buffer += "\"\"";
        return;
    }
    if (!needsQuotes(value)) {
        m_buffer += value.toUtf8();
        return;
    }
    QString quoted = value;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    m_buffer += '"' + quoted.toUtf8() + '"';
}

void TableWriter::appendJsonValue(const TableColumn &column, const QString &value)
{
    if (value.isEmpty() && column.type != TableColumn::Text) {
        m_buffer += "null";
    } else if (column.type == TableColumn::Number && isJsonNumber(value)) {
        m_buffer += value.toLatin1();
    } else if (column.type == TableColumn::YesNo && (value == QLatin1String("yes") || value == QLatin1String("no"))) {
        m_buffer += value == QLatin1String("yes") ? "true" : "false";
    } else {
        m_buffer += jsonString(value);
    }
}

bool TableWriter::writeRow(const QStringList &values)
{
    if (failed())
        return false;
    Q_ASSERT(values.size() == m_columns.size());
    if (m_format == OutputFormat::Csv) {
        for (int i = 0; i < m_columns.size(); ++i) {
            if (i > 0)
                m_buffer += ',';
            appendCsvField(values.value(i));
        }
        m_buffer += m_lineEnd;
    } else {
        m_buffer += m_rows == 0 ? "\n{" : ",\n{";
        for (int i = 0; i < m_columns.size(); ++i) {
            if (i > 0)
                m_buffer += ',';
            m_buffer += m_jsonKeys.at(i);
            appendJsonValue(m_columns.at(i), values.value(i));
        }
        m_buffer += '}';
    }
    ++m_rows;
    return m_buffer.size() < FlushAtBytes || flush();
}

bool TableWriter::finish()
{
    if (failed() || m_finished)
        return !failed();
    m_finished = true;
    if (m_format == OutputFormat::Json)
        m_buffer += "\n]\n";
    if (!flush())
        return false;
    // A file buffers too; a full disk shows only when that buffer goes out.
    auto *file = qobject_cast<QFileDevice *>(m_device);
    if (file && !file->flush()) {
        m_error = writeFailure(file->errorString());
        return false;
    }
    return true;
}

bool TableWriter::flush()
{
    const char *data = m_buffer.constData();
    qint64 left = m_buffer.size();
    while (left > 0) {
        const qint64 written = m_device->write(data, left);
        if (written <= 0) {
            m_error = writeFailure(m_device->errorString());
            return false;
        }
        data += written;
        left -= written;
    }
    m_buffer.clear();
    return true;
}

QVector<TableColumn> presenceColumns()
{
    return {{QStringLiteral("id")},         {QStringLiteral("last_name")},
            {QStringLiteral("first_name")}, {QStringLiteral("department")},
            {QStringLiteral("activity")},   {QStringLiteral("at"), TableColumn::OptionalText},
            {QStringLiteral("stale"), TableColumn::YesNo}, {QStringLiteral("status")}};
}

QVector<TableColumn> registrationColumns()
{
    return {{QStringLiteral("employee")}, {QStringLiteral("at")}, {QStringLiteral("activity")}};
}

QVector<TableColumn> monthReportColumns()
{
    return {{QStringLiteral("id")},
            {QStringLiteral("last_name")},
            {QStringLiteral("first_name")},
            {QStringLiteral("department")},
            {QStringLiteral("days_present"), TableColumn::Number},
            {QStringLiteral("present_hours"), TableColumn::Number},
            {QStringLiteral("calendars")},
            {QStringLiteral("exceptions")}};
}

} // namespace vorna::transfer
