#include "mimecontentformatter.h"

#include "smtplogging.h"

#include <limits>

MimeContentFormatter::MimeContentFormatter(int maxLength, QObject *parent)
    : QObject(parent)
    , maxLength(maxLength)
{
}

void MimeContentFormatter::setMaxLength(int length)
{
    maxLength = length;
}

int MimeContentFormatter::getMaxLength() const
{
    return maxLength;
}

QString MimeContentFormatter::format(const QString &content, bool quotedPrintable) const
{
    return quotedPrintable ? formatQuotedPrintable(content) : formatBase64(content);
}

QString MimeContentFormatter::formatBase64(const QString &content) const
{
    const int n = content.size();
    // A non-positive length would put a line break before every character;
    // such a formatter folds nothing instead.
    if (maxLength <= 0 || n <= maxLength)
        return content;

    const int lines = (n + maxLength - 1) / maxLength;
    QString out;
    out.reserve(n + 2 * (lines - 1));
    const QChar *src = content.constData();
    for (int pos = 0; pos < n; pos += maxLength) {
        if (pos > 0)
            out.append(QLatin1String("\r\n"));
        out.append(src + pos, qMin(maxLength, n - pos));
    }
    return out;
}

QString MimeContentFormatter::formatQuotedPrintable(const QString &content) const
{
    const int n = content.size();
    const int max = maxLength;
    // Between two soft breaks stand at least max - 3 characters, which
    // bounds the output; it is written through a pointer into a string of
    // that size and cut to length at the end.
    const qint64 breaks = qint64(n) / qMax(1, max - 3) + 1;
    const qint64 bound = qint64(n) + 3 * breaks;
    if (bound > std::numeric_limits<int>::max() / 2) {
        qCWarning(yxaSmtp,
            "MimeContentFormatter::format() - text of %d characters is too long to fold", n);
        return content;
    }
    QString out;
    out.resize(int(bound));

    QChar *dst = out.data();
    const QChar *src = content.constData();
    int chars = 0;
    for (int i = 0; i < n; ++i) {
        const QChar ch = src[i];
        ++chars;
        if (ch.unicode() == '\n') {
            *dst++ = ch;
            chars = 0;
            continue;
        }
        if (!(chars < max && (ch.unicode() != '=' || chars < max - 2))) {
            *dst++ = QLatin1Char('=');
            *dst++ = QLatin1Char('\r');
            *dst++ = QLatin1Char('\n');
            chars = 1;
        }
        *dst++ = ch;
    }
    out.truncate(int(dst - out.constData()));
    return out;
}
