#include "core/indexfile.h"

#include "core/windows1252.h"

namespace IndexFile {

namespace {

constexpr char16_t ctrlZ = 0x1A;

} // namespace

LineReader::LineReader(const QByteArray &bytes)
{
    const qsizetype end = bytes.indexOf(char(ctrlZ));
    m_text = Windows1252::decode(end < 0 ? bytes : bytes.left(end));
}

QString LineReader::readLine()
{
    if (atEnd())
        return {};
    qsizetype lineEnd = m_text.indexOf(QLatin1Char('\r'), m_position);
    if (lineEnd < 0)
        lineEnd = m_text.size();
    QString line = m_text.mid(m_position, lineEnd - m_position);
    m_position = lineEnd + 1;
    if (m_position < m_text.size() && m_text[m_position] == QLatin1Char('\n'))
        ++m_position;
    return line;
}

QByteArray compose(const QStringList &values)
{
    QByteArray bytes;
    for (QString value : values) {
        value.truncate(maximumValueLength);
        for (QChar &c : value) {
            if (c == QLatin1Char('\r') || c == QLatin1Char('\n') || c == QChar(ctrlZ))
                c = QLatin1Char(' ');
        }
        bytes += Windows1252::encode(value);
        bytes += "\r\n";
    }
    return bytes;
}

} // namespace IndexFile
