#include "smtpreply.h"

namespace {
QString chopLineEnd(QString text)
{
    while (text.endsWith(QLatin1Char('\n')) || text.endsWith(QLatin1Char('\r')))
        text.chop(1);
    return text;
}
} // namespace

bool SmtpReply::addLine(const QByteArray &line)
{
    // A reply that completed is followed by the next one, never by more lines.
    if (m_complete)
        clear();
    m_lastLine = QString::fromUtf8(line);
    bool ok = false;
    const int value = m_lastLine.leftRef(3).toInt(&ok);
    m_code = ok ? value : 0;
    m_codeText = chopLineEnd(m_lastLine.left(3));
    m_lines << chopLineEnd(m_lastLine.mid(4));
    m_complete = m_lastLine.size() > 3 && m_lastLine.at(3) != QLatin1Char('-');
    return m_complete;
}

void SmtpReply::clear()
{
    m_code = 0;
    m_complete = false;
    m_lines.clear();
    m_lastLine.clear();
    m_codeText.clear();
}

SmtpReply::Class SmtpReply::classOf(int code, bool complete)
{
    if (!complete)
        return Incomplete;
    switch (code / 100) {
    case 2:
        return Positive;
    case 3:
        return Intermediate;
    case 4:
        return Temporary;
    case 5:
        return Permanent;
    }
    return Malformed;
}

QString SmtpReply::summary(int maxLength) const
{
    if (m_lines.isEmpty())
        return QString();
    QString text = m_codeText;
    for (const QString &line : m_lines) {
        if (!line.isEmpty())
            text += QLatin1Char(' ') + line;
    }
    for (QChar &c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = QLatin1Char('?');
    }
    if (text.size() > maxLength)
        text = text.left(maxLength - 3) + QLatin1String("...");
    return text;
}
