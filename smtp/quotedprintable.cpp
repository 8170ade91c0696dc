#include "quotedprintable.h"

#include "mimeencoding_p.h"

namespace {
int hexValue(QChar ch)
{
    const ushort u = ch.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}
} // namespace

QString QuotedPrintable::encode(const QByteArray &input)
{
    return MimeEncoding::quotedPrintable(input, 0, MimeEncoding::LineBreaks::Escaped);
}

QByteArray QuotedPrintable::decode(const QString &input)
{
    QByteArray out;
    out.reserve(input.size());
    const int n = input.size();
    for (int i = 0; i < n; ++i) {
        const QChar ch = input.at(i);
        if (ch.unicode() > 255) {
            out.append('\0');
            continue;
        }
        if (ch != QLatin1Char('=')) {
            out.append(char(ch.unicode()));
            continue;
        }
        if (i + 2 < n && input.at(i + 1) == QLatin1Char('\r')
            && input.at(i + 2) == QLatin1Char('\n')) {
            i += 2;
            continue;
        }
        if (i + 1 < n && input.at(i + 1) == QLatin1Char('\n')) {
            i += 1;
            continue;
        }
        if (i + 2 < n) {
            const int hi = hexValue(input.at(i + 1));
            const int lo = hexValue(input.at(i + 2));
            if (hi >= 0 && lo >= 0) {
                out.append(char((hi << 4) | lo));
                i += 2;
                continue;
            }
        }
        out.append('=');
    }
    return out;
}
