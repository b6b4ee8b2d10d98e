#pragma once
// What the admin commands' list verbs print: an aligned table for people (the default), or
// CSV (RFC 4180, a header row) or JSON (an array of objects) for scripts.

#include "transfer/tablewriter.h"

#include <QCommandLineOption>
#include <QStringList>
#include <QTextStream>
#include <QVector>

#include <optional>

namespace vorna::service {

class TableOutput
{
public:
    enum class Format { Table, Csv, Json };

    // --format table|csv|json
    static QCommandLineOption formatOption();
    // The format the option names; nullopt for an unknown one.
    static std::optional<Format> parseFormat(const QString &value);
    static QString formatUsage();

    explicit TableOutput(QStringList columns);
    void addRow(QStringList values);
    void write(QTextStream &out, Format format) const;

private:
    void writeTable(QTextStream &out) const;
    // Through the transfer library's writer, which the exports use too.
    void writeCsvOrJson(QTextStream &out, transfer::OutputFormat format) const;

    QStringList m_columns;
    QVector<QStringList> m_rows;
};

} // namespace vorna::service
