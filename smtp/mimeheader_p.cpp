#include "mimeheader_p.h"

#include "quotedprintable.h"

namespace MimeHeader {

QString singleLine(const QString &value)
{
    if (!value.contains(QLatin1Char('\r')) && !value.contains(QLatin1Char('\n')))
        return value;
    QString out = value;
    out.replace(QLatin1Char('\r'), QLatin1Char(' '));
    out.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return out;
}

QString quotedStringContent(const QString &value)
{
    QString out = singleLine(value);
    out.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    out.replace(QLatin1Char('"'), QLatin1String("\\\""));
    return out;
}

bool isAscii(const QString &value)
{
    for (const QChar ch : value) {
        if (ch.unicode() > 127)
            return false;
    }
    return true;
}

QString base64Words(const QString &text)
{
    // 45 bytes give 60 Base64 characters, which with "=?utf-8?B?" and "?="
    // stay within the 75 characters an encoded word may have.
    const int chunk = 45;
    const QByteArray utf8 = text.toUtf8();
    QString out;
    int pos = 0;
    do {
        int len = qMin(chunk, utf8.size() - pos);
        // Do not cut inside a UTF-8 sequence: back off to a lead byte.
        while (pos + len < utf8.size() && len > 1 && (uchar(utf8.at(pos + len)) & 0xC0) == 0x80)
            --len;
        if (pos > 0)
            out += QLatin1String("\r\n ");
        out += QLatin1String("=?utf-8?B?") + QString::fromLatin1(utf8.mid(pos, len).toBase64())
            + QLatin1String("?=");
        pos += len;
    } while (pos < utf8.size());
    return out;
}

QString quotedPrintableWord(const QString &text)
{
    QString encoded = QuotedPrintable::encode(text.toUtf8());
    encoded.replace(QLatin1Char('_'), QLatin1String("=5F"));
    encoded.replace(QLatin1Char('?'), QLatin1String("=3F"));
    encoded.replace(QLatin1Char(' '), QLatin1Char('_'));
    encoded.replace(QLatin1Char(':'), QLatin1String("=3A"));
    return QLatin1String("=?utf-8?Q?") + encoded + QLatin1String("?=");
}

} // namespace MimeHeader
