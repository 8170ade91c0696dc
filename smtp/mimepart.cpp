#include "mimepart.h"

#include "mimeheader_p.h"
#include "quotedprintable.h"

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
    QString body;
    switch (cEncoding) {
    case Encoding7Bit:
        body = QString::fromLatin1(QString::fromUtf8(upToNul(content)).toLatin1());
        break;
    case Encoding8Bit:
        body = QString::fromUtf8(upToNul(content));
        break;
    case EncodingBase64:
        body = formatter.format(QString::fromLatin1(content.toBase64()), false);
        break;
    case EncodingQuotedPrintable:
        body = formatter.format(QuotedPrintable::encode(content), true);
        break;
    }

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
        head += QLatin1String("Content-ID: <") + MimeHeader::singleLine(cId) + QLatin1String(">\r\n");
    head += header;
    head += QLatin1String("\r\n");

    mimeString.clear();
    mimeString.reserve(head.size() + body.size() + 4);
    mimeString += head;
    mimeString += body;
    mimeString += QLatin1String("\r\n\r\n");
    prepared = true;
}
