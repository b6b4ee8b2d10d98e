// The CSV reader of import files. Any bytes read without a crash or undefined behaviour; records
// start on increasing lines within the text; a fault names a line within it; and every record
// read, written back by the table writer, reads back unchanged.
//
// Input: the bytes of a CSV file.

#include "csvreader.h"
#include "fuzzsupport.h"
#include "tablewriter.h"

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
    }
    if (reader.failed()) {
        const transfer::CsvError &error = reader.error();
        fuzz::require(error.line >= 1 && error.line <= reader.lineCount() + 1, "a fault names a line of the text");
        fuzz::require(error.line >= previousLine, "a fault lies after the records read");
        fuzz::require(!error.message.isEmpty(), "a fault says what is wrong");
    }
    return 0;
}
