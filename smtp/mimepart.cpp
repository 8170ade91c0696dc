#include "mimepart.h"

#include "mimeheader_p.h"

#include "quotedprintable.h"
#include <cstring>

namespace {
QLatin1String encodingName(MimePart::Encoding encoding)
{
    switch (encoding) {
    case MimePart::Encoding7Bit:
        return QLatin1String("7bit");
    case MimePart::Encoding8Bit:
        return QLatin1String("8bit");
    case MimePart::EncodingBase64:
        return QLatin1String("base64");
    case MimePart::EncodingQuotedPrintable:
        return QLatin1String("quoted-printable");
    }
    return QLatin1String("");
}

// Text bodies end at their first NUL byte.
QByteArray upToNul(const QByteArray &bytes)
{
    const int nul = bytes.indexOf('\0');
    return nul < 0 ? bytes : bytes.left(nul);
}
} // namespace

MimePart::MimePart(QObject *parent)
    : QObject(parent)
    , formatter(60)
{
}

MimePart::~MimePart() = default;

const QString &MimePart::getHeader() const
{
    return header;
}

void MimePart::setHeader(const QString &header)
{
    this->header = header;
}

void MimePart::addHeaderLine(const QString &line)
{
    header += MimeHeader::singleLine(line) + QLatin1String("\r\n");
}

const QByteArray &MimePart::getContent() const
{
    return content;
}

void MimePart::setContent(const QByteArray &content)
{
    this->content = content;
}

const QString &MimePart::getContentId() const
{
    return cId;
}

void MimePart::setContentId(const QString &cId)
{
    this->cId = cId;
}

const QString &MimePart::getContentName() const
{
    return cName;
}

void MimePart::setContentName(const QString &cName)
{
    this->cName = cName;
}

const QString &MimePart::getContentType() const
{
    return cType;
}

void MimePart::setContentType(const QString &cType)
{
    this->cType = cType;
}

const QString &MimePart::getCharset() const
{
    return cCharset;
}

void MimePart::setCharset(const QString &charset)
{
    cCharset = charset;
}

MimePart::Encoding MimePart::getEncoding() const
{
    return cEncoding;
}

void MimePart::setEncoding(Encoding enc)
{
    cEncoding = enc;
}

MimeContentFormatter &MimePart::getContentFormatter()
{
    return formatter;
}

QString MimePart::toString()
{
    if (!prepared)
        prepare();
    return mimeString;
}

void MimePart::prepare()
{
    QString head;
    head.reserve(160 + header.size());
    head += QLatin1String("Content-Type: ") + MimeHeader::singleLine(cType);
    if (!cCharset.isEmpty())
        head += QLatin1String("; charset=") + MimeHeader::singleLine(cCharset);
    if (!cBoundary.isEmpty())
        head += QLatin1String("; boundary=") + cBoundary;
    head += QLatin1String("\r\n");
    head += QLatin1String("Content-Transfer-Encoding: ") + encodingName(cEncoding)
        + QLatin1String("\r\n");
    if (!cId.isEmpty())
        head += QLatin1String("Content-ID: <") + MimeHeader::singleLine(cId)
            + QLatin1String(">\r\n");
    head += header;
    head += QLatin1String("\r\n");

    if (cEncoding == EncodingBase64) {
        // Attachments are the bulk of a message: the folded Base64 text is
        // written straight into the part's text, without intermediate strings.
        const QByteArray b64 = content.toBase64();
        const int n = b64.size();
        const int max = formatter.getMaxLength();
        const int breaks = (max > 0 && n > max) ? (n + max - 1) / max - 1 : 0;
        mimeString.resize(head.size() + n + 2 * breaks + 4);
        QChar *dst = mimeString.data();
        memcpy(dst, head.constData(), size_t(head.size()) * sizeof(QChar));
        dst += head.size();
        const char *src = b64.constData();
        const int step = breaks > 0 ? max : n;
        for (int pos = 0; pos < n; pos += step) {
            if (pos > 0) {
                *dst++ = QLatin1Char('\r');
                *dst++ = QLatin1Char('\n');
            }
            const int len = qMin(step, n - pos);
            for (int i = 0; i < len; ++i)
                dst[i] = QLatin1Char(src[pos + i]);
            dst += len;
        }
        for (const char c : { '\r', '\n', '\r', '\n' })
            *dst++ = QLatin1Char(c);
        prepared = true;
        return;
    }

    QString body;
    switch (cEncoding) {
    case Encoding7Bit:
        body = QString::fromLatin1(QString::fromUtf8(upToNul(content)).toLatin1());
        break;
    case Encoding8Bit:
        body = QString::fromUtf8(upToNul(content));
        break;
    case EncodingBase64:
        break;
    case EncodingQuotedPrintable:
        body = formatter.format(QuotedPrintable::encode(content), true);
        break;
    }

    mimeString.clear();
    mimeString.reserve(head.size() + body.size() + 4);
    mimeString += head;
    mimeString += body;
    mimeString += QLatin1String("\r\n\r\n");
    prepared = true;
}
