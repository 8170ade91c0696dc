#include "mimepart.h"

#include "mimeencoding_p.h"
#include "mimeheader_p.h"
#include "smtplogging.h"

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

bool isAscii(const QByteArray &bytes)
{
    for (const char c : bytes) {
        if (uchar(c) >= 0x80)
            return false;
    }
    return true;
}

QByteArray joined(const QByteArray &head, const QByteArray &body, QLatin1String end)
{
    QByteArray out;
    out.reserve(head.size() + body.size() + end.size());
    out += head;
    out += body;
    out.append(end.data(), end.size());
    return out;
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
    return QString::fromUtf8(toBytes());
}

QByteArray MimePart::toBytes()
{
    if (!prepared)
        prepare();
    return mimeBytes;
}

void MimePart::prepare()
{
    QString head;
    head.reserve(160 + header.size());
    QString type = QLatin1String("Content-Type: ") + MimeHeader::singleLine(cType);
    if (!cCharset.isEmpty())
        type += QLatin1String("; charset=") + MimeHeader::singleLine(cCharset);
    if (!cBoundary.isEmpty())
        type += QLatin1String("; boundary=") + cBoundary;
    // A type with long parameters must not make the line too long for SMTP.
    head += MimeHeader::fold(type) + QLatin1String("\r\n");
    head += QLatin1String("Content-Transfer-Encoding: ") + encodingName(cEncoding)
        + QLatin1String("\r\n");
    if (!cId.isEmpty())
        head += QLatin1String("Content-ID: <") + MimeHeader::singleLine(cId)
            + QLatin1String(">\r\n");
    head += header;
    head += QLatin1String("\r\n");
    const QByteArray headBytes = head.toUtf8();

    const QLatin1String end("\r\n\r\n");
    bool ok = true;
    switch (cEncoding) {
    case Encoding7Bit: {
        // What is no Latin-1 becomes "?"; ASCII, the usual body, is itself.
        const QByteArray body = upToNul(content);
        mimeBytes = joined(headBytes,
            isAscii(body) ? body : QString::fromLatin1(QString::fromUtf8(body).toLatin1()).toUtf8(),
            end);
        break;
    }
    case Encoding8Bit: {
        // Malformed UTF-8 goes out as replacement characters.
        const QByteArray body = upToNul(content);
        mimeBytes = joined(headBytes, isAscii(body) ? body : QString::fromUtf8(body).toUtf8(), end);
        break;
    }
    case EncodingBase64:
        mimeBytes
            = MimeEncoding::base64Bytes(content, formatter.getMaxLength(), headBytes, end, &ok);
        break;
    case EncodingQuotedPrintable:
        // Line breaks of a text are lines of the encoded text too; in any
        // other type they are data (RFC 2045, 6.7 rule 4).
        mimeBytes = MimeEncoding::quotedPrintableBytes(content, formatter.getMaxLength(),
            cType.startsWith(QLatin1String("text/"), Qt::CaseInsensitive)
                ? MimeEncoding::LineBreaks::Kept
                : MimeEncoding::LineBreaks::Escaped,
            headBytes, end, &ok);
        break;
    }
    if (!ok)
        qCWarning(yxaSmtp, "MimePart::prepare() - content of %d bytes is too long to encode",
            int(content.size()));
    prepared = true;
}
