#include "mimeheader_p.h"

#include "mimeencoding_p.h"
#include "quotedprintable.h"

#include <QStringList>
#include <QUrl>

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
    // "=?utf-8?Q?" and "?=" leave 63 of a word's 75 characters for the text.
    const int room = 63;
    const QByteArray utf8 = text.toUtf8();
    QString out = QLatin1String("=?utf-8?Q?");
    int used = 0;
    int pos = 0;
    while (pos < utf8.size()) {
        // One whole UTF-8 character at a time, so no word ends inside one.
        int len = 1;
        while (pos + len < utf8.size() && (uchar(utf8.at(pos + len)) & 0xC0) == 0x80)
            ++len;
        QString piece = QuotedPrintable::encode(utf8.mid(pos, len));
        piece.replace(QLatin1Char('_'), QLatin1String("=5F"));
        piece.replace(QLatin1Char('?'), QLatin1String("=3F"));
        piece.replace(QLatin1Char(' '), QLatin1Char('_'));
        piece.replace(QLatin1Char(':'), QLatin1String("=3A"));
        if (used > 0 && used + piece.size() > room) {
            out += QLatin1String("?=\r\n =?utf-8?Q?");
            used = 0;
        }
        out += piece;
        used += piece.size();
        pos += len;
    }
    out += QLatin1String("?=");
    return out;
}

namespace {

// Lengths are counted in octets of UTF-8, what the line takes on the wire.
QString foldPhysicalLine(const QString &line, int *longest)
{
    const int octets = MimeEncoding::utf8Length(line);
    if (octets <= maxLineLength) {
        *longest = qMax(*longest, octets);
        return line;
    }
    const int target = 78;
    const QStringList words = line.split(QLatin1Char(' '));
    QString out;
    out.reserve(line.size() + line.size() / 30);
    int current = 0;
    for (int i = 0; i < words.size(); ++i) {
        const QString &word = words.at(i);
        const int size = MimeEncoding::utf8Length(word);
        if (i == 0) {
            out += word;
            current = size;
            continue;
        }
        // A fold goes before a blank that starts a word: a continuation line
        // of blanks alone would be read as the end of the header block.
        if (!word.isEmpty() && current > 0 && current + 1 + size > target) {
            *longest = qMax(*longest, current);
            out += QLatin1String("\r\n");
            current = 0;
        }
        out += QLatin1Char(' ');
        out += word;
        current += 1 + size;
    }
    *longest = qMax(*longest, current);
    return out;
}

} // namespace

QString fold(const QString &line, bool *fits)
{
    // Encoded words may already be folded; each physical line is folded on
    // its own, so no fold ever lands beside an existing one.
    int longest = 0;
    QString out;
    if (!line.contains(QLatin1Char('\n'))) {
        out = foldPhysicalLine(line, &longest);
    } else {
        const QStringList lines = line.split(QLatin1String("\r\n"));
        for (int i = 0; i < lines.size(); ++i) {
            if (i > 0)
                out += QLatin1String("\r\n");
            out += foldPhysicalLine(lines.at(i), &longest);
        }
    }
    if (fits)
        *fits = longest <= maxLineLength;
    return out;
}

QString continuedParameter(const QString &name, const QString &value)
{
    const int room = 60;
    const QByteArray encoded = QUrl::toPercentEncoding(value);
    QString out;
    int pos = 0;
    int index = 0;
    do {
        int len = qMin(room, encoded.size() - pos);
        // Never cut "%XX" apart: back off to the escape's start.
        if (pos + len < encoded.size()) {
            if (len >= 1 && encoded.at(pos + len - 1) == '%')
                len -= 1;
            else if (len >= 2 && encoded.at(pos + len - 2) == '%')
                len -= 2;
        }
        out += QLatin1String(";\r\n ") + name + QLatin1Char('*') + QString::number(index)
            + QLatin1Char('*') + QLatin1Char('=');
        if (index == 0)
            out += QLatin1String("utf-8''");
        out += QString::fromLatin1(encoded.mid(pos, len));
        pos += len;
        ++index;
    } while (pos < encoded.size());
    return out;
}

} // namespace MimeHeader
