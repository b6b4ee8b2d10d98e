// The CSV reader on RFC 4180 edge cases and faults, and the table writer: its CSV reads back
// through the reader unchanged, its JSON parses with the types the columns ask for, and a
// write that fails says so.

#include "transfer/csvreader.h"
#include "transfer/tablewriter.h"

#include <QBuffer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

using namespace vorna::transfer;

using Records = QVector<QStringList>;
Q_DECLARE_METATYPE(Records)

namespace {

struct ReadResult
{
    Records records;
    QList<int> lines;
    CsvError error;
};

ReadResult readAll(const QByteArray &bytes)
{
    ReadResult result;
    CsvReader reader(bytes);
    CsvRecord record;
    while (reader.next(&record)) {
        result.records.append(record.fields);
        result.lines.append(record.line);
    }
    result.error = reader.error();
    return result;
}

} // namespace

class TestTransferCsv : public QObject
{
    Q_OBJECT

private slots:
    void reads_data();
    void reads();
    void writerCsvReadsBack();
    void writerJsonTypes();
    void writerReportsFailure();
};

void TestTransferCsv::reads_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<Records>("records");
    QTest::addColumn<QList<int>>("lines");
    QTest::addColumn<int>("errorLine");   // 0: no fault
    QTest::addColumn<int>("errorField");
    QTest::addColumn<QString>("errorWords");

    QTest::newRow("LF") << QByteArray("a,b\nc,d\n") << Records{{"a", "b"}, {"c", "d"}} << QList<int>{1, 2} << 0 << -1 << "";
    QTest::newRow("BOM, CRLF, no last line end")
        << QByteArray("\xEF\xBB\xBF" "a,b\r\nc,d") << Records{{"a", "b"}, {"c", "d"}} << QList<int>{1, 2} << 0 << -1 << "";
    QTest::newRow("quoted comma and quotes")
        << QByteArray("\"x,y\",\"say \"\"hi\"\"\",\"\"\n") << Records{{"x,y", "say \"hi\"", ""}} << QList<int>{1} << 0 << -1
        << "";
    QTest::newRow("line breaks in quotes move the line count")
        << QByteArray("\"a\nb\",c\r\n\"d\r\ne\nf\"\ng\n") << Records{{"a\nb", "c"}, {"d\r\ne\nf"}, {"g"}}
        << QList<int>{1, 3, 6} << 0 << -1 << "";
    QTest::newRow("empty lines skipped, empty fields kept")
        << QByteArray("a,,\n\n\r\n,b,\n") << Records{{"a", "", ""}, {"", "b", ""}} << QList<int>{1, 4} << 0 << -1 << "";
    QTest::newRow("UTF-8 text") << QByteArray("Đorđe,Šćepanović\n")
                                << Records{{QString::fromUtf8("Đorđe"), QString::fromUtf8("Šćepanović")}} << QList<int>{1}
                                << 0 << -1 << "";
    QTest::newRow("unterminated quote") << QByteArray("a\n\"b,c\nd\n") << Records{{"a"}} << QList<int>{1} << 2 << 0
                                        << "never closed";
    QTest::newRow("quote inside a plain field") << QByteArray("a,b\"c\n") << Records{} << QList<int>{} << 1 << 1
                                                << "does not start with one";
    QTest::newRow("text after a closing quote") << QByteArray("x\n\"a\"b\n") << Records{{"x"}} << QList<int>{1} << 2 << 0
                                                << "follows the closing";
    QTest::newRow("lone carriage return") << QByteArray("a\rb\n") << Records{} << QList<int>{} << 1 << 0
                                          << "carriage return";
    QTest::newRow("invalid UTF-8") << QByteArray("a\nb\nc\xff\n") << Records{} << QList<int>{} << 3 << -1 << "UTF-8";
    QTest::newRow("UTF-8 cut off at the end") << QByteArray("a\n\xC4") << Records{} << QList<int>{} << 2 << -1 << "UTF-8";
}

void TestTransferCsv::reads()
{
    QFETCH(QByteArray, input);
    QFETCH(Records, records);
    QFETCH(QList<int>, lines);
    QFETCH(int, errorLine);
    QFETCH(int, errorField);
    QFETCH(QString, errorWords);

    const ReadResult result = readAll(input);
    QCOMPARE(result.records, records);
    QCOMPARE(result.lines, lines);
    QCOMPARE(result.error.line, errorLine);
    if (errorLine > 0) {
        QCOMPARE(result.error.field, errorField);
        QVERIFY2(result.error.message.contains(errorWords), qPrintable(result.error.message));
    }
}

void TestTransferCsv::writerCsvReadsBack()
{
    const QVector<TableColumn> columns{{"plain"}, {"tricky, header"}, {"number", TableColumn::Number}};
    const Records rows{{"Ana", "comma, inside", "1.50"},
                       {"quote \"here\"", "line\nbreak", ""},
                       {"", "crlf\r\nin it", "-2"},
                       {QString::fromUtf8("Đurađ"), " spaces kept ", "0"}};
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    TableWriter writer(&buffer, OutputFormat::Csv, columns);
    for (const QStringList &row : rows)
        QVERIFY(writer.writeRow(row));
    QVERIFY(writer.finish());

    QVERIFY(!buffer.data().startsWith("\xEF\xBB\xBF"));
    QVERIFY(buffer.data().startsWith("plain,\"tricky, header\",number\n"));
    const ReadResult back = readAll(buffer.data());
    QCOMPARE(back.error.line, 0);
    QCOMPARE(back.records, (Records{QStringList{"plain", "tricky, header", "number"}} + rows));
}

void TestTransferCsv::writerJsonTypes()
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    TableWriter writer(&buffer, OutputFormat::Json, presenceColumns());
    QVERIFY(writer.writeRow({"E1", "Smith, Jr.", "John \"J\"", "Sales", "Arrival", "2026-11-02 08:00:00", "no", "Present"}));
    QVERIFY(writer.writeRow({"E2", "Ilić", "Ana", "Sales", "", "", "yes", "No registration"}));
    QVERIFY(writer.finish());

    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(buffer.data(), &error);
    QCOMPARE(error.error, QJsonParseError::NoError);
    const QJsonArray rows = document.array();
    QCOMPARE(rows.size(), 2);
    const QJsonObject first = rows.at(0).toObject();
    QCOMPARE(first.keys().size(), 8);
    QCOMPARE(first.value("last_name").toString(), QString("Smith, Jr."));
    QCOMPARE(first.value("first_name").toString(), QString("John \"J\""));
    QCOMPARE(first.value("at").toString(), QString("2026-11-02 08:00:00"));
    QCOMPARE(first.value("stale"), QJsonValue(false));
    const QJsonObject second = rows.at(1).toObject();
    QCOMPARE(second.value("last_name").toString(), QString::fromUtf8("Ilić"));
    QVERIFY(second.value("at").isNull());
    QCOMPARE(second.value("activity"), QJsonValue(QString()));
    QCOMPARE(second.value("stale"), QJsonValue(true));

    // Numbers stay as written; no rows is an empty array.
    QBuffer report;
    report.open(QIODevice::WriteOnly);
    TableWriter reportWriter(&report, OutputFormat::Json, monthReportColumns());
    QVERIFY(reportWriter.writeRow({"E1", "A", "B", "C", "3", "27.50", "", ""}));
    QVERIFY(reportWriter.finish());
    QVERIFY(report.data().contains("\"present_hours\":27.50"));
    QCOMPARE(QJsonDocument::fromJson(report.data()).array().at(0).toObject().value("days_present"), QJsonValue(3));
    QBuffer empty;
    empty.open(QIODevice::WriteOnly);
    TableWriter emptyWriter(&empty, OutputFormat::Json, registrationColumns());
    QVERIFY(emptyWriter.finish());
    QVERIFY(QJsonDocument::fromJson(empty.data()).isArray());
}

void TestTransferCsv::writerReportsFailure()
{
    QFile full(QStringLiteral("/dev/full"));
    if (!full.open(QIODevice::WriteOnly))
        QSKIP("/dev/full is not available here.");
    TableWriter writer(&full, OutputFormat::Csv, registrationColumns());
    QVERIFY(writer.writeRow({"E1", "2026-11-02 08:00:00", "Arrival"}));
    QVERIFY(!writer.finish());
    QVERIFY2(writer.errorString().startsWith("Could not write the output"), qPrintable(writer.errorString()));
    QVERIFY(!writer.writeRow({"E1", "2026-11-02 09:00:00", "Arrival"}));
}

QTEST_GUILESS_MAIN(TestTransferCsv)
#include "tst_transfercsv.moc"
