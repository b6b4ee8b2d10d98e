// The CSV reader of import files. Any bytes read without a crash or undefined behaviour; records
// start on increasing lines within the text; a fault names a line within it; every record read,
// written back by the table writer, reads back unchanged; and a field that parses as a civil
// moment or a colour writes back to the same value.
//
// Input: the bytes of a CSV file.

#include "transfer/civiltext.h"
#include "transfer/csvreader.h"
#include "fuzzsupport.h"
#include "transfer/tablewriter.h"

#include <QBuffer>
#include <QVector>

namespace transfer = vorna::transfer;

namespace {

QByteArray written(const QStringList &fields)
{
    QVector<transfer::TableColumn> columns;
    for (const QString &field : fields)
        columns.append({field});
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    transfer::TableWriter writer(&buffer, transfer::OutputFormat::Csv, columns);
    fuzz::require(writer.finish(), "writing to memory succeeds");
    return buffer.data();
}

void checkRoundTrip(const QStringList &fields)
{
    const QByteArray bytes = written(fields);
    transfer::CsvReader reader(bytes);
    transfer::CsvRecord back;
    fuzz::require(reader.next(&back), "a written record reads back", QString::fromUtf8(bytes));
    fuzz::require(back.fields == fields, "a written record reads back unchanged", QString::fromUtf8(bytes));
    fuzz::require(!reader.next(&back) && !reader.failed(), "a written record is all there is",
                  QString::fromUtf8(bytes));
}

// Any field may be a moment or a colour in an import file: one that parses writes back to a
// text that parses to the same value.
void checkValueTexts(const QString &field)
{
    if (const std::optional<QDateTime> at = transfer::parseCivilMoment(field)) {
        const std::optional<QDateTime> back = transfer::parseCivilMoment(transfer::formatCivilMoment(*at));
        fuzz::require(back && *back == *at, "a civil moment round-trips", field);
    }
    if (const std::optional<int> rgb = transfer::parseColor(field)) {
        fuzz::require(transfer::parseColor(transfer::formatColor(*rgb)) == rgb, "a colour round-trips", field);
        fuzz::require(transfer::formatColor(*rgb).compare(field, Qt::CaseInsensitive) == 0,
                      "a colour writes as it was read", field);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    transfer::CsvReader reader(bytes);
    transfer::CsvRecord record;
    int previousLine = 0;
    while (reader.next(&record)) {
        fuzz::require(record.line > previousLine, "records start on increasing lines");
        fuzz::require(record.line <= reader.lineCount(), "a record starts within the text");
        fuzz::require(!record.fields.isEmpty(), "a record has a field");
        previousLine = record.line;
        checkRoundTrip(record.fields);
        for (const QString &field : record.fields)
            checkValueTexts(field);
    }
    if (reader.failed()) {
        const transfer::CsvError &error = reader.error();
        fuzz::require(error.line >= 1 && error.line <= reader.lineCount() + 1, "a fault names a line of the text");
        fuzz::require(error.line >= previousLine, "a fault lies after the records read");
        fuzz::require(!error.message.isEmpty(), "a fault says what is wrong");
    }
    return 0;
}
