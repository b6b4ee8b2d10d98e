#include "transfer/csvreader.h"

#include <QTextCodec>

namespace vorna::transfer {

namespace {

const QByteArray Utf8Bom("\xEF\xBB\xBF");

bool decodesCleanly(const char *data, int size, QString *out)
{
    QTextCodec::ConverterState state;
    *out = QTextCodec::codecForMib(106)->toUnicode(data, size, &state);
    // A sequence cut off at the end is left in the state rather than counted as invalid.
    return state.invalidChars == 0 && state.remainingChars == 0;
}

// The first line holding a byte that is not UTF-8; only looked for once decoding has failed.
int firstBadLine(const QByteArray &bytes)
{
    int line = 1;
    int start = 0;
    while (start <= bytes.size()) {
        int end = bytes.indexOf('\n', start);
        if (end < 0)
            end = bytes.size();
        QString ignored;
        if (!decodesCleanly(bytes.constData() + start, end - start, &ignored))
            return line;
        start = end + 1;
        ++line;
    }
    return line;
}

} // namespace

CsvReader::CsvReader(const QByteArray &bytes)
{
    const QByteArray body = bytes.startsWith(Utf8Bom) ? bytes.mid(Utf8Bom.size()) : bytes;
    m_lineCount = body.count('\n') + (body.isEmpty() || body.endsWith('\n') ? 0 : 1);
    decode(body);
}

bool CsvReader::decode(const QByteArray &bytes)
{
    if (decodesCleanly(bytes.constData(), bytes.size(), &m_text))
        return true;
    m_text.clear();
    return fail(firstBadLine(bytes), -1,
                QStringLiteral("The text is not valid UTF-8. Save the file as UTF-8 and import it again."));
}

bool CsvReader::fail(int line, int field, const QString &message)
{
    if (!failed())
        m_error = {line, field, message};
    return false;
}

void CsvReader::skipEmptyLines()
{
    const int size = m_text.size();
    while (m_pos < size) {
        if (m_text.at(m_pos) == u'\n') {
            ++m_pos;
        } else if (m_text.at(m_pos) == u'\r' && m_pos + 1 < size && m_text.at(m_pos + 1) == u'\n') {
            m_pos += 2;
        } else {
            return;
        }
        ++m_line;
    }
}

bool CsvReader::next(CsvRecord *record)
{
    if (failed())
        return false;
    skipEmptyLines();
    if (m_pos >= m_text.size())
        return false;
    record->line = m_line;
    record->fields.clear();
    for (int index = 0;; ++index) {
        QString field;
        const bool read = m_pos < m_text.size() && m_text.at(m_pos) == u'"' ? readQuoted(&field, index)
                                                                            : readPlain(&field, index);
        if (!read)
            return false;
        record->fields.append(field);
        bool recordEnds = false;
        if (!endOfField(&recordEnds, index))
            return false;
        if (recordEnds)
            return true;
    }
}

bool CsvReader::readPlain(QString *field, int fieldIndex)
{
    const int start = m_pos;
    const int size = m_text.size();
    const QChar *text = m_text.constData();
    while (m_pos < size) {
        const QChar c = text[m_pos];
        if (c == u',' || c == u'\n' || c == u'\r')
            break;
        if (c == u'"')
            return fail(m_line, fieldIndex,
                        QStringLiteral("A double quote stands inside a field that does not start with one. "
                                       "Put the whole field in double quotes and double the quote inside."));
        ++m_pos;
    }
    *field = m_text.mid(start, m_pos - start);
    return true;
}

bool CsvReader::readQuoted(QString *field, int fieldIndex)
{
    const int openedOn = m_line;
    ++m_pos; // the opening quote
    int start = m_pos;
    for (;;) {
        const int quote = m_text.indexOf(u'"', m_pos);
        if (quote < 0)
            return fail(openedOn, fieldIndex,
                        QStringLiteral("A quoted field is never closed. Add the closing double quote."));
        m_line += QStringView(m_text).mid(m_pos, quote - m_pos).count(u'\n');
        field->append(QStringView(m_text).mid(start, quote - start));
        m_pos = quote + 1;
        if (m_pos < m_text.size() && m_text.at(m_pos) == u'"') {
            // A doubled quote stands for one; the text goes on after it.
            field->append(u'"');
            ++m_pos;
            start = m_pos;
            continue;
        }
        return true;
    }
}

bool CsvReader::endOfField(bool *recordEnds, int fieldIndex)
{
    const int size = m_text.size();
    if (m_pos >= size) {
        *recordEnds = true;
        return true;
    }
    const QChar c = m_text.at(m_pos);
    if (c == u',') {
        ++m_pos;
        return true;
    }
    if (c == u'\n' || (c == u'\r' && m_pos + 1 < size && m_text.at(m_pos + 1) == u'\n')) {
        m_pos += c == u'\n' ? 1 : 2;
        ++m_line;
        *recordEnds = true;
        return true;
    }
    if (c == u'\r')
        return fail(m_line, fieldIndex,
                    QStringLiteral("A carriage return stands alone, not before a line feed. "
                                   "End lines with LF or CRLF, or quote the field."));
    return fail(m_line, fieldIndex,
                QStringLiteral("Text follows the closing double quote of a field. "
                               "Put the whole field in quotes and double the quotes inside."));
}

} // namespace vorna::transfer
